#include "fockspace/fs_array.h"

#include <cmath>
#include <cstring>
#include <stdexcept>

#include <fmt/format.h>

#include "runtime/interrupt_signal_handler.h"

FsArray::FsArray(int m, int n, std::optional<FsMask> const& mask)
    : _m(m), _n(n), _count(0), _mask(mask) {
    _count = _count_fs();
}

// The count of an array never changes, so a copy need not walk a masked space again.
FsArray::FsArray(FsArray const& other)
    : _m(other._m), _n(other._n), _count(other._count), _mask(other._mask) {}

unsigned long long FsArray::_count_fs() const {
    // C(m+n-1, n); the running value stays a binomial coefficient, so the division is exact.
    // A masked space is bounded by it too: checking it first keeps the walk below finite.
    unsigned long long b = 1;
    if (_n > 0 && _m <= 0) b = 0;
    // One or two modes hold 1 and n + 1 states, which cannot overflow; the loop would take n
    // steps to find them, seconds for the largest n.
    const bool one_or_two_modes = _n > 0 && (_m == 1 || _m == 2);
    if (one_or_two_modes) b = _m == 1 ? 1 : static_cast<unsigned long long>(_n) + 1;
    for (long long i = 1; !one_or_two_modes && b > 0 && i <= _n; ++i) {
        unsigned long long product;
        if (__builtin_mul_overflow(b, static_cast<unsigned long long>(i + _m - 1), &product))
            throw std::runtime_error(fmt::format("FsArray overflow with m={} n={}", _m, _n));
        b = product / static_cast<unsigned long long>(i);
    }
    if (!_mask || b == 0) return b;

    unsigned long long count = 0;
    FockState state(_m, _n);
    InterruptSignalHandler::Poll poll;
    do {
        poll();
        if (_mask->match(state, true)) ++count;
    } while (state.increment());
    return count;
}

unsigned long long FsArray::size() const {
    if (_n <= 0) return 0;
    unsigned long long bytes;
    if (__builtin_mul_overflow(_count, static_cast<unsigned long long>(_n), &bytes))
        throw std::runtime_error(fmt::format("FsArray overflow with m={} n={}", _m, _n));
    return bytes;
}

void FsArray::generate() const {
    if (_generated) return;
    std::vector<unsigned char> buffer(size());
    if (_count > 0) {
        // Built even for n = 0 so that a state the array could not hand out fails here.
        FockState state(_m, _n);
        if (_n > 0) {
            const auto n = static_cast<std::size_t>(_n);
            unsigned char* out = buffer.data();
            unsigned long long written = 0;
            InterruptSignalHandler::Poll poll;
            do {
                poll();
                if (!_mask || _mask->match(state, true)) {
                    std::memcpy(out, state.data(), n);
                    out += n;
                    ++written;
                }
            } while (written < _count && state.increment());
        }
    }
    _buffer = std::move(buffer);
    _generated = true;
}

unsigned long long FsArray::find_idx(FockState const& fs) const {
    generate();
    if (fs.m() != _m) throw std::invalid_argument("incorrect fock state");
    if (fs.n() != _n) return fs_npos;
    if (_count == 0) return fs_npos;
    if (_n == 0) return 0;
    const auto n = static_cast<std::size_t>(_n);
    unsigned char const* code = fs.data();
    unsigned long long lo = 0;
    unsigned long long hi = _count;
    while (lo < hi) {
        const unsigned long long mid = lo + (hi - lo) / 2;
        const int cmp = std::memcmp(code, _buffer.data() + mid * n, n);
        if (cmp == 0) return mid;
        if (cmp < 0)
            hi = mid;
        else
            lo = mid + 1;
    }
    return fs_npos;
}

FockState FsArray::state_at(unsigned long long index) const {
    const auto n = static_cast<std::size_t>(_n);
    if (n == 0) return FockState(_m);
    return FockState(_m, FockState::code_t(_buffer.data() + index * n, n));
}

FockState FsArray::operator[](unsigned long long index) const {
    if (index >= _count) throw std::out_of_range("index too large");
    generate();
    return state_at(index);
}

unsigned char const* FsArray::get_buffer(unsigned long long index) const {
    if (index >= _count) throw std::out_of_range("index too large");
    generate();
    return _buffer.data() + index * static_cast<std::size_t>(_n);
}

FsArray::const_iterator FsArray::find(FockState const& fs) const {
    const unsigned long long index = find_idx(fs);
    return const_iterator(this, index == fs_npos ? _count : index);
}

unsigned long long FsArray::norm_coefs(std::complex<double>* c) const {
    generate();
    const auto n = static_cast<std::size_t>(_n > 0 ? _n : 0);
    for (unsigned long long i = 0; i < _count; ++i) {
        unsigned char const* code = _buffer.data() + i * n;
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
    return _count;
}

FsArray::const_iterator::const_iterator(FsArray const* array, bool begin)
    : const_iterator(array, begin ? 0ULL : array->_count) {}

FsArray::const_iterator::const_iterator(FsArray const* array, unsigned long long index)
    : _array(array), _index(index) {
    if (array->_generated || index >= array->_count) return;
    _current.emplace(array->_m, array->_n);
    _find_next();
    InterruptSignalHandler::Poll poll;
    for (unsigned long long k = 0; k < index; ++k) {
        poll();
        _current->increment();
        _find_next();
    }
}

void FsArray::const_iterator::_find_next() {
    if (!_array->_mask) return;
    // Matches can lie far apart: the walk between two of them may be long.
    InterruptSignalHandler::Poll poll;
    while (!_array->_mask->match(*_current, true) && _current->increment()) poll();
}

FsArray::const_iterator& FsArray::const_iterator::operator++() {
    if (_index >= _array->_count) return *this;
    ++_index;
    if (_current && _index < _array->_count) {
        _current->increment();
        _find_next();
    }
    return *this;
}

FockState FsArray::const_iterator::operator*() const {
    if (_index >= _array->_count) throw std::out_of_range("index too large");
    if (_current) return *_current;
    return _array->state_at(_index);
}
