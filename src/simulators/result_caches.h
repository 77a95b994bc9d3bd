#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fockspace/fock_space_function.h"
#include "fockspace/fock_state_ranks.h"
#include "states/fock_state.h"

// The back-end's results for the distinct parts of a noisy computation, keyed by selection photon
// count σ and part, and their products over the parts of one input, pruned depth-first.
namespace simulators::details {

using OutputList = std::vector<FockState>;
using ListPair = std::pair<OutputList const*, std::vector<double> const*>;

// Photon counts packed in 64 / m bits per mode, so that merging two states is one addition; used
// when every count of a computation fits.
class PackedModes {
  public:
    static std::optional<PackedModes> fit(int m, int max_photons);
    std::uint64_t pack(FockState const& state) const;
    FockState unpack(std::uint64_t key) const;

    int m() const { return m_; }
    int bits() const { return bits_; }
    // The largest photon count of a state packed by this computation.
    int max_photons() const { return max_photons_; }

  private:
    PackedModes(int m, int bits, int max_photons) : m_(m), bits_(bits), max_photons_(max_photons) {}

    int m_;
    int bits_;
    int max_photons_;
};

// Sums by packed state: the products' hot path. States of few photons go to a dense array by
// their rank among the states of their photon count, which costs no probing; the others to an
// open-addressing table.
class PackedAccumulator {
  public:
    // At most `dense_limit` dense values: the array is cleared and read whole, so a computation
    // with few outputs keeps it small.
    explicit PackedAccumulator(PackedModes packing, std::size_t dense_limit = std::size_t{1} << 17);

    PackedModes const& packing() const { return packing_; }

    void add(std::uint64_t key, double value) {
        const auto [rank, n] = rank_of(key);
        if (n < offsets_.size())
            dense_[offsets_[n] + rank] += value;
        else
            add_sparse(key, value);
    }
    // A state's rank among the states of its photon count, and that count; the rank is only
    // meaningful when the count is dense.
    std::pair<std::uint64_t, std::size_t> rank_of(std::uint64_t key) const {
        const int bits = packing_.bits();
        const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
        return ranks_.colex_rank_and_count([&key, bits, mask](std::size_t) {
            const std::uint64_t photons = key & mask;
            key >>= bits;
            return photons;
        });
    }
    bool dense(std::size_t n) const { return n < offsets_.size(); }
    std::size_t dense_offset(std::size_t n) const { return offsets_[n]; }
    // The ranks, among the states of n + 1 photons, of `key` (n photons, rank r) plus one photon
    // on each mode. Computed from the key on first use and kept for the accumulator's life, as
    // the same states recur across parts; n + 1 must be dense.
    std::uint32_t const* successors(std::uint64_t key, std::size_t n, std::uint64_t r) {
        if (n < successors_.size()) {
            SuccessorRows const& rows = successors_[n];
            if (rows.ranks && rows.filled[r]) return rows.ranks.get() + r * rows.width;
        }
        return fill_successors(key, n, r);
    }
    void add_at(std::size_t slot, double value) { dense_[slot] += value; }
    // The dense values by slot; the array never moves.
    double* dense_values() { return dense_.data(); }
    double sum() const;
    // Every value divided by `divisor`.
    FockSpaceFunction to_function(double divisor = 1.0) const;

  private:
    struct Slot {
        std::uint64_t key;  // key + 1; 0 marks an empty slot
        double value;
    };
    void add_sparse(std::uint64_t key, double value);
    void grow();

    PackedModes packing_;
    // Up to the packing's largest photon count.
    FockStateRanks ranks_;
    std::vector<std::size_t> offsets_;  // start of each dense photon count in dense_
    std::vector<double> dense_;
    struct SuccessorRows {
        std::unique_ptr<std::uint32_t[]> ranks;  // `width` (m) per state, valid where filled
        std::vector<std::uint8_t> filled;
        std::size_t width = 0;
    };
    std::uint32_t const* fill_successors(std::uint64_t key, std::size_t n, std::uint64_t r);
    std::vector<SuccessorRows> successors_;  // by photon count
    std::vector<Slot> slots_;
    std::size_t size_ = 0;
    int shift_ = 64;
};

// The output states of one (σ, photon count), with their packed forms when the cache packs.
struct OutputTable {
    OutputList states;
    std::vector<std::uint64_t> packed;
};

// A part's non-zero outcomes by decreasing probability, as positions in their output table: a
// product loop stops at the first outcome below its threshold.
struct SortedOutcomes {
    OutputTable const* table = nullptr;
    std::vector<std::uint32_t> positions;
    std::vector<double> probabilities;
    std::vector<std::uint64_t> packed;  // the table's packed states, in this order

