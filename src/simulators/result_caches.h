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

// A part's non-zero outcomes by decreasing probability, the states pointing into the cache's own
// storage: a product loop stops at the first outcome below its threshold.
struct SortedOutcomes {
    std::vector<FockState const*> states;
    std::vector<double> probabilities;

    void assign(std::vector<std::pair<double, FockState const*>>& outcomes);
};

// Products of the pairs' distributions, outputs added mode by mode; a partial product below
// `threshold` is not expanded.
FockSpaceFunction listMerge(std::vector<ListPair> const& pairs, double threshold);

// As listMerge over sorted outcomes, each product times `factor` added into `out`; returns the
// sum added. The products kept are the same whatever the order of the parts, since every
// probability is at most 1.
double sortedMerge(std::vector<SortedOutcomes const*> const& parts, double threshold, double factor,
                   FockSpaceFunction& out);

// Keeps the back-end's vectors whole: suits dense results.
class VectorCache {
  public:
    explicit VectorCache(double threshold) : threshold_(threshold) {}

    void set_output_states(int sigma, int n, std::function<OutputList()> const& getter);
    void add_result(int sigma, FockState const& part, double max_probability,
                    std::vector<double> probabilities);
    SortedOutcomes const* outcomes(int sigma, FockState const& part) const;
    // Adds x times the product of the parts' outcomes into out; returns the sum added.
    double merge(std::vector<SortedOutcomes const*> const& parts, double x,
                 FockSpaceFunction& out) const;

  private:
    struct Result {
        std::vector<double> probabilities;
        SortedOutcomes sorted;
    };

    double threshold_;
    std::map<int, std::map<int, OutputList>> outputs_;
    std::map<int, std::unordered_map<FockState, Result>> results_;
};

// Keeps, per part, only the outputs that can reach the threshold for the likeliest input holding
// the part, indexed once per (σ, photon count): suits sparse results.
class MapCache {
  public:
    explicit MapCache(double threshold) : threshold_(threshold) {}

    void set_output_states(int sigma, int n, std::function<OutputList()> const& getter);
    void add_result(int sigma, FockState const& part, double max_probability,
                    std::vector<double> const& probabilities);
    SortedOutcomes const* outcomes(int sigma, FockState const& part) const;
    double merge(std::vector<SortedOutcomes const*> const& parts, double x,
                 FockSpaceFunction& out) const;
    void clear_internal_cache() { current_.clear(); }

  private:
    struct Result {
        std::vector<double> compact;
        SortedOutcomes sorted;
    };

    std::map<int, std::map<int, OutputIndex>> index_;
    std::map<int, std::unordered_map<FockState, Result>> results_;
    double threshold_;
    OutputList current_;
    int current_sigma_ = -1;
    int current_n_ = -1;
};

}  // namespace simulators::details
