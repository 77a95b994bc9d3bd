// Inputs without superposition: each input split into groups of indistinguishable photons, the
// back-end run once per distinct (selection photon count, group), the groups' outputs multiplied
// back together per input.
#include <algorithm>
#include <map>
#include <stdexcept>
#include <utility>
#include <variant>

#include "runtime/background_release.h"
#include "simulators/result_caches.h"
#include "simulators/strong_simulator.h"

namespace {

constexpr double negligible = 1e-16;

}  // namespace

FockSpaceFunction StrongSimulator::computeNoSuperposition(StateVectorDistribution const& w) {
    std::vector<DecomposedNoisyFockState> inputs;
    inputs.reserve(w.size());
    for (auto const& [sv, p] : w) {
        BasicState const& state = sv.begin_unnormalized()->first;
        if (auto const* noisy = std::get_if<NoisyFockState>(&state))
            inputs.push_back({p, noisy->separate_state(), noisy->n()});
        else if (auto const* fs = std::get_if<FockState>(&state))
            inputs.push_back({p, {*fs}, fs->n()});
        else
            throw std::invalid_argument("Got an annotated fock state, which can't be simulated");
    }
    if (use_vector_cache) return computeNoSuperposition<simulators::details::VectorCache>(inputs);
    return computeNoSuperposition<simulators::details::MapCache>(inputs);
}

template <typename Cache>
FockSpaceFunction StrongSimulator::computeNoSuperposition(
    std::vector<DecomposedNoisyFockState> const& inputs) {
    logical_perf_ = 0.0;
    if (inputs.size() == 1 && inputs.front().parts.size() == 1)
        return computeSingleFockState(inputs.front().parts.front(), inputs.front().n,
                                      inputs.front().probability);

    // Sorted by σ first so that the mask changes once per σ.
    std::map<std::pair<int, FockState>, double> keys;
    for (auto const& input : inputs)
        for (auto const& part : input.parts) {
            double& p = keys[{compute_selection_n(input.n, part.n()), part}];
            p = std::max(p, input.probability);
        }

    Cache cache(0.1 * abs_precision_);
    // Every output of an input holds at most its photons: when the counts fit in a word, the
    // products add packed states.
    int max_photons = 0;
    for (auto const& input : inputs) max_photons = std::max(max_photons, input.n);
    const int m =
        inputs.empty() || inputs.front().parts.empty() ? 0 : inputs.front().parts.front().m();
    const auto packing = simulators::details::PackedModes::fit(m, max_photons);
    cache.set_packing(packing);
    {
        auto guard = progress.sub_task(0, 0.5);
        const double count = static_cast<double>(keys.size());
        int previous_sigma = -1;
        std::size_t i = 0;
        for (auto const& [key, max_probability] : keys) {
            progress(static_cast<double>(i++) / count, "Computing probability distributions...");
            auto const& [sigma, part] = key;
            if (sigma != previous_sigma) backend_->setMask(make_mask(sigma, part));
            previous_sigma = sigma;
            backend_->setInputState(part);
            std::vector<double> probabilities = backend_->computeProbabilities();
            cache.set_output_states(sigma, part.n(), [&] {
                std::vector<FockState> outputs = backend_->getFockSpace();
                if (!outputs.empty()) check_output_modes(outputs.front().m(), part.m());
                return outputs;
            });
            cache.add_result(sigma, part, max_probability, std::move(probabilities));
        }
        if constexpr (requires { cache.clear_internal_cache(); }) cache.clear_internal_cache();
    }

    FockSpaceFunction result;
    auto guard = progress.sub_task(0.5, 1.0);
    const double count = static_cast<double>(inputs.size());
    if (packing) {
        // A dense accumulator a few times the parts' outcomes at most.
        std::size_t outcomes = 0;
        for (auto const& [key, max_probability] : keys)
            outcomes += cache.outcomes(key.first, key.second)->probabilities.size();
        std::vector<simulators::details::ProductInput> products(inputs.size());
        for (std::size_t j = 0; j < inputs.size(); ++j) {
            products[j].probability = inputs[j].probability;
            for (auto const& part : inputs[j].parts)
                products[j].parts.push_back(
                    cache.outcomes(compute_selection_n(inputs[j].n, part.n()), part));
        }
        simulators::details::PackedAccumulator packed(
            *packing, std::clamp<std::size_t>(8 * outcomes, 4096, std::size_t{1} << 17));
        logical_perf_ += simulators::details::packedMerge(
            products, cache.threshold(), packed, [&](std::size_t done) {
                progress(static_cast<double>(done) / count, "Recombining distributions...");
            });
        // Normalised here, before the states are built.
        const double sum = packed.sum();
        return packed.to_function(sum > negligible ? sum : 1.0);
    }
    const InterruptSignalHandler::ReleaseOnInterrupt release(result);
    std::vector<simulators::details::SortedOutcomes const*> parts;
    std::size_t j = 0;
    for (auto const& input : inputs) {
        parts.clear();
        for (auto const& part : input.parts)
            parts.push_back(cache.outcomes(compute_selection_n(input.n, part.n()), part));
        logical_perf_ += cache.merge(parts, input.probability, result);
        progress(static_cast<double>(++j) / count, "Recombining distributions...");
    }
    result.normalize();
    return result;
}

template FockSpaceFunction StrongSimulator::computeNoSuperposition<
    simulators::details::VectorCache>(std::vector<DecomposedNoisyFockState> const&);
template FockSpaceFunction StrongSimulator::computeNoSuperposition<simulators::details::MapCache>(
    std::vector<DecomposedNoisyFockState> const&);

FockSpaceFunction StrongSimulator::computeSingleFockState(FockState const& state, int n, double p) {
    backend_->setMask(make_mask(compute_selection_n(n, n), state));
    backend_->setInputState(state);
    FockSpaceFunction f = backend_->computeProbabilityDistribution();
    if (f.size() != 0) check_output_modes(f.begin()->first.m(), state.m());
    const double w = f.weight();
    logical_perf_ += p * w;
    if (w > negligible) f /= w;
    return f;
}
