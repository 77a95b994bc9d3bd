#include "fockspace/fock_space.h"

#include <bit>
#include <cmath>
#include <stdexcept>
#include <typeinfo>
#include <utility>

#include <fmt/format.h>

#include "fockspace/fock_space_filling.h"
#include "fockspace/fock_state_ranks.h"

int details::checked_max_n(int m, int max_n) {
    if (m < 0 || max_n < 0 || (m == 0 && max_n != 0))
        throw std::invalid_argument(
            fmt::format("Invalid FockSpace parameters (m={} max_n={})", m, max_n));
    return max_n;
}

template <typename T>
FSILookups_t<T>::FSILookups_t(int m, int max_n) : m(m), max_n(max_n) {
    if (m <= 0 || max_n <= 0) return;
    auto add = [&](T a, T b) {
        T sum;
        if (__builtin_add_overflow(a, b, &sum))
            throw std::overflow_error(fmt::format("Type {} (m={} max_n={}): cannot compute {} + {}",
                                                  typeid(T).name(), m, max_n, a, b));
        return sum;
    };
    const auto cols = static_cast<std::size_t>(max_n);
    table.assign(static_cast<std::size_t>(m) * cols, T(0));
    auto at = [&](int i, int c) -> T& {
        return table[static_cast<std::size_t>(i) * cols + static_cast<std::size_t>(c)];
    };
    for (int i = 0; i < m; ++i) at(i, 0) = 1;
    for (int c = 0; c < max_n; ++c) at(m - 1, c) = static_cast<T>(c + 1);
    for (int i = m - 2; i >= 0; --i)
        for (int c = 0; c + 1 < max_n; ++c) at(i, c + 1) = add(at(i + 1, c + 1), at(i, c));
    for (int i = 0; i < m; ++i) highest_index = add(highest_index, at(i, max_n - 1));
}

template <typename T>
T FSILookups_t<T>::get_full_count(int k) const {
    if (k < 0) return 0;
    if (k == 0) return 1;
    if (k > max_n)
        throw std::out_of_range(
            fmt::format("photon count {} beyond the {} of the lookup table", k, max_n));
    if (m == 1) return 1;
    if (k < max_n) return t(1, k);
    return highest_index - t(0, max_n - 1) + 1;
}

template class FSILookups_t<unsigned long>;

NPhotonStates::State::State(int m, int n)
    : d(static_cast<std::size_t>(m < 0 ? 0 : m) + 1, 0u), fs(m, n) {
    d[0] = static_cast<unsigned int>(n);
    // No mode can hold a photon.
    if (m == 0 && n > 0) valid = false;
}

NPhotonStates::State::~State() = default;

void NPhotonStates::State::advance() {
    ++index;
    const auto m = d.size() - 1;
    for (std::size_t p = m; p-- > 1;) {
        if (d[p] < d[p - 1]) {
            ++d[p];
            for (std::size_t q = p + 1; q < m; ++q) d[q] = 0;
            return;
        }
    }
    valid = false;
}

FockState const& NPhotonStates::State::getFS() const {
    unsigned char* code = fs.mutable_data();
    const auto m = d.size() - 1;
    for (std::size_t j = 0; j < m; ++j)
        for (unsigned int c = d[j] - d[j + 1]; c > 0; --c) *code++ = static_cast<unsigned char>(j);
    return fs;
}

double NPhotonStates::State::prodnfact() const {
    double product = 1.0;
    const auto m = d.size() - 1;
    for (std::size_t j = 0; j < m; ++j)
        for (unsigned int f = 2; f <= d[j] - d[j + 1]; ++f) product *= static_cast<double>(f);
    if (!std::isfinite(product))
        throw std::overflow_error("overflow error in FockState::prodnfact()");
    return product;
}

NPhotonStates::Iterator::Iterator(NPhotonStates const* layer)
    : filter(layer->filter), state(layer->m, layer->n) {
    skip_filtered();
}

NPhotonStates::Iterator& NPhotonStates::Iterator::operator++() {
    state.advance();
    skip_filtered();
    return *this;
}

void NPhotonStates::Iterator::skip_filtered() {
    if (!filter) return;
    while (state.valid && !filter->test(state.index)) state.advance();
}

