#include "fockspace/fs_mask.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include <fmt/format.h>

#include "states/fock_state.h"

namespace {

constexpr unsigned char first_count_byte = 0x30;
constexpr unsigned char last_count_byte = 0x4F;

inline bool is_count(unsigned char c) {
    return c >= first_count_byte && c <= last_count_byte;
}

inline unsigned char const* bytes(std::string const& s) {
    return reinterpret_cast<unsigned char const*>(s.data());
}

}  // namespace

FsMask::FsMask(int m, int n, std::list<std::string> conditions)
    : m_(m), n_(n), conditions_(std::move(conditions)) {
    if (conditions_.empty()) throw std::invalid_argument("FsMask: empty condition list");
    for (auto const& condition : conditions_)
        if (m < 0 || condition.size() != static_cast<std::size_t>(m))
            throw std::invalid_argument("Inconsistent condition length");
}

FsMask::FsMask(int m, int n, std::list<std::string> conditions,
               std::vector<int> const& unbounded_modes)
    : FsMask(m, n, std::move(conditions)) {
    parse_limits(unbounded_modes);
}

FsMask::FsMask(int m, int n, std::string const& condition) : m_(m), n_(n) {
    if (m < 0 || condition.size() != static_cast<std::size_t>(m))
        throw std::invalid_argument("Inconsistent condition length");
    conditions_.push_back(condition);
}

FsMask::FsMask(int m, int n, std::string const& condition, std::vector<int> const& unbounded_modes)
    : FsMask(m, n, condition) {
    parse_limits(unbounded_modes);
}

void FsMask::parse_limits(std::vector<int> const& unbounded_modes) {
    std::vector<bool> bits(static_cast<std::size_t>(m_), false);
    for (int mode : unbounded_modes)
        if (mode >= 0 && mode < m_) bits[static_cast<std::size_t>(mode)] = true;
    unbounded_ = std::move(bits);
}

void FsMask::check_size(std::size_t size) const {
    if (m_ < 0 || size != static_cast<std::size_t>(m_))
        throw std::runtime_error(fmt::format(
            "FsMask::match(): incoherent sizes: FsMask m = {} / FockState m = {}", m_, size));
}

bool FsMask::match(FockState const& fs, bool allow_missing) const {
    if (fs.m() != m_)
        throw std::runtime_error(fmt::format(
            "FsMask::match(): incoherent sizes: FsMask m = {} / FockState m = {}", m_, fs.m()));
    // Codes address at most 256 modes, so counters on the stack serve every mask that can see a
    // photon; only wider (photon-less tail) masks fall back to the heap.
    std::array<int, 256> local;
    std::vector<int> wide;
    int* counts = local.data();
    if (m_ > static_cast<int>(local.size())) {
        wide.resize(static_cast<std::size_t>(m_));
        counts = wide.data();
    }
    std::fill_n(counts, m_, 0);
    unsigned char const* code = fs.data();
    const int n = fs.n();
    for (int i = 0; i < n; ++i)
        if (code[i] < m_) ++counts[code[i]];
    if (allow_missing)
        return unbounded_.empty() ? _inner_match_incomplete_state(counts, n)
                                  : _inner_match_incomplete_state_no_limit(counts, n);
    return unbounded_.empty() ? _inner_match_exact(counts) : _inner_match_no_limit(counts);
}

bool FsMask::inner_match_incomplete_state(std::vector<int> const& counts, int photons) const {
    check_size(counts.size());
    return unbounded_.empty() ? _inner_match_incomplete_state(counts.data(), photons)
                              : _inner_match_incomplete_state_no_limit(counts.data(), photons);
}

bool FsMask::inner_match_exact(std::vector<int> const& counts) const {
    check_size(counts.size());
    return unbounded_.empty() ? _inner_match_exact(counts.data())
                              : _inner_match_no_limit(counts.data());
}

template <bool AllowMissing, bool Unbounded>
bool FsMask::match_counts(int const* counts, int photons) const {
    for (auto const& condition : conditions_) {
        unsigned char const* c = bytes(condition);
        // Photons the state may still receive; only read when AllowMissing.
        long long budget = static_cast<long long>(n_) - photons;
        int i = 0;
        for (; i < m_; ++i) {
            if (!is_count(c[i])) continue;
            const int expected = c[i] - first_count_byte;
            if constexpr (AllowMissing) {
                if (counts[i] > expected) {
                    if (Unbounded && unbounded_[i]) continue;
                    break;
                }
                budget -= expected - counts[i];
                if (budget < 0) break;
            } else {
                if ((Unbounded && unbounded_[i]) ? counts[i] < expected : counts[i] != expected)
                    break;
            }
        }
        if (i == m_ && (!AllowMissing || budget >= 0)) return true;
    }
    return false;
}

bool FsMask::_inner_match_incomplete_state(int const* counts, int photons) const {
    return match_counts<true, false>(counts, photons);
}

bool FsMask::_inner_match_incomplete_state_no_limit(int const* counts, int photons) const {
    return match_counts<true, true>(counts, photons);
}

bool FsMask::_inner_match_exact(int const* counts) const {
    return match_counts<false, false>(counts, 0);
}

bool FsMask::_inner_match_no_limit(int const* counts) const {
    return match_counts<false, true>(counts, 0);
}
