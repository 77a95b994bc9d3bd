#pragma once

#include <cstddef>
#include <string>

#include <fmt/format.h>

// Byte strings written as hexadecimal pairs separated by blanks, "0A 01 63".
namespace wire_bytes {

inline std::string from_hex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

inline std::string to_hex(const std::string& bytes) {
    std::string hex;
    for (const char c : bytes) {
        if (!hex.empty()) hex += ' ';
        hex += fmt::format("{:02X}", static_cast<unsigned char>(c));
    }
    return hex;
}

}  // namespace wire_bytes
