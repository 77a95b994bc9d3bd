#include "fockspace/state_vector_distribution.h"

StateVectorDistribution::StateVectorDistribution() {
    map_.max_load_factor(1.0);
}
