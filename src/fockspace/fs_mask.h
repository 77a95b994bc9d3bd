#pragma once

#include <list>
#include <string>
#include <vector>

class FockState;

// Per-mode photon-count conditions over a Fock space of m modes, OR-ed together. A condition has
// one byte per mode: "0" to "O" expect a count of 0 to 31, any other byte accepts any count.
class FsMask {
  public:
    FsMask(int m, int n, std::list<std::string> conditions);
    FsMask(int m, int n, std::list<std::string> conditions,
           std::vector<int> const& unbounded_modes);
    FsMask(int m, int n, std::string const& condition);
    FsMask(int m, int n, std::string const& condition, std::vector<int> const& unbounded_modes);

    // Lifts the upper bound of the listed modes; indices outside [0, m) are ignored.
    void parse_limits(std::vector<int> const& unbounded_modes);

    // With allow_missing, fs may still lack photons that complete it to the mask's n photons.
    bool match(FockState const& fs, bool allow_missing) const;
    bool inner_match_incomplete_state(std::vector<int> const& counts, int photons) const;
    bool inner_match_exact(std::vector<int> const& counts) const;

    bool operator==(FsMask const&) const = default;

  private:
    void check_size(std::size_t size) const;

    bool _inner_match_incomplete_state(int const* counts, int photons) const;
    bool _inner_match_incomplete_state_no_limit(int const* counts, int photons) const;
    bool _inner_match_exact(int const* counts) const;
    bool _inner_match_no_limit(int const* counts) const;
    // The four matchers above: with AllowMissing, counts may still be completed by the photons
    // the mask's n leaves beyond `photons`; with Unbounded, the listed modes have no upper bound.
    template <bool AllowMissing, bool Unbounded>
    bool match_counts(int const* counts, int photons) const;

    int m_;
    int n_;
    std::list<std::string> conditions_;
    std::vector<bool> unbounded_;
};
