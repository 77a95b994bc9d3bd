#include "fockspace/distribution_products.h"

#include <cstddef>
#include <stdexcept>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "fockspace/product_kernels.h"
#include "runtime/background_release.h"

namespace {

using Map = std::unordered_map<FockState, double>;
using MathUtils::details::factor_of;
using MathUtils::details::Merge;
using MathUtils::details::TensorProd;

using MathUtils::details::capped_product;
using MathUtils::details::reserved_size;

template <typename List>
bool has_empty_factor(List const& list) {
    for (auto const& factor : list)
        if (factor_of(factor).size() == 0) return true;
    return false;
}

[[noreturn]] void throw_empty_distribution() {
    throw std::runtime_error("Unable to normalize an empty distribution");
}

template <typename Op, typename Result, typename Container>
Result with_state(Container const& c, FockState const& fs, bool state_first) {
    const Op op;
    Map map;
    map.max_load_factor(1.0);
    map.reserve(c.size());
    for (auto const& [s, p] : c) map.emplace(state_first ? op(fs, s) : op(s, fs), p);
    if constexpr (std::is_same_v<Result, FockSpaceFunction>)
        return FockSpaceFunction(std::move(map), true);
    else
        return FockSpaceDistribution(std::move(map), true, 0.0);
}

template <typename List>
FockSpaceFunction function_tensor_product(List const& list, double t) {
    if (list.empty()) return {};
    if (list.size() == 1) return factor_of(list.front());
    if (has_empty_factor(list)) return {};
    FockSpaceFunction out;
    out.reserve(reserved_size(list));
    {
        const InterruptSignalHandler::ReleaseOnInterrupt release(out);
        MathUtils::inner_tensor_product(list, out, FockState(), 1.0, t);
    }
    return out;
}

template <typename List>
FockSpaceFunction function_merge_product(List const& list, double t) {
    if (list.empty()) return {};
    if (list.size() == 1) return factor_of(list.front());
    if (has_empty_factor(list)) return {};
    FockSpaceFunction out;
    {
        const InterruptSignalHandler::ReleaseOnInterrupt release(out);
        MathUtils::inner_merge(list, out, FockState(*factor_of(list.front()).get_m()), 1.0, t);
    }
    return out;
}

template <typename List>
FockSpaceDistribution distribution_tensor_product(List const& list, double t) {
    if (list.empty()) return FockSpaceDistribution(FockState());
    if (list.size() == 1) return factor_of(list.front());
    if (has_empty_factor(list)) throw_empty_distribution();
    Map map;
    map.max_load_factor(1.0);
    map.reserve(reserved_size(list));
    {
        const InterruptSignalHandler::ReleaseOnInterrupt release(map);
        MathUtils::inner_tensor_product(list, map, FockState(), 1.0, t);
    }
    return FockSpaceDistribution(std::move(map), false, 0.0);
}

template <typename List>
FockSpaceDistribution distribution_merge_product(List const& list, double t) {
    if (list.empty()) throw_empty_distribution();
    if (list.size() == 1) return factor_of(list.front());
    const FockState vacuum(factor_of(list.front()).get_m().value());
    if (has_empty_factor(list)) throw_empty_distribution();
    Map map;
    map.max_load_factor(1.0);
    {
        const InterruptSignalHandler::ReleaseOnInterrupt release(map);
        MathUtils::inner_merge(list, map, vacuum, 1.0, t);
    }
    return FockSpaceDistribution(std::move(map), false, 0.0);
}

}  // namespace

FockSpaceFunction tensor(FockSpaceFunction const& f, FockState const& fs) {
    return with_state<TensorProd, FockSpaceFunction>(f, fs, false);
}

FockSpaceFunction tensor(FockState const& fs, FockSpaceFunction const& f) {
    return with_state<TensorProd, FockSpaceFunction>(f, fs, true);
}

FockSpaceFunction merge(FockSpaceFunction const& f, FockState const& fs) {
    return with_state<Merge, FockSpaceFunction>(f, fs, false);
}

FockSpaceFunction operator*(FockSpaceFunction const& f, FockState const& fs) {
    return tensor(f, fs);
}

FockSpaceFunction operator*(FockState const& fs, FockSpaceFunction const& f) {
    return tensor(fs, f);
}

FockSpaceDistribution tensor(FockSpaceDistribution const& d, FockState const& fs) {
    return with_state<TensorProd, FockSpaceDistribution>(d, fs, false);
}

FockSpaceDistribution tensor(FockState const& fs, FockSpaceDistribution const& d) {
    return with_state<TensorProd, FockSpaceDistribution>(d, fs, true);
}

FockSpaceDistribution merge(FockSpaceDistribution const& d, FockState const& fs) {
    return with_state<Merge, FockSpaceDistribution>(d, fs, false);
}

