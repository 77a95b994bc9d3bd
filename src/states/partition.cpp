#include "states/partition.h"

#include <cstddef>
#include <cstdint>
#include <ranges>
#include <unordered_set>
#include <utility>

#include "runtime/combinatorics.h"
#include "runtime/hash.h"
#include "runtime/interrupt_signal_handler.h"

namespace Utils {

namespace {

struct StatesHash {
    std::size_t operator()(std::vector<FockState> const& states) const {
        std::uint64_t seed = 0;
        for (FockState const& s : states) seed = hash_combine(seed, s.hash());
        return seed;
    }
};

}  // namespace

std::vector<std::vector<FockState>> partition(FockState const& state,
                                              std::vector<int> const& sizes) {
    Way prefix;
    const std::vector<Way> ways = get_combinations(std::views::iota(0, state.n()), sizes, prefix);

    std::unordered_set<std::vector<FockState>, StatesHash> distinct;
    std::vector<int> counts;
    InterruptSignalHandler::Poll poll;
    for (const Way& way : ways) {
        poll();
        std::vector<FockState> states;
        states.reserve(way.size());
        for (const Group& group : way) {
            counts.assign(static_cast<std::size_t>(state.m()), 0);
            for (int photon : group) ++counts[static_cast<std::size_t>(state.photon2mode(photon))];
            states.emplace_back(counts);
        }
        distinct.insert(std::move(states));
    }

    std::vector<std::vector<FockState>> result;
    result.reserve(distinct.size());
    while (!distinct.empty())
        result.push_back(std::move(distinct.extract(distinct.begin()).value()));
    return result;
}

}  // namespace Utils
