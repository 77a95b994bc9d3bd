#pragma once

#include <functional>
#include <vector>

#include "fockspace/fock_space_distribution.h"
#include "fockspace/fock_space_function.h"
#include "states/fock_state.h"

// Tensor and merge products of Fock-space functions and distributions: with one state, pairwise
// with a pruning threshold, and over lists of factors. Function results are never renormalised;
// distribution results (except the one-state tensor and merge) go through the checking
// constructor, so they are renormalised and fail when nothing is kept.

FockSpaceFunction tensor(FockSpaceFunction const& f, FockState const& fs);
FockSpaceFunction tensor(FockState const& fs, FockSpaceFunction const& f);
FockSpaceFunction merge(FockSpaceFunction const& f, FockState const& fs);
FockSpaceFunction operator*(FockSpaceFunction const& f, FockState const& fs);
FockSpaceFunction operator*(FockState const& fs, FockSpaceFunction const& f);

// Probabilities copied unchanged.
FockSpaceDistribution tensor(FockSpaceDistribution const& d, FockState const& fs);
FockSpaceDistribution tensor(FockState const& fs, FockSpaceDistribution const& d);
FockSpaceDistribution merge(FockSpaceDistribution const& d, FockState const& fs);
// Checked and renormalised.
FockSpaceDistribution operator*(FockSpaceDistribution const& d, FockState const& fs);
FockSpaceDistribution operator*(FockState const& fs, FockSpaceDistribution const& d);

// The threshold keeps the products whose magnitude is at least t.
FockSpaceFunction tensor_product(FockSpaceFunction const& a, FockSpaceFunction const& b);
FockSpaceFunction tensor_product(FockSpaceFunction const& a, FockSpaceFunction const& b, double t);
FockSpaceFunction operator*(FockSpaceFunction const& a, FockSpaceFunction const& b);
FockSpaceFunction merge_product(FockSpaceFunction const& a, FockSpaceFunction const& b);
FockSpaceFunction merge_product(FockSpaceFunction const& a, FockSpaceFunction const& b, double t);
FockSpaceFunction operator*(FockSpaceDistribution const& a, FockSpaceFunction const& b);
FockSpaceFunction operator*(FockSpaceFunction const& a, FockSpaceDistribution const& b);
FockSpaceDistribution tensor_product(FockSpaceDistribution const& a, FockSpaceDistribution const& b,
                                     double t);
FockSpaceDistribution operator*(FockSpaceDistribution const& a, FockSpaceDistribution const& b);
FockSpaceDistribution merge_product(FockSpaceDistribution const& a, FockSpaceDistribution const& b,
                                    double t);

// Products of lists, pruned depth-first: a partial product is dropped as soon as the largest
// values of the remaining factors cannot lift it to t.
FockSpaceFunction tensor_product(std::vector<FockSpaceFunction> const& list, double t);
FockSpaceFunction tensor_product(
    std::vector<std::reference_wrapper<FockSpaceFunction const>> const& list, double t);
FockSpaceFunction merge_product(std::vector<FockSpaceFunction> const& list, double t);
FockSpaceFunction merge_product(std::vector<std::reference_wrapper<FockSpaceFunction>> const& list,
                                double t);
// An empty list gives the 0-mode vacuum with probability 1.
FockSpaceDistribution tensor_product(std::vector<FockSpaceDistribution> const& list, double t);
FockSpaceDistribution tensor_product(
    std::vector<std::reference_wrapper<FockSpaceDistribution const>> const& list, double t);
// An empty list has no mode count to merge into: it fails as an empty distribution does.
FockSpaceDistribution merge_product(std::vector<FockSpaceDistribution> const& list, double t);
FockSpaceDistribution merge_product(
    std::vector<std::reference_wrapper<FockSpaceDistribution const>> const& list, double t);
