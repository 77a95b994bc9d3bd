#pragma once

#include "fockspace/state_vector_distribution.h"

namespace simulators {

// The input distribution of either simulator with its probabilities divided by their sum, so
// that both read the same mixture from it. Refuses (std::invalid_argument) a probability that is
// not finite or outside [0, 1], probabilities that sum to 0, a state vector without components
// and one whose norm is not finite and positive. The state vectors are kept as they are; an empty
// distribution is returned empty.
StateVectorDistribution normalized_input(StateVectorDistribution const& svd);

}  // namespace simulators
