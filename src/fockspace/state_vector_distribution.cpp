#include "fockspace/state_vector_distribution.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <utility>
#include <variant>
#include <vector>

#include "fockspace/fock_space_distribution.h"
#include "fockspace/product_kernels.h"
#include "fockspace/weighted_samples.h"
#include "runtime/background_release.h"
#include "runtime/logging.h"

namespace {

using MathUtils::details::factor_of;

using MathUtils::details::capped_product;
using MathUtils::details::reserved_size;
using MathUtils::details::unpruned_size;

void check_finite(const StateVector& sv, double p) {
    if (!std::isfinite(p))
        throw std::invalid_argument(
            fmt::format("Probabilities must be finite, got {} for {}", p, sv));
}

// Products of finite probabilities may still overflow.
StateVectorDistribution checked(StateVectorDistribution d) {
    for (const auto& [sv, p] : d) check_finite(sv, p);
    return d;
}

StateVectorDistribution with_state_vector(const StateVectorDistribution& d, const StateVector& sv,
                                          bool sv_first) {
    StateVectorDistribution result;
    if (d.empty()) return result;
    result.n_max() = d.n_max() + largest_photon_count(sv);
    result.map().reserve(d.size());
    for (const auto& [key, p] : d) result.map()[sv_first ? sv * key : key * sv] = p;
    return result;
}

template <typename List>
StateVectorDistribution list_tensor_product(const List& list, double t) {
    if (list.empty()) return {};
    if (list.size() == 1) return factor_of(list.front());
    StateVectorDistribution result;
    for (const auto& factor : list) {
        if (factor_of(factor).empty()) return {};
        result.n_max() += factor_of(factor).n_max();
    }
    // Without a positive threshold nothing is pruned: the whole product is reserved, so that no
    // rehash of millions of entries, which Ctrl-C cannot stop, happens as it fills.
    result.map().reserve(t > 0 ? reserved_size(list) : unpruned_size(list));
    {
        const InterruptSignalHandler::ReleaseOnInterrupt release(result.map());
        MathUtils::inner_tensor_product(list, result.map(), StateVector(), 1.0, t);
    }
    return checked(std::move(result));
}

}  // namespace

StateVectorDistribution::StateVectorDistribution() {
    map_.max_load_factor(1.0);
}

StateVectorDistribution::StateVectorDistribution(StateVector sv) : StateVectorDistribution() {
    n_max_ = largest_photon_count(sv);
    map_.emplace(std::move(sv), 1.0);
}

StateVectorDistribution::StateVectorDistribution(map_t map) : StateVectorDistribution() {
    int n_max = 0;
    if (!map.empty()) {
        const int m = map.begin()->first.modeCount();
        for (const auto& entry : map) {
            if (entry.first.modeCount() != m)
                throw std::invalid_argument("Number of modes is not consistent");
            check_finite(entry.first, entry.second);
            n_max = std::max(n_max, largest_photon_count(entry.first));
        }
    }
    map_ = std::move(map);
    n_max_ = n_max;
}

StateVectorDistribution::StateVectorDistribution(
    const std::unordered_map<BasicState, double>& states)
    : StateVectorDistribution() {
    map_.reserve(std::max<std::size_t>(states.size(), 1));
    for (const auto& [state, p] : states) set(StateVector(state), p);
}

StateVectorDistribution::StateVectorDistribution(const FockSpaceDistribution& d)
    : StateVectorDistribution() {
    map_.reserve(d.size());
    for (const auto& [fs, p] : d) {
        StateVector sv{BasicState(fs)};
        check_finite(sv, p);
        n_max_ = std::max(n_max_, fs.n());
        map_[std::move(sv)] = p;
    }
}

int largest_photon_count(const StateVector& sv) {
    int largest = 0;
    for (int n : sv.n()) largest = std::max(largest, n);
    return largest;
}

void StateVectorDistribution::check_m(int m) const {
    if (!map_.empty() && map_.begin()->first.modeCount() != m)
        throw std::invalid_argument("Number of modes is not consistent");
}

double StateVectorDistribution::get(const StateVector& sv) const {
    return find(sv).value_or(0.0);
}

std::optional<double> StateVectorDistribution::find(const StateVector& sv) const {
    const auto it = map_.find(sv);
    if (it == map_.end()) return std::nullopt;
    return it->second;
}

void StateVectorDistribution::set(const StateVector& sv, double p) {
    check_m(sv.modeCount());
    check_finite(sv, p);
    n_max_ = std::max(n_max_, largest_photon_count(sv));
    map_[sv] = p;
}

void StateVectorDistribution::add(const StateVector& sv, double p) {
    check_m(sv.modeCount());
    check_finite(sv, p);
    const bool kept = p > 1e-16;
    if (kept) check_finite(sv, get(sv) + p);
    n_max_ = std::max(n_max_, largest_photon_count(sv));
    if (kept) map_[sv] += p;
}

