#include "fockspace/fs_map.h"

#include <cstdint>
#include <stdexcept>

#include <fmt/format.h>

#include "fockspace/fock_state_ranks.h"
#include "runtime/interrupt_signal_handler.h"

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
    InterruptSignalHandler::Poll poll;
    for (unsigned long i = 0; i < in_size; ++i) {
        poll();
        const std::complex<double> amplitude = in[i];
        for (int j = 0; j < m; ++j, entry += W) {
            const unsigned long long t = read_le<W>(entry);
            if (t != no_link<W>) out[t] += amplitude * U[k + static_cast<std::size_t>(j) * m];
        }
    }
}

template <int W>
inline void write_le(unsigned char* p, unsigned long long v) {
    for (int b = 0; b < W; ++b) p[b] = static_cast<unsigned char>(v >> (8 * b));
}

// Writes the links of every smaller state row by row. Adding a photon in mode c moves a state of
// the unmasked layer forward by counts(j, above_j) for each mode 1 <= j <= c, above_j being its
// photons in modes j and above, so all m successors of a state cost one pass over the modes.
// A masked larger array maps these positions to its indices through larger_ranks, its states'
// positions in ascending order: for a fixed mode, adding the photon keeps the natural order, so
// each mode's cursor only moves forward and passes every larger state at most once.
template <int W, bool LargerMasked>
void fill_rows(unsigned char* table, FockStateRanks const& counts, std::size_t m,
               FsArray const& smaller, bool smaller_masked,
               std::vector<unsigned long long> const& larger_ranks) {
    const auto k = static_cast<std::size_t>(smaller.n());
    const unsigned long long rows = smaller.count();
    unsigned char const* codes = smaller.get_buffer(0);
    std::vector<std::size_t> cursor_storage(LargerMasked ? m : 0, 0);
    // Photons per mode, cleared as the walk over the modes passes them: walking the code instead
    // would branch unpredictably at every mode.
    std::vector<std::size_t> photon_storage(m, 0);
    // Plain pointers: the byte stores into the table could alias anything reached through a
    // member, which would then be reloaded for every entry.
    std::uint64_t const* const partial = counts.data() + 1;
    const std::size_t cols = counts.columns();
    unsigned long long const* const ranks = larger_ranks.data();
    const std::size_t ranks_size = larger_ranks.size();
    std::size_t* const cursors = cursor_storage.data();
    std::size_t* const photons = photon_storage.data();
    unsigned char* entry = table;
    InterruptSignalHandler::Poll poll;
    for (unsigned long long r = 0; r < rows; ++r) {
        poll();
        unsigned char const* code = codes + r * k;
        for (std::size_t p = 0; p < k; ++p) ++photons[code[p]];
        unsigned long long position =
            smaller_masked ? counts.rank(photons, static_cast<int>(k)) : r;
        std::size_t above = k;
        for (std::size_t c = 0; c < m; ++c, entry += W) {
            if (c > 0) {
                above -= photons[c - 1];
                photons[c - 1] = 0;
                position += partial[c * cols + above];
            }
            if constexpr (LargerMasked) {
                std::size_t q = cursors[c];
                while (q < ranks_size && ranks[q] < position) ++q;
                cursors[c] = q;
                if (q < ranks_size && ranks[q] == position) write_le<W>(entry, q);
            } else {
                write_le<W>(entry, position);
            }
        }
        photons[m - 1] = 0;
    }
}

template <int W>
void link_rows(unsigned char* table, FockStateRanks const& counts, std::size_t m,
               FsArray const& smaller, bool smaller_masked,
               std::vector<unsigned long long> const& larger_ranks) {
    if (larger_ranks.empty())
        fill_rows<W, false>(table, counts, m, smaller, smaller_masked, larger_ranks);
    else
        fill_rows<W, true>(table, counts, m, smaller, smaller_masked, larger_ranks);
}

}  // namespace

FsMap::FsMap(FsArray const& larger, FsArray const& smaller, bool generate_now)
    : width_(link_width(larger.count())),
      rows_(smaller.count()),
      m_(larger.m()),
      n_(smaller.n()),
      larger_(&larger),
      smaller_(&smaller) {
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
    return static_cast<unsigned long long>(width_) * rows_ * static_cast<unsigned long long>(m_);
}

