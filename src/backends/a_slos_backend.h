#pragma once

#include <complex>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "backends/i_prob_backend.h"
#include "fockspace/fs_mask.h"
#include "runtime/matrix.h"
#include "states/fock_state.h"

namespace Backend {

// The layer-by-layer back-ends whose output space is pruned by a predicate: they hold the same
// configuration and result cache, and differ in the structure they compile for a mode count, a
// photon count and the predicate, and in the pass that computes the amplitudes over it. The
// unitary may be rectangular: its rows are the output modes, its columns the input modes.
class ASlosBackend : public IProbBackend {
  public:
    ASlosBackend& operator=(ASlosBackend const&) = delete;
    ASlosBackend& operator=(ASlosBackend&&) = delete;
    ~ASlosBackend() override = default;

    // Any finite matrix; a NaN or an infinity is refused (std::invalid_argument).
    void setUnitary(Matrix unitary) override;
    // An equal state keeps the results.
    void setInputState(FockState const& input_state) override;
    void setMask(std::optional<FsMask> mask) override;
    std::vector<std::complex<double>> const& getAmplitudes() override;
    AmplitudeConvention amplitudeConvention() const override {
        return AmplitudeConvention::physical;
    }
    std::vector<double> computeProbabilities() override;

    // An empty predicate accepts every output state.
    void set_predicate(std::function<bool(FockState const&)> predicate);
    // Read at the next computation or build; results already computed stay.
    void set_backward(bool flag) { backward_ = flag; }
    // Rebuilds the compiled structure only when the mode or photon count changed.
    void compile(int k);
    // Always recomputes.
    virtual void compute() = 0;
    // The position of the state's amplitude, from the structure as last compiled.
    virtual std::optional<unsigned long> get_index(FockState const& state) const = 0;

  protected:
    // re² + im²: std::norm squares a hypot, many times slower and no more accurate here.
    static double probability(std::complex<double> const& a) {
        return a.real() * a.real() + a.imag() * a.imag();
    }

    // Reserves room for the count of probabilities, in huge pages where the kernel grants them.
    static void reserve_probabilities(std::vector<double>& probabilities, std::size_t count);

    ASlosBackend() = default;
    ASlosBackend(ASlosBackend const&) = default;
    ASlosBackend(ASlosBackend&&) = default;

    // Drops the compiled structure, built with a predicate that no longer holds.
    virtual void discard_compiled() = 0;
    // Builds the structure for m_ modes and k photons unless the held one has those sizes.
    virtual void compile_for(int k) = 0;

    Matrix unitary_;
    FockState input_state_;
    std::function<bool(FockState const&)> predicate_;
    int m_ = 0;
    int n_ = 0;
    // Empty when nothing is computed.
    std::vector<std::complex<double>> amplitudes_;
    // Counts the changes that drop the results.
    std::uint64_t generation_ = 0;
    bool backward_ = false;
};

}  // namespace Backend
