#pragma once

#include "fockspace/fock_space_distribution.h"

// Coarse-graining of distributions, for comparing large distributions roughly. Both renormalise
// through the checking constructor, so an empty input fails as an empty distribution.

// Every mode's photon count capped at the threshold; states that meet add their probabilities.
FockSpaceDistribution photon_threshold_simplification(FockSpaceDistribution const& d,
                                                      int photon_threshold);

// Consecutive groups of group_size modes merged into one mode each (the last group may be
// shorter).
FockSpaceDistribution group_modes_simplification(FockSpaceDistribution const& d, int group_size);
