#pragma once

#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <fmt/format.h>

#include "simulators/post_selection_ast.h"
#include "states/annotated_fock_state.h"
#include "states/fock_state.h"
#include "states/noisy_fock_state.h"

// A predicate on basic states written as a post-selection expression, such as
// "[0,1] == 1 & [2] > 1": it judges a state by the photon count of each mode only. Without a
// condition it accepts every state. Copies are deep.
class PostSelect {
  public:
    PostSelect() = default;
    // An empty or all-space text holds no condition. Throws std::runtime_error on a text that
    // does not parse or names an invalid condition.
    explicit PostSelect(std::string const& expression);

    bool hasCondition() const { return !noCondition_; }
    void clear();

    // counts: one photon count per mode; a mode beyond them holds no photon.
    bool operator()(std::vector<int> const& counts) const;
    bool operator()(FockState const& state) const;
    bool operator()(NoisyFockState const& state) const;
    bool operator()(AnnotatedFockState const& state) const;
    // Whether the state, holding part of `totalPhotonCount` photons, can still pass once the
    // others are added.
    bool operator()(FockState const& state, int totalPhotonCount) const;
    bool operator()(NoisyFockState const& state, int totalPhotonCount) const;
    bool operator()(AnnotatedFockState const& state, int totalPhotonCount) const;

    std::set<int> getModes() const;
    // Throws std::runtime_error, leaving the modes as they were, when a mode would leave the int
    // range (below 0 included).
    void shiftModes(int offset);
    // Mode m in [firstMode, firstMode + size) becomes firstMode + permutation[m - firstMode].
    // Throws std::runtime_error, changing nothing, on a negative first mode, on a vector that is
    // not a permutation of 0 to size - 1, and on a window that leaves the int range.
    void applyPermutation(std::vector<int> const& permutation, int firstMode);
    // No mode named by both.
    bool isIndependentWith(PostSelect const& other) const;
    // Every condition's mode list holds all of `modes` or none of them.
    bool isAllSubsetOrIndependent(std::vector<int> const& modes) const;

    // This becomes the AND of both.
    void merge(PostSelect const& other);
    bool operator==(PostSelect const& other) const;
    // Empty without condition; the text reads back as an equal PostSelect.
    std::string toString() const;

    std::unordered_map<FockState, unsigned long> filter(
        std::unordered_map<FockState, unsigned long> const& counts) const;
    std::vector<FockState> filter(std::vector<FockState> const& states) const;

  private:
    bool budget_allows(FockState const& state, int totalPhotonCount) const;

    post_selection::ast::Predicate predicate_;
    bool noCondition_ = true;
};

template <>
struct fmt::formatter<PostSelect> : fmt::formatter<std::string_view> {
    auto format(PostSelect const& post_select, fmt::format_context& ctx) const {
        return fmt::formatter<std::string_view>::format(post_select.toString(), ctx);
    }
};
