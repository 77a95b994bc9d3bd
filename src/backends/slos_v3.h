#pragma once

#include <complex>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "backends/a_slos_backend.h"
#include "backends/slos_map.h"
#include "fockspace/fock_space_function.h"
#include "states/fock_state.h"

namespace Backend {

// All output amplitudes of a unitary on one input state, as one linear pass per layer over a
// link map compiled once for the mode count, the photon count and the output predicate, and
// reused for every unitary and input of those sizes. The direction is the link order of the next
// map built: the held map stays. Zero photons always give the vacuum.
class SLOS_V3 : public ASlosBackend {
  public:
    SLOS_V3() = default;
    SLOS_V3(SLOS_V3 const&) = default;
    SLOS_V3(SLOS_V3&&) = default;
    ~SLOS_V3() override = default;

    std::shared_ptr<IProbBackend> clone() const override;
    void setUnitary(Matrix unitary) override;
    std::vector<FockState> getFockSpace() override;
    FockSpaceFunction computeProbabilityDistribution() override;
    std::vector<double> computeProbabilities() override;
    void compute() override;
    std::optional<unsigned long> get_index(FockState const& state) const override;

  private:
    void discard_compiled() override;
    void compile_for(int k) override;
    // Computes the amplitudes; returns whether it also filled the probabilities, which it may
    // do when given a vector.
    bool compute_into(std::vector<double>* probabilities);
    template <typename T>
    void run(SlosMap_t<T> const& map, double input_factor);
    bool run_dense(DenseLinks const& links, int m, int photons, double input_factor,
                   std::vector<double>* probabilities);

    SlosMap slos_map_;
    std::vector<std::complex<double>> current_;
    std::vector<std::complex<double>> next_;
    // The unitary's column of the current input photon, by output mode.
    std::vector<std::complex<double>> column_;
    // The same column as (re, re, -im, im) per mode.
    std::vector<double> column_pairs_;
    // The amplitudes' buffer while a new unitary waits for its pass.
    std::vector<std::complex<double>> spare_;
    // Set when a pass wrote the probabilities of the results of this generation but not the
    // last layer's amplitudes: the layer before it is still in current_.
    std::optional<std::uint64_t> pending_;
};

}  // namespace Backend