void FsMap::generate() const {
    if (generated_) return;
    larger_->generate();
    smaller_->generate();
    std::vector<unsigned char> table(size(), 0xFF);

    const unsigned long long larger_count = larger_->count();
    if (rows_ > 0 && larger_count > 0) {
        // States are ranked in their unmasked layer; an array holding every state of its layer
        // indexes them by that rank, a masked one holds an ascending subset.
        const auto m = static_cast<std::size_t>(m_);
        const auto larger_n = static_cast<std::size_t>(n_) + 1;
        const FockStateRanks counts(m_, n_ + 1);
        const bool smaller_masked = rows_ != counts.count(0, static_cast<int>(larger_n) - 1);
        std::vector<unsigned long long> larger_ranks;
        if (larger_count != counts.count(0, static_cast<int>(larger_n))) {
            larger_ranks.resize(larger_count);
            std::vector<std::size_t> photons(m, 0);
            unsigned char const* codes = larger_->get_buffer(0);
            InterruptSignalHandler::Poll poll;
            for (unsigned long long i = 0; i < larger_count; ++i) {
                poll();
                unsigned char const* code = codes + i * larger_n;
                for (std::size_t p = 0; p < larger_n; ++p) ++photons[code[p]];
                larger_ranks[i] = counts.rank(photons.data(), static_cast<int>(larger_n));
                for (std::size_t p = 0; p < larger_n; ++p) photons[code[p]] = 0;
            }
        }
        unsigned char* out = table.data();
        switch (width_) {
            case 1:
                link_rows<1>(out, counts, m, *smaller_, smaller_masked, larger_ranks);
                break;
            case 2:
                link_rows<2>(out, counts, m, *smaller_, smaller_masked, larger_ranks);
                break;
            case 3:
                link_rows<3>(out, counts, m, *smaller_, smaller_masked, larger_ranks);
                break;
            case 4:
                link_rows<4>(out, counts, m, *smaller_, smaller_masked, larger_ranks);
                break;
            case 5:
                link_rows<5>(out, counts, m, *smaller_, smaller_masked, larger_ranks);
                break;
            case 6:
                link_rows<6>(out, counts, m, *smaller_, smaller_masked, larger_ranks);
                break;
            case 7:
                link_rows<7>(out, counts, m, *smaller_, smaller_masked, larger_ranks);
                break;
            default:
                link_rows<8>(out, counts, m, *smaller_, smaller_masked, larger_ranks);
                break;
        }
    }
    table_ = std::move(table);
    generated_ = true;
}

unsigned long long FsMap::read(std::size_t entry) const {
    unsigned char const* p = table_.data() + entry * static_cast<std::size_t>(width_);
    switch (width_) {
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
    if (mode < 0 || mode >= m_) throw std::out_of_range("mode id too large");
    if (idx >= rows_) throw std::out_of_range("idx too large");
    generate();
    return read(idx * static_cast<std::size_t>(m_) + static_cast<std::size_t>(mode));
}

void FsMap::compute_slos_layer(std::complex<double> const* U, int m, unsigned int k,
                               std::complex<double>* out, unsigned long out_size,
                               std::complex<double> const* in, unsigned long in_size) const {
    // Links index into out and rows into the table: sizes that do not fit would reach past them.
    if (m != m_)
        throw std::invalid_argument(
            fmt::format("compute_slos_layer: m={} differs from the map's m={}", m, m_));
    if (k >= static_cast<unsigned int>(m_))
        throw std::invalid_argument(
            fmt::format("compute_slos_layer: k={} is not one of {} modes", k, m_));
    if (out_size < larger_->count())
        throw std::invalid_argument(
            fmt::format("compute_slos_layer: out holds {} amplitudes for {} states", out_size,
                        larger_->count()));
    if (in_size > rows_)
        throw std::invalid_argument(fmt::format(
            "compute_slos_layer: in holds {} amplitudes for {} states", in_size, rows_));
    generate();
    for (unsigned long t = 0; t < out_size; ++t) out[t] = 0;
    switch (width_) {
        case 1:
            slos_layer<1>(table_.data(), U, m, k, out, in, in_size);
            break;
        case 2:
            slos_layer<2>(table_.data(), U, m, k, out, in, in_size);
            break;
        case 3:
            slos_layer<3>(table_.data(), U, m, k, out, in, in_size);
            break;
        case 4:
            slos_layer<4>(table_.data(), U, m, k, out, in, in_size);
            break;
        case 5:
            slos_layer<5>(table_.data(), U, m, k, out, in, in_size);
            break;
        case 6:
            slos_layer<6>(table_.data(), U, m, k, out, in, in_size);
            break;
        case 7:
            slos_layer<7>(table_.data(), U, m, k, out, in, in_size);
            break;
        default:
            slos_layer<8>(table_.data(), U, m, k, out, in, in_size);
            break;
    }
}
