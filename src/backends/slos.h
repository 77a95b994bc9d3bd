#pragma once

#include <complex>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include <Eigen/Core>

#include "backends/i_prob_backend.h"
#include "fockspace/fs_array.h"
#include "fockspace/fs_map.h"
#include "runtime/matrix.h"

namespace Backend {

// One node of the chain that places the input photons one by one, always one of the input mode
// with the most photons left (the lowest such mode on ties). A node holds the values of its
// layer; the node that has placed every photon stores its values in the cache.
class SLOSPathComputer {
  public:
    // The layer sizes and the cache must outlive the node.
    SLOSPathComputer(int level, std::optional<FockState> const& input,
                     std::vector<unsigned long> const& layer_sizes, unsigned int m,
                     std::optional<std::vector<int>> const& remaining_counts,
                     std::unordered_map<FockState, std::vector<std::complex<double>>>& cache);

    void decompose();
    // value(s) = sum over modes j with s_j >= 1 of U(j, mode) · previous(s minus a photon in j).
    void compute(Matrix const& unitary, std::vector<FsMap> const& links,
                 std::optional<std::vector<std::complex<double>>> const& previous,
                 std::optional<unsigned int> mode);

  private:
    int level_;
    std::vector<std::complex<double>> amplitudes_;
    std::optional<std::vector<int>> remaining_counts_;
    std::optional<FockState> child_input_;
    std::unordered_map<unsigned int, std::unique_ptr<SLOSPathComputer>> children_;
    std::vector<unsigned long> const* layer_sizes_;
    unsigned int m_;
    bool complete_ = false;
    std::optional<FockState> input_state_;
    std::unordered_map<FockState, std::vector<std::complex<double>>>* amplitude_cache_;
};

// All output amplitudes of an m-mode unitary on one input state, layer by layer: layer k holds
// the (masked) states of k photons, joined to layer k-1 by a link table. The stored values are
// Perm(U[s,t]) / s!, that is the amplitude times sqrt(t!/s!); probabilities are normalised.
class SLOS : public IProbBackend {
  public:
    SLOS();
    // The unitary flattened row by row, m·m values.
    SLOS(std::vector<std::complex<double>> const& unitary, unsigned int m);
    // Copies the configuration only: the copy computes again on its first query.
    SLOS(SLOS const& other);
    SLOS(SLOS&&) = default;
    SLOS& operator=(SLOS const&) = delete;
    SLOS& operator=(SLOS&&) = delete;
    ~SLOS() override = default;

    std::shared_ptr<IProbBackend> clone() const override;
    // Any finite matrix; a NaN or an infinity is refused (std::invalid_argument).
    void setUnitary(Matrix unitary) override;
    // Always discards the results, even for the state already set.
    void setInputState(FockState const& input_state) override;
    // An equal mask (or none for none) keeps the results.
    void setMask(std::optional<FsMask> mask) override;
    std::vector<FockState> getFockSpace() override;
    std::vector<std::complex<double>> const& getAmplitudes() override;
    AmplitudeConvention amplitudeConvention() const override {
        return AmplitudeConvention::scaled_by_factorials;
    }
    std::vector<double> computeProbabilities() override;
    FockSpaceFunction computeProbabilityDistribution() override;

    // Brings the cache up to date; false when it already held the input state.
    bool compile();
    void compilation();

    // Read the cache only: a query must have computed the input's values first.
    std::complex<double> probampli_be(FockState const& input, FockState const& output,
                                      std::optional<unsigned long long> index, bool normalize);
    double prob_be(FockState const& input, FockState const& output,
                   std::optional<unsigned long long> index);

  private:
    void reset();
    void check_sizes() const;
    FsArray const& output_layer() const { return layers_.at(input_state_.n()); }

    // Checked against m_ at each computation: the flattened constructor takes any length.
    Matrix unitary_;
    FockState input_state_;
    std::unordered_map<FockState, std::vector<std::complex<double>>> amplitude_cache_;
    std::map<int, FsArray> layers_;
    std::vector<FsMap> layer_links_;
    std::vector<unsigned long> layer_sizes_;
    unsigned int m_ = 0;
    std::optional<FsMask> mask_;
    // Layers 0 to n-1: the link tables point at the arrays they join, so these stay alive with
    // them (layer n lives in `layers_`).
    std::vector<std::unique_ptr<FsArray>> link_arrays_;
};

// c[i] *= the product of the factorials of the mode counts of fsa[i]. A vector longer than the
// array is refused before anything is scaled.
void allProbabilitiesNormalizeOutput(Eigen::Ref<Eigen::VectorXd> c, FsArray const& fsa);

}  // namespace Backend
