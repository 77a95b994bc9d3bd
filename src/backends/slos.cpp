#include "backends/slos.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>

#include "runtime/interrupt_signal_handler.h"

namespace Backend {

SLOSPathComputer::SLOSPathComputer(
    int level, std::optional<FockState> const& input, std::vector<unsigned long> const& layer_sizes,
    unsigned int m, std::optional<std::vector<int>> const& remaining_counts,
    std::unordered_map<FockState, std::vector<std::complex<double>>>& cache)
    : level_(level),
      amplitudes_(layer_sizes.at(static_cast<std::size_t>(level))),
      layer_sizes_(&layer_sizes),
      m_(m),
      input_state_(input),
      amplitude_cache_(&cache) {
    if (level == 0) std::fill(amplitudes_.begin(), amplitudes_.end(), std::complex<double>(1.0));
    std::optional<std::vector<int>> counts = remaining_counts;
    if (!counts && input) counts = input->to_vect();
    if (!counts || std::all_of(counts->begin(), counts->end(), [](int c) { return c == 0; })) {
        complete_ = true;
        return;
    }
    remaining_counts_ = std::move(counts);
    child_input_ = input;
    decompose();
}

void SLOSPathComputer::decompose() {
    if (!remaining_counts_) return;
    std::vector<int> counts = *remaining_counts_;
    const auto largest = std::max_element(counts.begin(), counts.end());
    const auto mode = static_cast<unsigned int>(largest - counts.begin());
    --*largest;
    auto child = std::make_unique<SLOSPathComputer>(level_ + 1, child_input_, *layer_sizes_, m_,
                                                    std::move(counts), *amplitude_cache_);
    children_.try_emplace(mode, std::move(child));
}

void SLOSPathComputer::compute(Matrix const& unitary, std::vector<FsMap> const& links,
                               std::optional<std::vector<std::complex<double>>> const& previous,
                               std::optional<unsigned int> mode) {
    if (previous)
        links.at(static_cast<std::size_t>(level_ - 1))
            .compute_slos_layer(unitary.data(), static_cast<int>(m_), mode.value(),
                                amplitudes_.data(), amplitudes_.size(), previous->data(),
                                previous->size());
    // The chain has at most one child and a complete node none, so each layer's values can be
    // handed on rather than copied.
    if (complete_) {
        amplitude_cache_->try_emplace(*input_state_, std::move(amplitudes_));
        return;
    }
    for (auto& [child_mode, child] : children_) {
        const std::optional<std::vector<std::complex<double>>> values(std::move(amplitudes_));
        child->compute(unitary, links, values, child_mode);
    }
}

SLOS::SLOS() : layer_sizes_{1} {}

SLOS::SLOS(std::vector<std::complex<double>> const& unitary, unsigned int m)
    : layer_sizes_{1}, m_(m) {
    // Values that do not fill m x m are kept as one row, which the size check refuses.
    const bool fits = unitary.size() == static_cast<std::size_t>(m) * m;
    const auto size = static_cast<Eigen::Index>(unitary.size());
    unitary_ = Eigen::Map<const Matrix>(unitary.data(), fits ? m : 1, fits ? m : size);
}

SLOS::SLOS(SLOS const& other)
    : unitary_(other.unitary_),
      input_state_(other.input_state_),
      layer_sizes_{1},
      m_(other.m_),
      mask_(other.mask_) {}

std::shared_ptr<IProbBackend> SLOS::clone() const {
    return std::make_shared<SLOS>(*this);
}

void SLOS::reset() {
    layers_.clear();
    layer_links_.clear();
    link_arrays_.clear();
    amplitude_cache_.clear();
    layer_sizes_.assign(1, 1);
}

void SLOS::setUnitary(Matrix u) {
    check_finite(u);
    m_ = static_cast<unsigned int>(u.cols());
    unitary_ = std::move(u);
    reset();
}

void SLOS::setInputState(FockState const& state) {
    input_state_ = state;
    reset();
}

void SLOS::setMask(std::optional<FsMask> new_mask) {
    if (new_mask != mask_) reset();
    mask_ = std::move(new_mask);
}

void SLOS::check_sizes() const {
    // The layer step reads U(j, k) for every output mode j and input mode k holding a photon; the
    // input's modes are the unitary's, the vacuum's too, as for every back-end.
    const auto modes = static_cast<Eigen::Index>(m_);
    const bool square = unitary_.rows() == modes && unitary_.cols() == modes;
    if (!square || input_state_.m() != m_)
        throw std::runtime_error("Matrix/input state sizes mismatch");
}

void SLOS::compilation() {
    const int n = input_state_.n();
    if (layers_.contains(n)) return;
    const int modes = static_cast<int>(m_);
    try {
        if (n == 0) {
            const FsArray& vacuum = layers_.try_emplace(0, modes, 0, mask_).first->second;
            // A mask that rejects the vacuum leaves an empty output space.
            layer_sizes_.assign(1, vacuum.count());
            return;
        }
        link_arrays_.push_back(std::make_unique<FsArray>(modes, 0, std::nullopt));
        layer_links_.reserve(static_cast<std::size_t>(n));
        for (int k = 1; k <= n; ++k) {
            FsArray const* current;
            if (k < n) {
                link_arrays_.push_back(std::make_unique<FsArray>(modes, k, mask_));
                current = link_arrays_.back().get();
            } else {
                current = &layers_.try_emplace(n, modes, n, mask_).first->second;
            }
            layer_sizes_.push_back(current->count());
            layer_links_.emplace_back(*current, *link_arrays_[static_cast<std::size_t>(k - 1)],
                                      true);
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
    if (amplitude_cache_.contains(input_state_)) return false;
    SLOSPathComputer root(0, input_state_, layer_sizes_, m_, std::nullopt, amplitude_cache_);
    root.compute(unitary_, layer_links_, std::nullopt, std::nullopt);
    return true;
}

std::vector<FockState> SLOS::getFockSpace() {
    compilation();
    FsArray const& layer = output_layer();
    std::vector<FockState> states;
    states.reserve(layer.count());
    InterruptSignalHandler::Poll poll;
    for (auto it = layer.begin(); it != layer.end(); ++it) {
        poll();
        states.push_back(*it);
    }
    return states;
}

std::vector<std::complex<double>> const& SLOS::getAmplitudes() {
    compile();
    return amplitude_cache_.at(input_state_);
}

std::vector<double> SLOS::computeProbabilities() {
    compile();
    std::vector<std::complex<double>> values = amplitude_cache_.at(input_state_);
    output_layer().norm_coefs(values.data());
    const double input_factor = input_state_.prodnfact();
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
    const unsigned long long i = index ? *index : layers_.at(output.n()).find_idx(output);
    std::complex<double> value = amplitude_cache_.at(input).at(i);
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
