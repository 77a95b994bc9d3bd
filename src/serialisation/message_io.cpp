#include "serialisation/message_io.h"

#include <stdexcept>

#include <fmt/format.h>
#include <google/protobuf/message.h>

namespace Serial::details {

void parse_whole(std::istream& stream, google::protobuf::Message& message) {
    if (!message.ParseFromIstream(&stream))
        throw std::runtime_error("Could not parse serialized content");
}

std::ifstream open_for_reading(std::filesystem::path const& path) {
    const auto status = std::filesystem::status(path);
    if (!std::filesystem::exists(status) || !std::filesystem::is_regular_file(status))
        throw std::runtime_error(fmt::format("File not found: {}", path.string()));
    std::ifstream file(path, std::ios::in | std::ios::binary);
    if (!file.is_open())
        throw std::runtime_error(fmt::format("Could not open file: {}", path.string()));
    return file;
}

void write_file(std::filesystem::path const& path,
                std::function<void(std::ostream&)> const& write) {
    std::ofstream file(path, std::ios::out | std::ios::binary);
    if (file.is_open()) {
        write(file);
        // A full disk shows only once the buffer reaches the file.
        file.close();
        if (!file.fail()) return;
    }
    throw std::runtime_error(fmt::format("Could not serialize circuit to file: {}", path.string()));
}

}  // namespace Serial::details
