#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fockspace/fock_space_function.h"
#include "states/fock_state.h"

// The back-end's results for the distinct parts of a noisy computation, keyed by selection photon
// count σ and part, and their products over the parts of one input, pruned depth-first.
namespace simulators::details {

using OutputList = std::vector<FockState>;
using OutputIndex = std::unordered_map<FockState, std::size_t>;
using ListPair = std::pair<OutputList const*, std::vector<double> const*>;
using MapPair = std::pair<OutputIndex const*, std::vector<double> const*>;

// Products of the pairs' distributions, outputs added mode by mode; a partial product below
// `threshold` is not expanded.
FockSpaceFunction listMerge(std::vector<ListPair> const& pairs, double threshold);
FockSpaceFunction mapMerge(std::vector<MapPair> const& pairs, double threshold);

// Keeps the back-end's vectors whole: suits dense results.
class VectorCache {
  public:
    using pair_type = ListPair;

    explicit VectorCache(double threshold) : threshold_(threshold) {}

    void set_output_states(int sigma, int n, std::function<OutputList()> const& getter);
    void add_result(int sigma, FockState const& part, double max_probability,
                    std::vector<double> probabilities);
    pair_type pair(int sigma, FockState const& part) const;
    FockSpaceFunction merge(std::vector<pair_type> const& pairs, double x) const;

  private:
    double threshold_;
    std::map<int, std::map<int, OutputList>> outputs_;
    std::map<int, std::unordered_map<FockState, std::vector<double>>> results_;
};

// Keeps, per part, only the outputs that can reach the threshold for the likeliest input holding
// the part, indexed once per (σ, photon count): suits sparse results.
class MapCache {
  public:
    using pair_type = MapPair;

    explicit MapCache(double threshold) : threshold_(threshold) {}

    void set_output_states(int sigma, int n, std::function<OutputList()> const& getter);
    void add_result(int sigma, FockState const& part, double max_probability,
                    std::vector<double> const& probabilities);
    pair_type pair(int sigma, FockState const& part) const;
    FockSpaceFunction merge(std::vector<pair_type> const& pairs, double x) const;
    void clear_internal_cache() { current_.clear(); }

  private:
    std::map<int, std::map<int, OutputIndex>> index_;
    std::map<int, std::unordered_map<FockState, std::vector<double>>> results_;
    double threshold_;
    OutputList current_;
    int current_sigma_ = -1;
    int current_n_ = -1;
};

}  // namespace simulators::details
