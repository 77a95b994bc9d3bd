#pragma once

#include <complex>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "backends/i_prob_backend.h"
#include "backends/slos_map.h"

namespace Backend {

// All output amplitudes of a unitary on one input state, as one linear pass per layer over a
// link map compiled once for the mode count, the photon count and the output predicate, and
// reused for every unitary and input of those sizes. The unitary may be rectangular: its rows
// are the output modes, its columns the input modes.
class SLOS_V3 : public IProbBackend {
  public:
    SLOS_V3() = default;
    SLOS_V3(SLOS_V3 const&) = default;
    SLOS_V3(SLOS_V3&&) = default;
    SLOS_V3& operator=(SLOS_V3 const&) = delete;
    SLOS_V3& operator=(SLOS_V3&&) = delete;
    ~SLOS_V3() override = default;

    std::shared_ptr<IProbBackend> clone() const override;
    void setUnitary(Matrix unitary) override;
    // An equal state keeps the results.
    void setInputState(FockState const& input_state) override;
    void setMask(std::optional<FsMask> mask) override;
    std::vector<FockState> getFockSpace() override;
    std::vector<std::complex<double>> const& getAmplitudes() override;
    std::vector<double> computeProbabilities() override;
    FockSpaceFunction computeProbabilityDistribution() override;

    // An empty predicate accepts every output state. Zero photons always give the vacuum.
    void set_predicate(std::function<bool(FockState const&)> predicate);
    // The link order of the next map built; results and the held map stay.
    void set_backward(bool flag) { backward = flag; }
    // Rebuilds the map only when the mode or photon count changed.
    void compile(int k);
    // Always recomputes.
    void compute();
    // The position of the state's amplitude, from the map as last built.
    std::optional<unsigned long> get_index(FockState const& state) const;

  private:
    template <typename T>
    void run(SlosMap_t<T> const& map, double input_factor);

    Matrix unitary;
    FockState input_state;
    std::function<bool(FockState const&)> predicate;
    int m = 0;
    int n = 0;
    std::vector<std::complex<double>> amplitudes;
    SlosMap slos_map;
    bool backward = false;
    std::vector<std::complex<double>> current;
    std::vector<std::complex<double>> next;
};

}  // namespace Backend
