#pragma once

#include <complex>
#include <cstddef>
#include <cstring>
#include <vector>

#include "fockspace/fs_array.h"

// djb2 over L bytes, or up to the first zero byte when L is negative.
struct NStrHash {
    int L;
    std::size_t operator()(unsigned char const* s) const {
        unsigned long long h = 5381;
        if (L < 0) {
            for (; *s; ++s) h = h * 33 + *s;
        } else {
            for (int i = 0; i < L; ++i) h = h * 33 + s[i];
        }
        return h;
    }
};

struct NStrCompare {
    int L;
    bool operator()(unsigned char const* a, unsigned char const* b) const {
        if (L < 0)
            return std::strcmp(reinterpret_cast<char const*>(a),
                               reinterpret_cast<char const*>(b)) == 0;
        return std::memcmp(a, b, static_cast<std::size_t>(L)) == 0;
    }
};

// Links every state of an (n-1)-photon array and every mode to the index, in the n-photon array
// of the same modes, of that state with one more photon in the mode. Indices are stored
// little-endian in the fewest bytes that hold the larger array's indices and the all-0xFF "no
// link" pattern. Both arrays must outlive the map.
class FsMap {
  public:
    static constexpr unsigned char version = 1;

    FsMap(FsArray const& larger, FsArray const& smaller, bool generate_now);

    int m() const { return m_; }
    int n() const { return n_; }
    int width() const { return width_; }
    // States of the smaller array.
    unsigned long long count() const { return rows_; }
    // Bytes of the table, whether generated or not.
    unsigned long long size() const;

    void generate() const;
    unsigned long long get(unsigned long long idx, int mode) const;

    // out[t] = sum over smaller states i and modes j linked to t of in[i] × U[k + j·m], with U
    // the m × m row-major unitary.
    void compute_slos_layer(std::complex<double> const* U, int m, unsigned int k,
                            std::complex<double>* out, unsigned long out_size,
                            std::complex<double> const* in, unsigned long in_size) const;

  private:
    unsigned long long read(std::size_t entry) const;

    int width_;
    unsigned long long rows_;
    int m_;
    int n_;
    mutable std::vector<unsigned char> table_;
    mutable bool generated_ = false;
    FsArray const* larger_;
    FsArray const* smaller_;
};
