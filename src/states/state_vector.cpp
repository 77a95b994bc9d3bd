#include "states/state_vector.h"

#include <algorithm>
#include <iterator>
#include <numeric>
#include <stdexcept>

#include "runtime/hash.h"
#include "runtime/logging.h"
#include "runtime/rng.h"

namespace {

const FockState& perfect_part(const BasicState& state) {
    if (const auto* fs = std::get_if<FockState>(&state)) return *fs;
    if (const auto* noisy = std::get_if<NoisyFockState>(&state)) return noisy->state();
    return std::get<AnnotatedFockState>(state).state();
}

// Two 32-bit outputs, x1 first, as std::generate_canonical<double, 53> combines them on a 32-bit
// engine; written out so that seeded draws do not depend on the standard library's version.
double draw_canonical() {
    const double x1 = RNG::rng();
    const double x2 = RNG::rng();
    const double u = (x1 + x2 * 4294967296.0) / 18446744073709551616.0;
    return u >= 1 ? std::nextafter(1.0, 0.0) : u;
}

[[noreturn]] void throw_nothing_to_sample() {
    throw std::runtime_error("Cannot sample a StateVector without any non-null component");
}

}  // namespace

StateVector::StateVector(BasicState state) {
    m_ = std::visit([](const auto& s) { return s.m(); }, state);
    components_.emplace(std::move(state), amplitude_t(1, 0));
}

std::size_t StateVector::hash() const {
    // A sum of mixed key hashes does not depend on the map's order; the significance test is the
    // one equality uses, so vectors equal up to a positive factor hash equal.
    std::uint64_t keys = 0;
    for (const auto& [state, a] : components_)
        if (squared_modulus(a) >= tolerance_)
            keys += Utils::hash_mix(std::hash<BasicState>{}(state));
    const std::uint64_t seed =
        Utils::hash_combine(0, static_cast<std::uint64_t>(static_cast<std::int64_t>(m_)));
    return Utils::hash_combine(seed, keys);
}

std::unordered_set<int> StateVector::n() const {
    std::unordered_set<int> counts;
    for (const auto& [state, a] : components_) counts.insert(perfect_part(state).n());
    return counts;
}

const BasicState& StateVector::componentAt(std::size_t i) const {
    if (i >= components_.size())
        throw std::runtime_error(
            fmt::format("Out of bounds component (pos={}, size={})", i, components_.size()));
    return std::next(components_.begin(), static_cast<std::ptrdiff_t>(i))->first;
}

bool StateVector::operator==(const StateVector& other) const {
    if (m_ != other.m_) return false;
    if (normalized_ && other.normalized_) return components_ == other.components_;

    struct Significant {
        std::size_t count = 0;
        double scale = 1;
    };
    const auto significant = [](const StateVector& sv) {
        Significant result;
        double sum = 0;
        for (const auto& [state, a] : sv.components_) {
            const double q = squared_modulus(a);
            if (q >= sv.tolerance_) ++result.count, sum += q;
        }
        if (sum != 0) result.scale = 1 / std::sqrt(sum);
        return result;
    };
    const Significant sa = significant(*this), sb = significant(other);
    if (sa.count != sb.count) return false;
    for (const auto& [state, x] : components_) {
        if (squared_modulus(x) < tolerance_) continue;
        const auto it = other.components_.find(state);
        if (it == other.components_.end()) return false;
        const amplitude_t& y = it->second;
        if (squared_modulus(y) < other.tolerance_) return false;
        if (y.real() * sb.scale != x.real() * sa.scale ||
            y.imag() * sb.scale != x.imag() * sa.scale)
            return false;
    }
    return true;
}

StateVector& StateVector::operator+=(const StateVector& other) {
    if (m_ == 0)
        m_ = other.m_;
    else if (m_ != other.m_)
        throw std::runtime_error("The mode count in both StateVectors is different");
    for (const auto& [state, y] : other.components_) {
        if (squared_modulus(y) <= tolerance_) continue;
        const auto [it, inserted] = components_.try_emplace(state, y);
        if (!inserted) it->second += y;
    }
    normalized_ = false;
    return *this;
}

StateVector& StateVector::operator-=(const StateVector& other) {
    StateVector negated(other);
    negated.scale(amplitude_t(-1, 0));
    return *this += negated;
}

StateVector& StateVector::operator*=(const StateVector& other) {
    if (components_.empty()) {
        if (&other != this) *this = other;
        return *this;
    }
    map_t product;
    product.reserve(components_.size() * other.components_.size());
    for (const auto& [s1, a1] : components_)
        for (const auto& [s2, a2] : other.components_) {
            // Keys of mixed kinds can coincide once promoted: their amplitudes add up.
            const auto [it, inserted] = product.try_emplace(s1 * s2, a1 * a2);
            if (!inserted) it->second += a1 * a2;
        }
    m_ += other.m_;
    normalized_ = normalized_ && other.normalized_;
    components_ = std::move(product);
    return *this;
}

