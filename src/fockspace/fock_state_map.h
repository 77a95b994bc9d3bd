#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fockspace/fs_array.h"
#include "runtime/interrupt_signal_handler.h"
#include "states/fock_state.h"

namespace details {

// Non-zero entries of each map must appear in the other with exactly the same value; zero
// entries are ignored and a NaN never matches.
bool fock_space_maps_equal(std::unordered_map<FockState, double> const& a,
                           std::unordered_map<FockState, double> const& b);

}  // namespace details

// The sparse map from perfect Fock states of one mode count to doubles that FockSpaceFunction
// and FockSpaceDistribution are built on, iterated in the hash map's own order; each adds the
// edits its values allow.
class FockStateMap {
  public:
    using map_type = std::unordered_map<FockState, double>;
    using const_iterator = map_type::const_iterator;

    const_iterator begin() const { return map_.begin(); }
    const_iterator end() const { return map_.end(); }
    std::size_t size() const { return map_.size(); }

    // 0 for a state that is not stored.
    double get(FockState const& fs) const;
    bool contains(FockState const& fs) const { return map_.contains(fs); }
    void reserve(std::size_t n) { map_.reserve(n); }

    // The mode count of the stored states; none while the map is empty.
    std::optional<int> get_m() const;
    void check_m(FockState const& fs) const;

  protected:
    FockStateMap() { map_.max_load_factor(1.0); }
    // Unless trusted, every key must have the mode count of the first one.
    FockStateMap(map_type map, bool trusted);

    // Throws unless every key has the mode count of the first one.
    static void check_modes(map_type const& map);

    FockStateMap(FockStateMap const&) = default;
    FockStateMap& operator=(FockStateMap const&) = default;
    // The source is left empty, which the standard map alone does not promise.
    FockStateMap(FockStateMap&& other) noexcept : map_(std::move(other.map_)) {
        other.map_.clear();
    }
    FockStateMap& operator=(FockStateMap&& other) noexcept {
        if (this != &other) {
            map_ = std::move(other.map_);
            other.map_.clear();
        }
        return *this;
    }
    ~FockStateMap() = default;

    // Stores the states of the array whose value passes `keep` (one value per state, in array
    // order) and returns the sum of the kept values, added in array order.
    template <typename Keep>
    double insert_kept(FsArray const& fsa, std::vector<double> const& values, Keep keep) {
        if (values.size() != fsa.count())
            throw std::invalid_argument(
                "Number of states is not consistent with number of probabilities");
        map_.reserve(values.size());
        double sum = 0.0;
        auto value = values.begin();
        InterruptSignalHandler::Poll poll;
        for (auto it = fsa.begin(); it != fsa.end(); ++it, ++value) {
            poll();
            if (keep(*value)) {
                map_.emplace(*it, *value);
                sum += *value;
            }
        }
        return sum;
    }

    static map_type const& map_of(FockStateMap const& other) { return other.map_; }

    map_type map_;
};
