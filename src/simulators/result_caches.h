#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
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

// Photon counts packed in 64 / m bits per mode, so that merging two states is one addition; used
// when every count of a computation fits.
class PackedModes {
  public:
    static std::optional<PackedModes> fit(int m, int max_photons);
    std::uint64_t pack(FockState const& state) const;
    FockState unpack(std::uint64_t key) const;

  private:
    PackedModes(int m, int bits) : m_(m), bits_(bits) {}

    int m_;
    int bits_;
};

// Sums by packed state in an open-addressing table: the products' hot path.
class PackedAccumulator {
  public:
    void add(std::uint64_t key, double value);
    FockSpaceFunction to_function(PackedModes const& packing) const;

  private:
    void grow();

    std::vector<std::uint64_t> keys_;  // key + 1; 0 marks an empty slot
    std::vector<double> values_;
    std::size_t size_ = 0;
    int shift_ = 64;
};

// A part's non-zero outcomes by decreasing probability, the states pointing into the cache's own
// storage: a product loop stops at the first outcome below its threshold.
struct SortedOutcomes {
    std::vector<FockState const*> states;
    std::vector<double> probabilities;
    std::vector<std::uint64_t> packed;  // filled when the cache packs states

    void assign(std::vector<std::pair<double, FockState const*>>& outcomes,
                std::optional<PackedModes> const& packing);
};

// Products of the pairs' distributions, outputs added mode by mode; a partial product below
// `threshold` is not expanded.
FockSpaceFunction listMerge(std::vector<ListPair> const& pairs, double threshold);

// As listMerge over sorted outcomes, each product times `factor` added into `out`; returns the
// sum added. The products kept are the same whatever the order of the parts, since every
// probability is at most 1.
double sortedMerge(std::vector<SortedOutcomes const*> const& parts, double threshold, double factor,
                   FockSpaceFunction& out);
double sortedMerge(std::vector<SortedOutcomes const*> const& parts, double threshold, double factor,
                   PackedAccumulator& out);

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
    double merge(std::vector<SortedOutcomes const*> const& parts, double x,
                 PackedAccumulator& out) const;
    // Outcomes added afterwards also carry their packed states.
    void set_packing(std::optional<PackedModes> packing) { packing_ = packing; }

  private:
    std::optional<PackedModes> packing_;
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
    double merge(std::vector<SortedOutcomes const*> const& parts, double x,
                 PackedAccumulator& out) const;
    void set_packing(std::optional<PackedModes> packing) { packing_ = packing; }
    void clear_internal_cache() { current_.clear(); }

  private:
    std::optional<PackedModes> packing_;
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
