#include "fockspace/fs_map.h"

#include <stdexcept>
#include <unordered_map>

#include <fmt/format.h>

namespace {

// Least w >= 1 with count + 1 < 256^w: valid indices never collide with the all-0xFF pattern.
int link_width(unsigned long long count) {
    int w = 1;
    while (w < 8 && count >= (1ULL << (8 * w)) - 1) ++w;
    return w;
}

template <int W>
inline unsigned long long read_le(unsigned char const* p) {
    unsigned long long v = 0;
    for (int b = 0; b < W; ++b) v |= static_cast<unsigned long long>(p[b]) << (8 * b);
    return v;
}

template <int W>
constexpr unsigned long long no_link = W == 8 ? ~0ULL : (1ULL << (8 * W)) - 1;

template <int W>
void slos_layer(unsigned char const* table, std::complex<double> const* U, int m, unsigned int k,
                std::complex<double>* out, std::complex<double> const* in, unsigned long in_size) {
    unsigned char const* entry = table;
    for (unsigned long i = 0; i < in_size; ++i) {
        const std::complex<double> amplitude = in[i];
        for (int j = 0; j < m; ++j, entry += W) {
            const unsigned long long t = read_le<W>(entry);
            if (t != no_link<W>) out[t] += amplitude * U[k + static_cast<std::size_t>(j) * m];
        }
    }
}

}  // namespace

FsMap::FsMap(FsArray const& larger, FsArray const& smaller, bool generate_now)
    : _width(link_width(larger.count())),
      _rows(smaller.count()),
      _m(larger.m()),
      _n(smaller.n()),
      _larger(&larger),
      _smaller(&smaller) {
    if (larger.m() < 0 || larger.m() != smaller.m() || smaller.n() < 0 ||
        smaller.n() != larger.n() - 1)
        throw std::invalid_argument(
            fmt::format("FsMap: cannot link an array of m={} n={} to one of m={} n={}: the arrays "
                        "need the same "
                        "modes and one photon less in the second",
                        larger.m(), larger.n(), smaller.m(), smaller.n()));
    if (generate_now) generate();
}

unsigned long long FsMap::size() const {
    return static_cast<unsigned long long>(_width) * _rows * static_cast<unsigned long long>(_m);
}

void FsMap::generate() const {
    if (_generated) return;
    _larger->generate();
    _smaller->generate();
    std::vector<unsigned char> table(size(), 0xFF);

    const auto width = static_cast<std::size_t>(_width);
    const auto m = static_cast<std::size_t>(_m);
    auto write = [&](unsigned long long row, unsigned char mode, unsigned long long index) {
        unsigned char* p = table.data() + (row * m + mode) * width;
        for (std::size_t b = 0; b < width; ++b) p[b] = static_cast<unsigned char>(index >> (8 * b));
    };

    const unsigned long long larger_count = _larger->count();
    if (_rows > 0 && larger_count > 0) {
        const auto n = static_cast<std::size_t>(_n);
        const std::size_t larger_n = n + 1;
        unsigned char const* larger_codes = _larger->get_buffer(0);
        if (n == 0) {
            // One-photon states all descend from the vacuum, row 0.
            for (unsigned long long i = 0; i < larger_count; ++i) write(0, larger_codes[i], i);
        } else {
            std::unordered_map<unsigned char const*, unsigned long long, NStrHash, NStrCompare>
                rows(0, NStrHash{_n}, NStrCompare{_n});
            rows.max_load_factor(1.0);
            rows.reserve(2 * _rows);
            unsigned char const* smaller_codes = _smaller->get_buffer(0);
            for (unsigned long long r = 0; r < _rows; ++r) rows.emplace(smaller_codes + r * n, r);

            std::vector<unsigned char> key(n);
            for (unsigned long long i = 0; i < larger_count; ++i) {
                unsigned char const* code = larger_codes + i * larger_n;
                for (std::size_t j = 0; j < larger_n; ++j) {
                    // Removing any photon of a run gives the same key: take the run's last.
                    if (j + 1 < larger_n && code[j + 1] == code[j]) continue;
                    std::memcpy(key.data(), code, j);
                    std::memcpy(key.data() + j, code + j + 1, larger_n - j - 1);
                    const auto found = rows.find(key.data());
                    if (found != rows.end()) write(found->second, code[j], i);
                }
            }
        }
    }
    _table = std::move(table);
    _generated = true;
}

unsigned long long FsMap::read(std::size_t entry) const {
    unsigned char const* p = _table.data() + entry * static_cast<std::size_t>(_width);
    switch (_width) {
        case 1:
            return read_le<1>(p) == no_link<1> ? fs_npos : read_le<1>(p);
        case 2:
            return read_le<2>(p) == no_link<2> ? fs_npos : read_le<2>(p);
        case 3:
            return read_le<3>(p) == no_link<3> ? fs_npos : read_le<3>(p);
        case 4:
            return read_le<4>(p) == no_link<4> ? fs_npos : read_le<4>(p);
        case 5:
            return read_le<5>(p) == no_link<5> ? fs_npos : read_le<5>(p);
        case 6:
            return read_le<6>(p) == no_link<6> ? fs_npos : read_le<6>(p);
        case 7:
            return read_le<7>(p) == no_link<7> ? fs_npos : read_le<7>(p);
        default:
            return read_le<8>(p);
    }
}

unsigned long long FsMap::get(unsigned long long idx, int mode) const {
    if (mode < 0 || mode >= _m) throw std::out_of_range("mode id too large");
    if (idx >= _rows) throw std::out_of_range("idx too large");
    generate();
    return read(idx * static_cast<std::size_t>(_m) + static_cast<std::size_t>(mode));
}

void FsMap::compute_slos_layer(std::complex<double> const* U, int m, unsigned int k,
                               std::complex<double>* out, unsigned long out_size,
                               std::complex<double> const* in, unsigned long in_size) const {
    // Links index into out and rows into the table: sizes that do not fit would reach past them.
    if (m != _m)
        throw std::invalid_argument(
            fmt::format("compute_slos_layer: m={} differs from the map's m={}", m, _m));
    if (k >= static_cast<unsigned int>(_m))
        throw std::invalid_argument(
            fmt::format("compute_slos_layer: k={} is not one of {} modes", k, _m));
    if (out_size < _larger->count())
        throw std::invalid_argument(
            fmt::format("compute_slos_layer: out holds {} amplitudes for {} states", out_size,
                        _larger->count()));
    if (in_size > _rows)
        throw std::invalid_argument(fmt::format(
            "compute_slos_layer: in holds {} amplitudes for {} states", in_size, _rows));
    generate();
    for (unsigned long t = 0; t < out_size; ++t) out[t] = 0;
    switch (_width) {
        case 1:
            slos_layer<1>(_table.data(), U, m, k, out, in, in_size);
            break;
        case 2:
            slos_layer<2>(_table.data(), U, m, k, out, in, in_size);
            break;
        case 3:
            slos_layer<3>(_table.data(), U, m, k, out, in, in_size);
            break;
        case 4:
            slos_layer<4>(_table.data(), U, m, k, out, in, in_size);
            break;
        case 5:
            slos_layer<5>(_table.data(), U, m, k, out, in, in_size);
            break;
        case 6:
            slos_layer<6>(_table.data(), U, m, k, out, in, in_size);
            break;
        case 7:
            slos_layer<7>(_table.data(), U, m, k, out, in, in_size);
            break;
        default:
            slos_layer<8>(_table.data(), U, m, k, out, in, in_size);
            break;
    }
}
