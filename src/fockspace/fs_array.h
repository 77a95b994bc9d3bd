#pragma once

#include <complex>
#include <cstddef>
#include <iterator>
#include <optional>
#include <vector>

#include "fockspace/fs_mask.h"
#include "states/fock_state.h"

// Index meaning "no such state".
inline constexpr unsigned long long fs_npos = 0xFFFFFFFFFFFFFFFFULL;

// The states of m modes and exactly n photons in natural order (ascending codes), optionally
// restricted to those a mask accepts. Counted at construction; the flat code buffer (n bytes per
// state) is built on the first index-based use. The walks over the space (counting a masked
// array, generating, seeking a masked iterator) poll the interrupt flag
// (InterruptSignalHandler::Poll).
class FsArray {
  public:
    class const_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = FockState;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = FockState;

        const_iterator(FsArray const* array, bool begin);
        const_iterator(FsArray const* array, unsigned long long index);

        const_iterator& operator++();
        FockState operator*() const;
        bool operator==(const_iterator const& other) const {
            return array_ == other.array_ && index_ == other.index_;
        }
        bool operator!=(const_iterator const& other) const { return !(*this == other); }

      private:
        void _find_next();

        FsArray const* array_;
        // Present only while enumerating an array that was not generated yet.
        std::optional<FockState> current_;
        unsigned long long index_;
    };

    FsArray(int m, int n, std::optional<FsMask> const& mask = std::nullopt);
    FsArray(FsArray const& other);
    FsArray& operator=(FsArray const&) = delete;

    int m() const { return m_; }
    int n() const { return n_; }
    unsigned long long count() const { return count_; }
    // Bytes of the generated buffer, count × n.
    unsigned long long size() const;

    void generate() const;
    unsigned long long find_idx(FockState const& fs) const;
    // Every state handed out owns its code, so it outlives the array.
    FockState operator[](unsigned long long index) const;
    unsigned char const* get_buffer(unsigned long long index) const;

    const_iterator find(FockState const& fs) const;
    const_iterator begin() const { return const_iterator(this, true); }
    const_iterator end() const { return const_iterator(this, false); }

    // Multiplies c[i] by sqrt(product of the factorials of state i's mode counts); c holds at
    // least count() entries. Returns count().
    unsigned long long norm_coefs(std::complex<double>* c) const;

  private:
    unsigned long long _count_fs() const;
    FockState state_at(unsigned long long index) const;

    mutable std::vector<unsigned char> buffer_;
    mutable bool generated_ = false;
    int m_;
    int n_;
    unsigned long long count_;
    std::optional<FsMask> mask_;
};
