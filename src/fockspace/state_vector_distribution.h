#pragma once

#include <cstdint>
#include <unordered_map>

#include "states/state_vector.h"

// A mixed state: state vectors with their probabilities.
class StateVectorDistribution {
  public:
    using map_t = std::unordered_map<StateVector, double>;

    StateVectorDistribution();

    map_t& map() { return map_; }
    const map_t& map() const { return map_; }
    int max_photon_count() const { return max_photon_count_; }

  private:
    map_t map_;
    std::int32_t max_photon_count_ = 0;
};
