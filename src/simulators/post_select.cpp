#include "simulators/post_select.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <utility>

#include <fmt/ranges.h>

#include "simulators/post_selection_parser.h"

namespace {

// The per-mode counts of a state, in a buffer each thread reuses: judging a state allocates
// nothing once the buffer has grown to the mode count.
std::vector<int> const& counts_of(FockState const& state) {
    thread_local std::vector<int> counts;
    state.to_vect(counts);
    return counts;
}

}  // namespace

PostSelect::PostSelect(std::string const& expression) {
    if (std::optional<post_selection::ast::GenericNode> root =
            post_selection::parse_expression(expression)) {
        predicate_.root = std::move(*root);
        noCondition_ = false;
    }
}

void PostSelect::clear() {
    predicate_.root = post_selection::ast::GenericNode();
    noCondition_ = true;
}

bool PostSelect::operator()(std::vector<int> const& counts) const {
    return noCondition_ || predicate_.root.evaluate(counts);
}

bool PostSelect::operator()(FockState const& state) const {
    return noCondition_ || predicate_.root.evaluate(counts_of(state));
}

bool PostSelect::operator()(NoisyFockState const& state) const {
    return (*this)(state.state());
}

bool PostSelect::operator()(AnnotatedFockState const& state) const {
    return (*this)(state.state());
}

bool PostSelect::budget_allows(FockState const& state, int totalPhotonCount) const {
    if (noCondition_) return true;
    const int remaining = static_cast<int>(std::clamp<long long>(
        static_cast<long long>(totalPhotonCount) - state.n(), INT_MIN, INT_MAX));
    const auto [out_of_reach, need] = predicate_.root.filterState(counts_of(state), remaining);
    if (need > 0) return remaining >= need;
    return !out_of_reach;
}

bool PostSelect::operator()(FockState const& state, int totalPhotonCount) const {
    return budget_allows(state, totalPhotonCount);
}

bool PostSelect::operator()(NoisyFockState const& state, int totalPhotonCount) const {
    return budget_allows(state.state(), totalPhotonCount);
}

bool PostSelect::operator()(AnnotatedFockState const& state, int totalPhotonCount) const {
    return budget_allows(state.state(), totalPhotonCount);
}

std::set<int> PostSelect::getModes() const {
    std::set<int> modes;
    if (!noCondition_) predicate_.root.getModes(modes);
    return modes;
}

void PostSelect::shiftModes(int offset) {
    if (noCondition_ || offset == 0) return;
    const std::set<int> modes = getModes();
    if (modes.empty()) return;
    const int lowest = *modes.begin();
    const int highest = *modes.rbegin();
    if (static_cast<long long>(lowest) + offset < 0)
        throw std::runtime_error(fmt::format(
            "Cannot shift modes: min is {}, offset is {} (would result in a negative value)",
            lowest, offset));
    if (static_cast<long long>(highest) + offset > INT_MAX)
        throw std::runtime_error(fmt::format(
            "Cannot shift modes: max is {}, offset is {} (would result in a value beyond {})",
            highest, offset, INT_MAX));
    predicate_.root.shiftModes(offset);
}

void PostSelect::applyPermutation(std::vector<int> const& permutation, int firstMode) {
    if (noCondition_) return;
    if (firstMode < 0)
        throw std::runtime_error(fmt::format(
            "In applyPermutation: first mode can't be negative (here is {})", firstMode));
    // An empty vector is the permutation of no mode.
    std::vector<bool> seen(permutation.size());
    for (const int value : permutation) {
        if (value < 0 || static_cast<std::size_t>(value) >= permutation.size() ||
            seen[static_cast<std::size_t>(value)])
            throw std::runtime_error(fmt::format("In applyPermutation: [{}] is not a permutation",
                                                 fmt::join(permutation, ", ")));
        seen[static_cast<std::size_t>(value)] = true;
    }
    if (static_cast<long long>(firstMode) + static_cast<long long>(permutation.size()) - 1 >
        INT_MAX)
        throw std::runtime_error(
            fmt::format("In applyPermutation: {} modes from mode {} would go beyond mode {}",
                        permutation.size(), firstMode, INT_MAX));
    predicate_.root.applyPermutation(permutation, firstMode);
}

bool PostSelect::isIndependentWith(PostSelect const& other) const {
    if (noCondition_ || other.noCondition_) return true;
    const std::set<int> mine = getModes();
    const std::set<int> theirs = other.getModes();
    return std::none_of(mine.begin(), mine.end(), [&](int mode) { return theirs.contains(mode); });
}

bool PostSelect::isAllSubsetOrIndependent(std::vector<int> const& modes) const {
    return noCondition_ || predicate_.root.canComposeWith(modes);
}

void PostSelect::merge(PostSelect const& other) {
    if (other.noCondition_) return;
    if (!noCondition_) {
        predicate_.merge(other.predicate_);
    } else {
        predicate_ = other.predicate_;
        noCondition_ = false;
    }
}

bool PostSelect::operator==(PostSelect const& other) const {
    return noCondition_ == other.noCondition_ && predicate_ == other.predicate_;
}

std::string PostSelect::toString() const {
    return noCondition_ ? std::string() : predicate_.root.toString();
}

std::unordered_map<FockState, unsigned long> PostSelect::filter(
    std::unordered_map<FockState, unsigned long> const& counts) const {
    std::unordered_map<FockState, unsigned long> kept;
    for (auto const& [state, count] : counts)
        if ((*this)(state)) kept.emplace(state, count);
    return kept;
}

std::vector<FockState> PostSelect::filter(std::vector<FockState> const& states) const {
    std::vector<FockState> kept;
    std::copy_if(states.begin(), states.end(), std::back_inserter(kept),
                 [this](FockState const& state) { return (*this)(state); });
    return kept;
}