    // Sorts `outcomes` (probability, position) in place and keeps the positive ones.
    void assign(OutputTable const& from, std::vector<std::pair<double, std::uint32_t>>& outcomes);
    FockState const& state(std::size_t i) const { return table->states[positions[i]]; }
};

// Products of the pairs' distributions, outputs added mode by mode; a partial product below
// `threshold` is not expanded.
FockSpaceFunction listMerge(std::vector<ListPair> const& pairs, double threshold);

// As listMerge over sorted outcomes, each product times `factor` added into `out`; returns the
// sum added. The products kept are the same whatever the order of the parts, since every
// probability is at most 1.
double sortedMerge(std::vector<SortedOutcomes const*> const& parts, double threshold, double factor,
                   FockSpaceFunction& out);

// `probability` times each product of the parts' outcomes whose value (probability × product)
// reaches `threshold`, added into `out`; returns the sum added. What both caches' merge does.
double scaledMerge(std::vector<SortedOutcomes const*> const& parts, double threshold,
                   double probability, FockSpaceFunction& out);

// One input of a packed product: its parts' outcomes and its probability.
struct ProductInput {
    std::vector<SortedOutcomes const*> parts;
    double probability = 0.0;
};

// For every input, its probability times each product of its parts' outcomes whose value
// (probability × product) reaches `cutoff`, added into `out` by packed state; returns the sum
// added. The same products as scaledMerge with threshold `cutoff`, computed at once for all
// inputs: the outcomes of each input's largest part are expanded once per distinct partial state
// of the other parts, over all inputs sharing that part. `done` is called with the number of
// inputs finished so far.
double packedMerge(std::vector<ProductInput> const& inputs, double cutoff, PackedAccumulator& out,
                   std::function<void(std::size_t)> const& done = {});

// Keeps the back-end's vectors whole: suits dense results.
class VectorCache {
  public:
    explicit VectorCache(double threshold) : threshold_(threshold) {}

    void set_output_states(int sigma, int n, std::function<OutputList()> const& getter);
    void add_result(int sigma, FockState const& part, double max_probability,
                    std::vector<double> probabilities);
    SortedOutcomes const* outcomes(int sigma, FockState const& part) const;
    // scaledMerge at this cache's threshold.
    double merge(std::vector<SortedOutcomes const*> const& parts, double probability,
                 FockSpaceFunction& out) const;
    double threshold() const { return threshold_; }
    // Output tables filled afterwards also carry their packed states.
    void set_packing(std::optional<PackedModes> packing) { packing_ = packing; }

  private:
    struct Result {
        std::vector<double> probabilities;
        SortedOutcomes sorted;
    };

    std::optional<PackedModes> packing_;
    double threshold_;
    std::map<int, std::map<int, OutputTable>> outputs_;
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
    // scaledMerge at this cache's threshold.
    double merge(std::vector<SortedOutcomes const*> const& parts, double probability,
                 FockSpaceFunction& out) const;
    double threshold() const { return threshold_; }
    void set_packing(std::optional<PackedModes> packing) { packing_ = packing; }
    void clear_internal_cache() { current_.clear(); }

  private:
    // The states of a (σ, photon count) kept for some part, and the slot of each position of the
    // back-end's list among them (-1 when kept for no part): the back-end lists the same states
    // in the same order for every part of a (σ, photon count).
    struct OutputIndex {
        std::vector<std::int32_t> slots;
        OutputTable kept;
    };
    struct Result {
        std::vector<double> compact;  // by slot; 0 at slots kept for other parts only
        SortedOutcomes sorted;
    };

    std::optional<PackedModes> packing_;
    std::map<int, std::map<int, OutputIndex>> index_;
    std::map<int, std::unordered_map<FockState, Result>> results_;
    double threshold_;
    OutputList current_;
    int current_sigma_ = -1;
    int current_n_ = -1;
};

}  // namespace simulators::details