void StateVector::scale(amplitude_t z) {
    if (z == amplitude_t(1, 0)) return;
    for (auto& [state, a] : components_) a *= z;
    normalized_ = false;
}

void StateVector::scale(double x) {
    if (x == 1) return;
    for (auto& [state, a] : components_) a = amplitude_t(a.real() * x, a.imag() * x);
    normalized_ = false;
}

StateVector StateVector::pow(std::size_t n) const {
    const auto k = static_cast<std::uint32_t>(n);
    if (k == 0) throw std::invalid_argument("Power must be at least 1");
    StateVector result(*this);
    StateVector base(*this);
    for (std::uint32_t e = k - 1; e != 0;) {
        if (e & 1) result *= base;
        e >>= 1;
        // The square after the last bit would never be used.
        if (e != 0) base *= base;
    }
    return result;
}

StateVector StateVector::merge(const StateVector& other) const {
    if (m_ != other.m_)
        throw std::invalid_argument(
            "State vectors with different numbers of modes can't be merged");
    return MathUtils::details::inner_tensor_product<MathUtils::details::Merge>(*this, other);
}

StateVector merge(const StateVector& a, const StateVector& b, double threshold) {
    return MathUtils::details::inner_tensor_product<MathUtils::details::Merge>(a, b, threshold);
}

void StateVector::_eraseNullAmplitudeComponents() {
    std::erase_if(components_, [this](const auto& component) {
        return squared_modulus(component.second) < tolerance_;
    });
}

void StateVector::normalize() {
    if (normalized_) return;
    double sum = 0;
    for (const auto& [state, a] : components_) sum += squared_modulus(a);
    const double norm = std::sqrt(sum);
    if (!components_.empty() && norm != 0) {
        for (auto& [state, a] : components_) a = amplitude_t(a.real() / norm, a.imag() / norm);
    } else {
        Logging::log(Logging::user, spdlog::level::warn,
                     "Unable to normalize an object with only null components");
    }
    _eraseNullAmplitudeComponents();
    normalized_ = true;
}

std::unordered_map<FockState, std::pair<double, StateVector>> StateVector::measure(
    const std::vector<int>& modes) {
    // A component of another mode count has no photon count for some measured or kept mode.
    for (const auto& [state, a] : components_)
        if (perfect_part(state).m() != m_)
            throw std::invalid_argument(fmt::format(
                "Cannot measure a StateVector of {} modes holding a component of {} modes", m_,
                perfect_part(state).m()));
    normalize();

    std::vector<char> measured(static_cast<std::size_t>(m_), 0);
    for (int k : modes)
        if (k >= 0 && k < m_) measured[static_cast<std::size_t>(k)] = 1;

    std::unordered_map<FockState, std::pair<double, StateVector>> outcomes;
    std::vector<int> counts, detected, remaining;
    for (const auto& [state, a] : components_) {
        perfect_part(state).to_vect(counts);
        detected.clear();
        remaining.clear();
        for (std::size_t k = 0; k < counts.size(); ++k)
            (measured[k] ? detected : remaining).push_back(counts[k]);
        FockState outcome(detected);
        StateVector rest = StateVector(FockState(remaining)) * a;
        const double p = squared_modulus(a);
        const auto it = outcomes.find(outcome);
        if (it == outcomes.end()) {
            outcomes.emplace(std::move(outcome), std::make_pair(p, std::move(rest)));
        } else {
            it->second.first += p;
            it->second.second += rest;
        }
    }
    return outcomes;
}

const BasicState& StateVector::sample() {
    double u = draw_canonical();
    normalize();
    if (components_.empty()) throw_nothing_to_sample();
    for (const auto& [state, a] : components_) {
        u -= squared_modulus(a);
        if (u < 0) return state;
    }
    return components_.begin()->first;
}

std::vector<BasicState> StateVector::samples(std::size_t count) {
    normalize();
    // The table std::discrete_distribution builds, built once per call.
    std::vector<const BasicState*> states;
    std::vector<double> cumulative;
    states.reserve(components_.size());
    for (const auto& [state, a] : components_) states.push_back(&state);
    if (components_.size() >= 2) {
        cumulative.reserve(components_.size());
        for (const auto& [state, a] : components_) cumulative.push_back(squared_modulus(a));
        const double sum = std::accumulate(cumulative.begin(), cumulative.end(), 0.0);
        for (double& w : cumulative) w /= sum;
        std::partial_sum(cumulative.begin(), cumulative.end(), cumulative.begin());
        cumulative.back() = 1.0;
    }

    std::vector<BasicState> drawn;
    drawn.reserve(count);
    if (count != 0 && states.empty()) throw_nothing_to_sample();
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t index = 0;
        if (!cumulative.empty())
            index = static_cast<std::size_t>(
                std::lower_bound(cumulative.begin(), cumulative.end(), draw_canonical()) -
                cumulative.begin());
        drawn.push_back(*states[index]);
    }
    return drawn;
}
