#include "states/code_buffer.h"

#include <stdexcept>

#include <fmt/format.h>

using Code = CodeBuffer_t<unsigned char, true>;

void Code::check_size(std::size_t size) {
    if (size > max_size)
        throw std::runtime_error(fmt::format("Fock state code is capped to {} photons", max_size));
}

void Code::allocate(std::size_t size) {
    check_size(size);
    set_heap(new unsigned char[size]);
    word_ = static_cast<std::uint32_t>(size) | owned_flag;
}

Code Code::borrow(const unsigned char* bytes, std::size_t size) {
    if (size <= inline_capacity) return Code(bytes, size);
    check_size(size);
    Code code;
    code.set_heap(const_cast<unsigned char*>(bytes));  // never written through: see mutable_data
    code.word_ = static_cast<std::uint32_t>(size);
    return code;
}

void Code::own() {
    if (!is_borrowed()) return;
    *this = Code(heap(), size());
}
