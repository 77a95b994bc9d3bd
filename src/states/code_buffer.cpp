#include "states/code_buffer.h"

#include <stdexcept>

#include <fmt/format.h>

using Code = CodeBuffer_t<unsigned char, true>;

void Code::check_size(std::size_t size) {
    if (size > max_size)
        throw std::runtime_error(fmt::format("Fock state code is capped to {} photons", max_size));
}

Code::CodeBuffer_t(std::size_t size) {
    check_size(size);
    if (size <= inline_capacity) {
        word_ = static_cast<std::uint32_t>(size);
    } else {
        set_heap(new unsigned char[size]);
        word_ = static_cast<std::uint32_t>(size) | owned_flag;
    }
}

Code::CodeBuffer_t(const unsigned char* bytes, std::size_t size) : CodeBuffer_t(size) {
    if (size) std::memcpy(mutable_data(), bytes, size);
}

Code Code::borrow(const unsigned char* bytes, std::size_t size) {
    if (size <= inline_capacity) return Code(bytes, size);
    check_size(size);
    Code code;
    code.set_heap(const_cast<unsigned char*>(bytes));  // never written through: see mutable_data
    code.word_ = static_cast<std::uint32_t>(size);
    return code;
}

Code& Code::operator=(const CodeBuffer_t& other) {
    if (this != &other) *this = Code(other);
    return *this;
}

Code& Code::operator=(CodeBuffer_t&& other) noexcept {
    if (this != &other) {
        release();
        std::memcpy(storage_, other.storage_, sizeof storage_);
        word_ = other.word_;
        other.word_ = 0;
    }
    return *this;
}

void Code::own() {
    if (!is_borrowed()) return;
    *this = Code(heap(), size());
}
