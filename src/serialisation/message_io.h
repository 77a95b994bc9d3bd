#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <istream>
#include <ostream>

namespace google::protobuf {
class Message;
}

// The stream and file steps that every converter shares, with their refusals.
namespace Serial::details {

// The whole rest of the stream as one message; std::runtime_error "Could not parse serialized
// content" otherwise.
void parse_whole(std::istream& stream, google::protobuf::Message& message);

// An existing regular file opened for binary reading; std::runtime_error "File not found: " or
// "Could not open file: " followed by the path otherwise.
std::ifstream open_for_reading(std::filesystem::path const& path);

// Creates or truncates the file and lets `write` fill it; std::runtime_error "Could not
// serialize circuit to file: " followed by the path when the file cannot be opened or the bytes
// do not all reach it.
void write_file(std::filesystem::path const& path, std::function<void(std::ostream&)> const& write);

}  // namespace Serial::details
