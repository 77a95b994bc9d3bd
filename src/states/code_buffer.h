#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

template <typename T, bool SmallBuffer>
class CodeBuffer_t;

// The photon code of a state: one byte per photon. Up to 8 bytes live inline; beyond, the buffer
// either owns a heap array (owned_flag set) or borrows bytes another object owns (flag clear).
// The pointer is kept in the inline bytes and read with memcpy, so the buffer is 12 bytes aligned
// on 4 and a FockState (code and mode count) fits in 16 bytes.
template <>
class CodeBuffer_t<unsigned char, true> {
  public:
    static constexpr std::uint32_t inline_capacity = 8;
    static constexpr std::uint32_t max_size = 0x1FFF;
    static constexpr std::uint32_t owned_flag = 0x2000;

    CodeBuffer_t() noexcept = default;

    // Heap bytes a code of `size` bytes takes besides the buffer, the allocator's chunk header
    // and 32-byte minimum included: for estimates of what a batch of states will need.
    static constexpr std::size_t heap_bytes(std::size_t size) {
        if (size <= inline_capacity) return 0;
        const std::size_t chunk = (size + 8 + 15) / 16 * 16;
        return chunk < 32 ? 32 : chunk;
    }

    // `size` bytes, left for the caller to fill; more than max_size throws std::runtime_error.
    explicit CodeBuffer_t(std::size_t size) {
        if (size <= inline_capacity)
            word_ = static_cast<std::uint32_t>(size);
        else
            allocate(size);
    }

    // A buffer owning a copy of `size` bytes.
    CodeBuffer_t(const unsigned char* bytes, std::size_t size) : CodeBuffer_t(size) {
        if (size) std::memcpy(is_inline() ? storage_ : heap(), bytes, size);
    }

    // A view of bytes owned elsewhere, which must outlive the buffer and every state built on it.
    // Codes that fit inline are copied instead.
    static CodeBuffer_t borrow(const unsigned char* bytes, std::size_t size);

    CodeBuffer_t(const CodeBuffer_t& other) {
        if (other.is_inline()) {
            std::memcpy(storage_, other.storage_, sizeof storage_);
            word_ = other.word_;
        } else {
            allocate(other.size());
            std::memcpy(heap(), other.heap(), other.size());
        }
    }
    CodeBuffer_t(CodeBuffer_t&& other) noexcept : word_(other.word_) {
        std::memcpy(storage_, other.storage_, sizeof storage_);
        other.word_ = 0;
    }
    CodeBuffer_t& operator=(const CodeBuffer_t& other) {
        if (other.is_inline() && !is_owned()) {
            std::memcpy(storage_, other.storage_, sizeof storage_);
            word_ = other.word_;
        } else if (this != &other) {
            *this = CodeBuffer_t(other);
        }
        return *this;
    }
    CodeBuffer_t& operator=(CodeBuffer_t&& other) noexcept {
        if (this != &other) {
            release();
            std::memcpy(storage_, other.storage_, sizeof storage_);
            word_ = other.word_;
            other.word_ = 0;
        }
        return *this;
    }
    ~CodeBuffer_t() { release(); }

    std::size_t size() const { return word_ & max_size; }
    std::uint32_t word() const { return word_; }
    bool is_inline() const { return word_ <= inline_capacity; }
    bool is_owned() const { return (word_ & owned_flag) != 0; }
    bool is_borrowed() const { return !is_inline() && !is_owned(); }

    const unsigned char* data() const { return is_inline() ? storage_ : heap(); }
    // Writable bytes; a borrowed code is copied into an owned array first.
    unsigned char* mutable_data() {
        if (is_borrowed()) own();
        return is_inline() ? storage_ : heap();
    }
    const unsigned char* begin() const { return data(); }
    const unsigned char* end() const { return data() + size(); }
    unsigned char operator[](std::size_t i) const { return data()[i]; }

    // Detaches a borrowed code by copying its bytes into an owned array.
    void own();

    // Throws the error of a code longer than max_size when `size` exceeds it.
    static void check_size(std::size_t size);

  private:
    unsigned char* heap() const {
        unsigned char* p;
        std::memcpy(&p, storage_, sizeof p);
        return p;
    }
    void set_heap(unsigned char* p) { std::memcpy(storage_, &p, sizeof p); }
    // An owned array of `size` (> inline_capacity) bytes.
    void allocate(std::size_t size);
    void release() noexcept {
        if (is_owned()) {
            delete[] heap();
            word_ &= ~owned_flag;
        }
    }

    unsigned char storage_[8] = {};
    std::uint32_t word_ = 0;
};

static_assert(sizeof(CodeBuffer_t<unsigned char, true>) == 12);