FockSpaceDistribution operator*(FockSpaceDistribution const& d, FockState const& fs) {
    Map map;
    map.max_load_factor(1.0);
    map.reserve(d.size());
    for (auto const& [s, p] : d) map.emplace(s * fs, p);
    return FockSpaceDistribution(std::move(map), false, 0.0);
}

FockSpaceDistribution operator*(FockState const& fs, FockSpaceDistribution const& d) {
    Map map;
    map.max_load_factor(1.0);
    map.reserve(d.size());
    for (auto const& [s, p] : d) map.emplace(fs * s, p);
    return FockSpaceDistribution(std::move(map), false, 0.0);
}

FockSpaceFunction tensor_product(FockSpaceFunction const& a, FockSpaceFunction const& b) {
    return tensor_product(a, b, 0.0);
}

FockSpaceFunction tensor_product(FockSpaceFunction const& a, FockSpaceFunction const& b, double t) {
    FockSpaceFunction out;
    MathUtils::details::inner_tensor_product<TensorProd>(a, b, out, t);
    return out;
}

FockSpaceFunction operator*(FockSpaceFunction const& a, FockSpaceFunction const& b) {
    return tensor_product(a, b);
}

FockSpaceFunction merge_product(FockSpaceFunction const& a, FockSpaceFunction const& b) {
    FockSpaceFunction out;
    MathUtils::details::inner_tensor_product<Merge>(a, b, out);
    return out;
}

FockSpaceFunction merge_product(FockSpaceFunction const& a, FockSpaceFunction const& b, double t) {
    FockSpaceFunction out;
    MathUtils::details::inner_tensor_product<Merge>(a, b, out, t);
    return out;
}

FockSpaceFunction operator*(FockSpaceDistribution const& a, FockSpaceFunction const& b) {
    return tensor_product(a.toFockSpaceFunction(), b);
}

FockSpaceFunction operator*(FockSpaceFunction const& a, FockSpaceDistribution const& b) {
    return tensor_product(a, b.toFockSpaceFunction());
}

FockSpaceDistribution tensor_product(FockSpaceDistribution const& a, FockSpaceDistribution const& b,
                                     double t) {
    Map map;
    map.max_load_factor(1.0);
    map.reserve(capped_product(a.size(), b.size()));
    MathUtils::details::inner_tensor_product<TensorProd>(a, b, map, t);
    return FockSpaceDistribution(std::move(map), false, 0.0);
}

FockSpaceDistribution operator*(FockSpaceDistribution const& a, FockSpaceDistribution const& b) {
    return tensor_product(a, b, 0.0);
}

FockSpaceDistribution merge_product(FockSpaceDistribution const& a, FockSpaceDistribution const& b,
                                    double t) {
    Map map;
    map.max_load_factor(1.0);
    MathUtils::details::inner_tensor_product<Merge>(a, b, map, t);
    return FockSpaceDistribution(std::move(map), false, 0.0);
}

FockSpaceFunction tensor_product(std::vector<FockSpaceFunction> const& list, double t) {
    return function_tensor_product(list, t);
}

FockSpaceFunction tensor_product(
    std::vector<std::reference_wrapper<FockSpaceFunction const>> const& list, double t) {
    return function_tensor_product(list, t);
}

FockSpaceFunction merge_product(std::vector<FockSpaceFunction> const& list, double t) {
    return function_merge_product(list, t);
}

FockSpaceFunction merge_product(std::vector<std::reference_wrapper<FockSpaceFunction>> const& list,
                                double t) {
    return function_merge_product(list, t);
}

FockSpaceDistribution tensor_product(std::vector<FockSpaceDistribution> const& list, double t) {
    return distribution_tensor_product(list, t);
}

FockSpaceDistribution tensor_product(
    std::vector<std::reference_wrapper<FockSpaceDistribution const>> const& list, double t) {
    return distribution_tensor_product(list, t);
}

FockSpaceDistribution merge_product(std::vector<FockSpaceDistribution> const& list, double t) {
    return distribution_merge_product(list, t);
}

FockSpaceDistribution merge_product(
    std::vector<std::reference_wrapper<FockSpaceDistribution const>> const& list, double t) {
    return distribution_merge_product(list, t);
}

FockSpaceFunction FockSpaceFunction::pow(std::size_t k) const {
    return MathUtils::tensor_power(*this, k, get_m(),
                                   [](auto const& list) { return tensor_product(list, 0.0); });
}

FockSpaceDistribution FockSpaceDistribution::pow(std::size_t k) const {
    return MathUtils::tensor_power(*this, k, get_m(),
                                   [](auto const& list) { return tensor_product(list, 0.0); });
}