namespace details {

template <int Step>
NeighbourStates_t<Step>::Iterator::Iterator(NeighbourStates_t const* range)
    : index(range->start), mode(0), m(range->lookups.m), range(range) {
    auto const& d = range->d;
    const auto max_n = static_cast<unsigned int>(range->lookups.max_n);
    if constexpr (Step > 0) {
        // The top layer has no layer above it.
        if (d[0] >= max_n) {
            mode = m;
            return;
        }
        if (mode < m && !kept()) ++*this;
    } else {
        if (m == 0 || d[0] == 0 || d[0] > max_n) {
            mode = m;
            return;
        }
        if (d[1] >= d[0] || !kept()) ++*this;
    }
}

template <int Step>
bool NeighbourStates_t<Step>::Iterator::kept() const {
    return !range->filling ||
           range->filling->layer(static_cast<int>(range->d[0]) + Step).test(index);
}

// Each step starts from the neighbour of the previous mode: a photon more in mode j is t(j + 1,
// d[j]) further on, a photon less in an occupied mode j is t(j + 1, d[j] - 1) further back.
template <int Step>
typename NeighbourStates_t<Step>::Iterator& NeighbourStates_t<Step>::Iterator::operator++() {
    auto const& d = range->d;
    auto at = [&](int j) { return d[static_cast<std::size_t>(j)]; };
    if constexpr (Step > 0) {
        do {
            if (++mode >= m) return *this;
            index += range->lookups.t(mode + 1, static_cast<int>(at(mode)));
        } while (!kept());
        return *this;
    } else {
        if (at(mode) == 0) {
            mode = m;
            return *this;
        }
        for (;;) {
            ++mode;
            if (at(mode) == 0) {
                mode = m;
                return *this;
            }
            index -= range->lookups.t(mode + 1, static_cast<int>(at(mode)) - 1);
            if (at(mode + 1) < at(mode) && kept()) return *this;
        }
    }
}

template class NeighbourStates_t<1>;
template class NeighbourStates_t<-1>;

}  // namespace details

FockSpace::FockSpace(int m, int max_n, std::function<bool(FockState const&)> predicate)
    : FSILookups_t<unsigned long>(m, details::checked_max_n(m, max_n)) {
    if (predicate)
        filling = std::make_unique<FockSpaceFilling>(m, max_n, std::move(predicate), *this);
}

FockSpace::FockSpace(FockSpace const& other)
    : FSILookups_t<unsigned long>(other),
      filling(other.filling ? std::make_unique<FockSpaceFilling>(*other.filling) : nullptr) {}

FockSpace& FockSpace::operator=(FockSpace const& other) {
    if (this != &other) *this = FockSpace(other);
    return *this;
}

FockSpace::FockSpace(FockSpace&& other) noexcept
    : FSILookups_t<unsigned long>(std::move(other)), filling(std::move(other.filling)) {
    other.m = 0;
    other.max_n = 0;
    other.table.clear();
    other.highest_index = 0;
}

FockSpace& FockSpace::operator=(FockSpace&& other) noexcept {
    if (this != &other) {
        FSILookups_t<unsigned long>::operator=(std::move(other));
        filling = std::move(other.filling);
        other.m = 0;
        other.max_n = 0;
        other.table.clear();
        other.highest_index = 0;
    }
    return *this;
}

FockSpace::~FockSpace() = default;

NPhotonStates FockSpace::FockStates(int k) const {
    if (k < 0 || k > max_n)
        throw std::out_of_range(
            fmt::format("photon count {} outside the layers 0 to {} of the space", k, max_n));
    return NPhotonStates(filling ? &filling->layer(k) : nullptr, m, k);
}

unsigned long FockSpace::get_count(int k) const {
    if (filling) return k < 0 || k > max_n ? 0 : filling->layer(k).count;
    return get_full_count(k);
}

std::optional<unsigned long> FockSpace::get_index(FockState const& fs) const {
    if (fs.m() != m)
        throw std::invalid_argument(
            fmt::format("Invalid FockSpace mode count (m={} {})", m, fs.m()));
    const int k = fs.n();
    if (k > max_n)
        throw std::invalid_argument(
            fmt::format("Invalid FockSpace photon count (max_n={} {})", max_n, k));
    const unsigned long index = natural_rank(fs, [this](int v, int c) { return t(v + 1, c); });
    if (!filling) return index;
    N_Filling const& layer = filling->layer(k);
    if (!layer.test(index)) return std::nullopt;
    return layer.rank(index);
}