bool StateVectorDistribution::operator==(const StateVectorDistribution& other) const {
    if (map_.size() != other.map_.size()) return false;
    for (const auto& [sv, p] : map_) {
        const auto it = other.map_.find(sv);
        if (it == other.map_.end() || !(it->second == p)) return false;
    }
    return true;
}

StateVectorDistribution& StateVectorDistribution::operator*=(const StateVector& sv) {
    *this = *this * sv;
    return *this;
}

StateVectorDistribution& StateVectorDistribution::operator*=(const StateVectorDistribution& other) {
    *this = tensor_product(*this, other, 0.0);
    return *this;
}

std::vector<StateVector> StateVectorDistribution::sample(std::size_t count, bool non_null) const {
    if (map_.empty()) throw std::runtime_error("Unable to sample from empty distribution");
    const auto skipped =
        non_null ? map_.find(StateVector(FockState(map_.begin()->first.modeCount()))) : map_.end();
    std::vector<StateVector> states;
    std::vector<double> weights;
    states.reserve(map_.size());
    weights.reserve(map_.size());
    for (auto it = map_.begin(); it != map_.end(); ++it) {
        if (it == skipped) continue;
        states.push_back(it->first);
        weights.push_back(it->second);
    }
    if (states.empty()) throw std::runtime_error("Unable to sample from empty distribution");
    return MathUtils::samples(count, states, weights);
}

void StateVectorDistribution::normalize() {
    double sum = 0.0;
    for (const auto& entry : map_) sum += std::abs(entry.second);
    if (sum == 0.0) {
        Logging::log(Logging::user, spdlog::level::warn,
                     "Unable to normalize an object with only null components");
        return;
    }
    if (std::isinf(sum)) {
        // Finite probabilities whose sum overflows: bring them to at most 1 first.
        double max = 0.0;
        for (const auto& entry : map_) max = std::max(max, std::abs(entry.second));
        sum = 0.0;
        for (auto& entry : map_) {
            entry.second /= max;
            sum += std::abs(entry.second);
        }
    }
    for (auto& entry : map_) entry.second /= sum;
}

StateVectorDistribution StateVectorDistribution::pow(std::size_t k) const {
    std::optional<int> m;
    if (!map_.empty()) m = map_.begin()->first.modeCount();
    return MathUtils::tensor_power(*this, k, m,
                                   [](auto const& list) { return tensor_product(list, 0.0); });
}

StateVectorDistribution operator*(const StateVectorDistribution& d, const StateVector& sv) {
    return with_state_vector(d, sv, false);
}

StateVectorDistribution operator*(const StateVector& sv, const StateVectorDistribution& d) {
    return with_state_vector(d, sv, true);
}

StateVectorDistribution operator*(const StateVectorDistribution& d, const BasicState& state) {
    return with_state_vector(d, StateVector(state), false);
}

StateVectorDistribution operator*(const BasicState& state, const StateVectorDistribution& d) {
    return with_state_vector(d, StateVector(state), true);
}

StateVectorDistribution tensor_product(const StateVectorDistribution& a,
                                       const StateVectorDistribution& b, double t) {
    StateVectorDistribution result;
    if (a.empty()) return result;
    result.n_max() = a.n_max() + b.n_max();
    result.map().reserve(std::max<std::size_t>(capped_product(a.size(), b.size()), 1));
    MathUtils::details::inner_tensor_product<MathUtils::details::TensorProd>(a, b, result.map(), t);
    return checked(std::move(result));
}

StateVectorDistribution operator*(const StateVectorDistribution& a,
                                  const StateVectorDistribution& b) {
    return tensor_product(a, b, 0.0);
}

StateVectorDistribution tensor_product(const std::vector<StateVectorDistribution>& list, double t) {
    return list_tensor_product(list, t);
}

StateVectorDistribution tensor_product(
    const std::vector<std::reference_wrapper<const StateVectorDistribution>>& list, double t) {
    return list_tensor_product(list, t);
}

// A member of StateVector, defined here because it builds a distribution.
StateVectorDistribution StateVector::split_by_photon_and_tag_count() const {
    std::map<std::vector<int>, std::pair<StateVector, double>> groups;
    std::vector<int> key;
    for (const auto& [state, a] : components_) {
        if (const auto* fs = std::get_if<FockState>(&state)) {
            key.assign(1, fs->n());
        } else if (const auto* noisy = std::get_if<NoisyFockState>(&state)) {
            // The photon count of each tag's batch, for every tag up to the largest present.
            const unsigned char* tags = noisy->tags();
            const int n = noisy->n();
            key.clear();
            for (int i = 0; i < n; ++i) {
                if (tags[i] >= key.size()) key.resize(tags[i] + 1u, 0);
                ++key[tags[i]];
            }
        } else {
            throw std::invalid_argument("Annotated FockState can't be split");
        }
        auto& group = groups[key];
        group.first += state * a;
        group.second += squared_modulus(a);
    }

    StateVectorDistribution distribution;
    for (auto& [k, group] : groups) {
        group.first.normalize();
        distribution.map()[std::move(group.first)] = group.second;
    }
    return distribution;
}
