#include "fockspace/fs_array.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "runtime/interrupt_signal_handler.h"

FsArray::FsArray(int m, int n, std::optional<FsMask> const& mask)
    : m_(m), n_(n), count_(0), mask_(mask) {
    count_ = _count_fs();
}

// The count of an array never changes, so a copy need not walk a masked space again.
FsArray::FsArray(FsArray const& other)
    : m_(other.m_), n_(other.n_), count_(other.count_), mask_(other.mask_) {}

unsigned long long FsArray::_count_fs() const {
    // C(m+n-1, n); the running value stays a binomial coefficient, so the division is exact.
    // A masked space is bounded by it too: checking it first keeps the walk below finite.
    unsigned long long b = 1;
    if (n_ > 0 && m_ <= 0) b = 0;
    // One or two modes hold 1 and n + 1 states, which cannot overflow; the loop would take n
    // steps to find them, seconds for the largest n.
    const bool one_or_two_modes = n_ > 0 && (m_ == 1 || m_ == 2);
    if (one_or_two_modes) b = m_ == 1 ? 1 : static_cast<unsigned long long>(n_) + 1;
    for (long long i = 1; !one_or_two_modes && b > 0 && i <= n_; ++i) {
        unsigned long long product;
        if (__builtin_mul_overflow(b, static_cast<unsigned long long>(i + m_ - 1), &product))
            throw std::runtime_error(fmt::format("FsArray overflow with m={} n={}", m_, n_));
        b = product / static_cast<unsigned long long>(i);
    }
    if (!mask_ || b == 0) return b;

    unsigned long long count = 0;
    FockState state(m_, n_);
    InterruptSignalHandler::Poll poll;
    do {
        poll();
        if (mask_->match(state, true)) ++count;
    } while (state.increment());
    return count;
}

unsigned long long FsArray::size() const {
    if (n_ <= 0) return 0;
    unsigned long long bytes;
    if (__builtin_mul_overflow(count_, static_cast<unsigned long long>(n_), &bytes))
        throw std::runtime_error(fmt::format("FsArray overflow with m={} n={}", m_, n_));
    return bytes;
}

void FsArray::generate() const {
    if (generated_) return;
    std::vector<unsigned char> buffer(size());
    if (count_ > 0) {
        // Built even for n = 0 so that a state the array could not hand out fails here.
        FockState state(m_, n_);
        if (n_ > 0) {
            const auto n = static_cast<std::size_t>(n_);
            unsigned char* out = buffer.data();
            unsigned long long written = 0;
            InterruptSignalHandler::Poll poll;
            do {
                poll();
                if (!mask_ || mask_->match(state, true)) {
                    std::memcpy(out, state.data(), n);
                    out += n;
                    ++written;
                }
            } while (written < count_ && state.increment());
        }
    }
    buffer_ = std::move(buffer);
    generated_ = true;
}

unsigned long long FsArray::find_idx(FockState const& fs) const {
    generate();
    if (fs.m() != m_) throw std::invalid_argument("incorrect fock state");
    if (fs.n() != n_) return fs_npos;
    if (count_ == 0) return fs_npos;
    if (n_ == 0) return 0;
    const auto n = static_cast<std::size_t>(n_);
    unsigned char const* code = fs.data();
    unsigned long long lo = 0;
    unsigned long long hi = count_;
    while (lo < hi) {
        const unsigned long long mid = lo + (hi - lo) / 2;
        const int cmp = std::memcmp(code, buffer_.data() + mid * n, n);
        if (cmp == 0) return mid;
        if (cmp < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return fs_npos;
}

FockState FsArray::state_at(unsigned long long index) const {
    const auto n = static_cast<std::size_t>(n_);
    if (n == 0) return FockState(m_);
    return FockState(m_, FockState::code_t(buffer_.data() + index * n, n));
}

FockState FsArray::operator[](unsigned long long index) const {
    if (index >= count_) throw std::out_of_range("index too large");
    generate();
    return state_at(index);
}

unsigned char const* FsArray::get_buffer(unsigned long long index) const {
    if (index >= count_) throw std::out_of_range("index too large");
    generate();
    return buffer_.data() + index * static_cast<std::size_t>(n_);
}

FsArray::const_iterator FsArray::find(FockState const& fs) const {
    const unsigned long long index = find_idx(fs);
    return const_iterator(this, index == fs_npos ? count_ : index);
}

unsigned long long FsArray::norm_coefs(std::complex<double>* c) const {
    generate();
    const auto n = static_cast<std::size_t>(n_ > 0 ? n_ : 0);
    // Polled between blocks: a poll in this short loop costs a repeated query a third of its time.
    // One index runs through both loops, so that the inner one keeps its values in registers.
    constexpr unsigned long long block = 4096;
    InterruptSignalHandler::Poll poll(1);
    for (unsigned long long i = 0; i < count_;) {
        poll();
        for (const unsigned long long last = std::min(count_, i + block); i < last; ++i) {
            unsigned char const* code = buffer_.data() + i * n;
            double f = 1;
            std::size_t run = 1;
            for (std::size_t j = 1; j < n; ++j) {
                if (code[j] == code[j - 1])
                    f *= static_cast<double>(++run);
                else
                    run = 1;
            }
            const double s = std::sqrt(f);
            c[i] = {c[i].real() * s, c[i].imag() * s};
        }
    }
    return count_;
}

FsArray::const_iterator::const_iterator(FsArray const* array, bool begin)
    : const_iterator(array, begin ? 0ULL : array->count_) {}

FsArray::const_iterator::const_iterator(FsArray const* array, unsigned long long index)
    : array_(array), index_(index) {
    if (array->generated_ || index >= array->count_) return;
    current_.emplace(array->m_, array->n_);
    _find_next();
    InterruptSignalHandler::Poll poll;
    for (unsigned long long k = 0; k < index; ++k) {
        poll();
        current_->increment();
        _find_next();
    }
}

void FsArray::const_iterator::_find_next() {
    if (!array_->mask_) return;
    // Matches can lie far apart: the walk between two of them may be long.
    InterruptSignalHandler::Poll poll;
    while (!array_->mask_->match(*current_, true) && current_->increment()) poll();
}

FsArray::const_iterator& FsArray::const_iterator::operator++() {
    if (index_ >= array_->count_) return *this;
    ++index_;
    if (current_ && index_ < array_->count_) {
        current_->increment();
        _find_next();
    }
    return *this;
}

FockState FsArray::const_iterator::operator*() const {
    if (index_ >= array_->count_) throw std::out_of_range("index too large");
    if (current_) return *current_;
    return array_->state_at(index_);
}
