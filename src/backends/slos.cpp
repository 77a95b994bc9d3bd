#include "backends/slos.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace Backend {

SLOSPathComputer::SLOSPathComputer(
    int level, std::optional<FockState> const& input, std::vector<unsigned long> const& layer_sizes,
    unsigned int m, std::optional<std::vector<int>> const& remaining_counts,
    std::unordered_map<FockState, std::vector<std::complex<double>>>& cache)
    : level(level),
      amplitudes(layer_sizes.at(static_cast<std::size_t>(level))),
      layer_sizes(&layer_sizes),
      m(m),
      input_state(input),
      amplitude_cache(&cache) {
    if (level == 0) std::fill(amplitudes.begin(), amplitudes.end(), std::complex<double>(1.0));
    std::optional<std::vector<int>> counts = remaining_counts;
    if (!counts && input) counts = input->to_vect();
    if (!counts || std::all_of(counts->begin(), counts->end(), [](int c) { return c == 0; })) {
        complete = true;
        return;
    }
    this->remaining_counts = std::move(counts);
    child_input = input;
    decompose();
}

void SLOSPathComputer::decompose() {
    if (!remaining_counts) return;
    std::vector<int> counts = *remaining_counts;
    const auto largest = std::max_element(counts.begin(), counts.end());
    const auto mode = static_cast<unsigned int>(largest - counts.begin());
    --*largest;
    auto child = std::make_unique<SLOSPathComputer>(level + 1, child_input, *layer_sizes, m,
                                                    std::move(counts), *amplitude_cache);
    children.try_emplace(mode, std::move(child));
}

void SLOSPathComputer::compute(std::vector<std::complex<double>> const& unitary,
                               std::vector<FsMap> const& links,
                               std::optional<std::vector<std::complex<double>>> const& previous,
                               std::optional<unsigned int> mode) {
    if (previous)
        links.at(static_cast<std::size_t>(level - 1))
            .compute_slos_layer(unitary.data(), static_cast<int>(m), mode.value(),
                                amplitudes.data(), amplitudes.size(), previous->data(),
                                previous->size());
    // The chain has at most one child and a complete node none, so each layer's values can be
    // handed on rather than copied.
    if (complete) {
        amplitude_cache->try_emplace(*input_state, std::move(amplitudes));
        return;
    }
    for (auto& [child_mode, child] : children) {
        const std::optional<std::vector<std::complex<double>>> values(std::move(amplitudes));
        child->compute(unitary, links, values, child_mode);
    }
}

SLOS::SLOS() : layer_sizes{1} {}

SLOS::SLOS(std::vector<std::complex<double>> const& unitary, unsigned int m)
    : unitary(unitary), layer_sizes{1}, m(m) {}

SLOS::SLOS(SLOS const& other)
    : unitary(other.unitary),
      input_state(other.input_state),
      layer_sizes{1},
      m(other.m),
      mask(other.mask) {}

std::shared_ptr<IProbBackend> SLOS::clone() const {
    return std::make_shared<SLOS>(*this);
}

void SLOS::reset() {
    layers.clear();
    layer_links.clear();
    link_arrays.clear();
    amplitude_cache.clear();
    layer_sizes.assign(1, 1);
}

void SLOS::setUnitary(Matrix u) {
    m = static_cast<unsigned int>(u.cols());
    unitary.assign(u.data(), u.data() + u.size());
    reset();
}

void SLOS::setInputState(FockState const& state) {
    input_state = state;
    reset();
}

void SLOS::setMask(std::optional<FsMask> new_mask) {
    if (new_mask != mask) reset();
    mask = std::move(new_mask);
}

void SLOS::check_sizes() const {
    // The layer step reads U(j, k) for every output mode j and input mode k holding a photon.
    const bool square = unitary.size() == static_cast<std::size_t>(m) * m;
    const unsigned char* code = input_state.data();
    const bool inside = input_state.n() == 0 || code[input_state.n() - 1] < m;
    if (!square || !inside) throw std::runtime_error("Matrix/input state sizes mismatch");
}

