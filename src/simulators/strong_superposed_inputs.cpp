// Coherent superpositions: each component's output is built from its groups' amplitudes with
// every output photon tagged by its group, and the components are added with their amplitudes, so
// equal tagged outputs interfere and outputs differing only in tags do not.
#include <cmath>
#include <complex>
#include <map>
#include <set>
#include <stdexcept>
#include <utility>
#include <variant>

#include "simulators/strong_simulator.h"

namespace {

struct SuperposedInput {
    double probability = 0.0;
    std::vector<std::map<unsigned char, FockState>> components;
    std::vector<std::complex<double>> amplitudes;
    int n = 0;
};

struct SigmaResults {
    std::map<int, std::vector<FockState>> outputs;
    // Physical amplitudes, whatever the back-end's convention.
    std::map<FockState, std::vector<std::complex<double>>> amplitudes;
};

// The back-end's amplitudes of `input` brought to A(s) = Perm(U[s,t]) / sqrt(s! t!): components
// of one superposition are added with them, so a factor that depends on the input state would
// weigh the components wrongly.
void to_physical(std::vector<std::complex<double>>& amplitudes,
                 std::vector<FockState> const& outputs, FockState const& input,
                 Backend::AmplitudeConvention convention) {
    switch (convention) {
        case Backend::AmplitudeConvention::physical:
            return;
        case Backend::AmplitudeConvention::scaled_by_factorials: {
            const double input_factorials = input.prodnfact();
            for (std::size_t q = 0; q < amplitudes.size(); ++q)
                amplitudes[q] *= std::sqrt(outputs[q].prodnfact() / input_factorials);
            return;
        }
    }
}

}  // namespace

FockSpaceFunction StrongSimulator::computeGeneric(StateVectorDistribution const& w) {
    logical_perf_ = 0.0;

    // Validate every input before any back-end work.
    std::vector<SuperposedInput> inputs;
    inputs.reserve(w.size());
    std::set<std::pair<int, FockState>> keys;
    for (auto const& [sv, p] : w) {
        SuperposedInput input;
        input.probability = p;
        for (auto it = sv.begin_unnormalized(); it != sv.end(); ++it) {
            auto const& [state, amplitude] = *it;
            if (auto const* noisy = std::get_if<NoisyFockState>(&state)) {
                input.components.push_back(noisy->split_state());
                input.n = std::max(input.n, noisy->n());
            } else if (auto const* fs = std::get_if<FockState>(&state)) {
                input.components.push_back({{0, *fs}});
                input.n = std::max(input.n, fs->n());
            } else {
                throw std::invalid_argument(
                    "Got an annotated fock state, which can't be simulated");
            }
            input.amplitudes.push_back(amplitude);
        }
        // A lone state is a pure input whatever its stored amplitude, as in the incoherent path.
        if (input.amplitudes.size() == 1) input.amplitudes.front() = 1.0;
        for (auto const& component : input.components)
            for (auto const& [tag, part] : component)
                keys.emplace(compute_selection_n(input.n, part.n()), part);
        inputs.push_back(std::move(input));
    }

    std::map<int, SigmaResults> results;
    {
        auto guard = progress.sub_task(0, 0.5);
        const double count = static_cast<double>(keys.size());
        int previous_sigma = -1;
        std::size_t i = 0;
        for (auto const& [sigma, part] : keys) {
            if (sigma != previous_sigma) backend_->setMask(make_mask(sigma, part));
            previous_sigma = sigma;
            backend_->setInputState(part);
            SigmaResults& r = results[sigma];
            auto& amplitudes = r.amplitudes[part];
            amplitudes = backend_->getAmplitudes();
            auto& outputs = r.outputs[part.n()];
            if (outputs.empty()) {
                outputs = backend_->getFockSpace();
                if (!outputs.empty()) check_output_modes(outputs.front().m(), part.m());
            }
            to_physical(amplitudes, outputs, part, backend_->amplitudeConvention());
            progress(static_cast<double>(++i) / count, "Computing probs...");
        }
    }

    FockSpaceFunction f;
    auto guard = progress.sub_task(0.5, 1.0);
    const double count = static_cast<double>(inputs.size());
    std::size_t j = 0;
    for (auto const& input : inputs) {
        const double p = input.probability;
        StateVector acc;
        for (std::size_t k = 0; k < input.components.size(); ++k) {
            const std::complex<double> a = input.amplitudes[k];
            const double weight = std::norm(a);
            const double tau = weight > 0 && p > 0 ? 0.1 * abs_precision_ / (p * weight) : 0.0;
            StateVector comp;
            for (auto const& [tag, part] : input.components[k]) {
                const int sigma = compute_selection_n(input.n, part.n());
                SigmaResults const& r = results.at(sigma);
                auto const& amplitudes = r.amplitudes.at(part);
                auto const& outputs = r.outputs.at(part.n());
                StateVector part_output;
                for (std::size_t q = 0; q < amplitudes.size(); ++q) {
                    if (amplitudes[q] == 0.0) continue;
                    NoisyFockState tagged(outputs[q],
                                          std::vector<unsigned char>(outputs[q].n(), tag), true);
                    part_output += StateVector(BasicState(std::move(tagged))) * amplitudes[q];
                }
                comp = comp.empty() ? std::move(part_output) : merge(comp, part_output, tau);
                if (comp.empty()) break;
            }
            if (!comp.empty()) acc += comp * a;
        }
        for (auto it = acc.begin_unnormalized(); it != acc.end(); ++it) {
            const double q = std::norm(it->second) * p;
            if (q < abs_precision_) continue;
            f[std::get<NoisyFockState>(it->first).state()] += q;
            logical_perf_ += q;
        }
        progress(static_cast<double>(++j) / count, "Recombining distributions...");
    }
    f.normalize();
    return f;
}