void SLOS::compilation() {
    const int n = input_state.n();
    if (layers.contains(n)) return;
    const int modes = static_cast<int>(m);
    try {
        if (n == 0) {
            const FsArray& vacuum = layers.try_emplace(0, modes, 0, mask).first->second;
            // A mask that rejects the vacuum leaves an empty output space.
            layer_sizes.assign(1, vacuum.count());
            return;
        }
        link_arrays.push_back(std::make_unique<FsArray>(modes, 0, std::nullopt));
        layer_links.reserve(static_cast<std::size_t>(n));
        for (int k = 1; k <= n; ++k) {
            FsArray const* current;
            if (k < n) {
                link_arrays.push_back(std::make_unique<FsArray>(modes, k, mask));
                current = link_arrays.back().get();
            } else {
                current = &layers.try_emplace(n, modes, n, mask).first->second;
            }
            layer_sizes.push_back(current->count());
            layer_links.emplace_back(*current, *link_arrays[static_cast<std::size_t>(k - 1)], true);
        }
    } catch (...) {
        // A later compilation must not chain onto the links of this one.
        reset();
        throw;
    }
}

bool SLOS::compile() {
    check_sizes();
    compilation();
    if (amplitude_cache.contains(input_state)) return false;
    SLOSPathComputer root(0, input_state, layer_sizes, m, std::nullopt, amplitude_cache);
    root.compute(unitary, layer_links, std::nullopt, std::nullopt);
    return true;
}

std::vector<FockState> SLOS::getFockSpace() {
    compilation();
    FsArray const& layer = output_layer();
    std::vector<FockState> states;
    states.reserve(layer.count());
    for (auto it = layer.begin(); it != layer.end(); ++it) states.push_back(*it);
    return states;
}

std::vector<std::complex<double>> const& SLOS::getAmplitudes() {
    compile();
    return amplitude_cache.at(input_state);
}

std::vector<double> SLOS::computeProbabilities() {
    compile();
    std::vector<std::complex<double>> values = amplitude_cache.at(input_state);
    output_layer().norm_coefs(values.data());
    const double input_factor = input_state.prodnfact();
    std::vector<double> probabilities(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        probabilities[i] = std::norm(values[i]) / input_factor;
    return probabilities;
}

FockSpaceFunction SLOS::computeProbabilityDistribution() {
    std::vector<double> probabilities = computeProbabilities();
    return FockSpaceFunction(output_layer(), probabilities, -1.0);
}

std::complex<double> SLOS::probampli_be(FockState const& input, FockState const& output,
                                        std::optional<unsigned long long> index, bool normalize) {
    if (output.n() != input.n()) return 0.0;
    const unsigned long long i = index ? *index : layers.at(output.n()).find_idx(output);
    std::complex<double> value = amplitude_cache.at(input).at(i);
    if (normalize) value *= std::sqrt(output.prodnfact() / input.prodnfact());
    return value;
}

double SLOS::prob_be(FockState const& input, FockState const& output,
                     std::optional<unsigned long long> index) {
    return std::norm(probampli_be(input, output, index, false)) * output.prodnfact() /
           input.prodnfact();
}

void allProbabilitiesNormalizeOutput(Eigen::Ref<Eigen::VectorXd> c, FsArray const& fsa) {
    const auto size = static_cast<unsigned long long>(c.size());
    if (size > fsa.count()) throw std::out_of_range("index too large");
    // Every factor first, so that an overflow leaves the vector as it was.
    std::vector<double> factors;
    factors.reserve(size);
    for (auto it = fsa.begin(); factors.size() < size; ++it) factors.push_back((*it).prodnfact());
    for (Eigen::Index i = 0; i < c.size(); ++i) c[i] *= factors[static_cast<std::size_t>(i)];
}

}  // namespace Backend
