#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "states/fock_state.h"

class ParsedBasicState;

// A Fock state whose photons carry a noise tag (0 to 255) naming their batch: photons of one
// batch are indistinguishable, photons of different batches are not. The tags run parallel to
// the photon code (photon i sits in mode code[i] with tag tags[i]) and are kept ascending within
// each mode, so equal states compare and hash equal.
class NoisyFockState {
  public:
    NoisyFockState() noexcept = default;
    // Every photon tagged 0.
    explicit NoisyFockState(FockState const& fs);
    explicit NoisyFockState(FockState&& fs);
    // Takes the tags over unchecked and unsorted: n of them, or null when there is no photon.
    NoisyFockState(FockState const& fs, std::unique_ptr<unsigned char[]>&& tags);
    NoisyFockState(FockState&& fs, std::unique_ptr<unsigned char[]>&& tags) noexcept;
    // One tag per photon, photons ordered by mode; sorted within each mode unless the caller
    // says they already are.
    NoisyFockState(FockState const& fs, std::vector<unsigned char> const& tags,
                   bool already_sorted);
    NoisyFockState(FockState&& fs, std::vector<unsigned char> const& tags, bool already_sorted);
    // Untagged photons of a tagged text get tag 0 and come first in their mode.
    explicit NoisyFockState(ParsedBasicState const& parsed);
    explicit NoisyFockState(std::string const& text);

    NoisyFockState(NoisyFockState const& other);
    NoisyFockState(NoisyFockState&& other) noexcept = default;
    NoisyFockState& operator=(NoisyFockState const& other);
    NoisyFockState& operator=(NoisyFockState&& other) noexcept = default;
    ~NoisyFockState() = default;

    FockState const& state() const { return state_; }
    int m() const { return state_.m(); }
    int n() const { return state_.n(); }
    const unsigned char* tags() const { return tags_.get(); }

    int operator[](int k) const { return state_[k]; }
    int photon2mode(int i) const { return state_.photon2mode(i); }
    int mode2photon(int k) const { return state_.mode2photon(k); }
    std::vector<unsigned char> get_mode_annotations(unsigned char k) const;
    unsigned char get_photon_annotation(unsigned char i) const;

    bool operator==(NoisyFockState const& other) const;
    bool operator!=(NoisyFockState const& other) const { return !(*this == other); }
    std::uint64_t hash() const {
        return Utils::hash_bytes(tags_.get(), static_cast<std::size_t>(n()), state_.hash());
    }

    std::vector<FockState> separate_state() const;
    std::map<unsigned char, FockState> split_state() const;
    std::string to_str(bool show_annotations = true) const;
    // Only reorders tags of photons sharing a mode, which are interchangeable, hence const.
    void sort_noise() const;
    void check_slice(int& start, int& end) const;

    NoisyFockState& operator*=(NoisyFockState const& other);
    NoisyFockState pow(unsigned int k) const;
    NoisyFockState merge(NoisyFockState const& other) const;
    NoisyFockState slice(int start, int end, int step) const;
    NoisyFockState set_slice(NoisyFockState const& other, int start, int end) const;
    NoisyFockState remove_modes(std::vector<unsigned char> modes) const;

  private:
    FockState state_;
    std::unique_ptr<unsigned char[]> tags_;
};

inline NoisyFockState operator*(NoisyFockState a, NoisyFockState const& b) {
    a *= b;
    return a;
}

std::ostream& operator<<(std::ostream& os, NoisyFockState const& state);

template <>
struct std::hash<NoisyFockState> {
    std::size_t operator()(NoisyFockState const& state) const noexcept { return state.hash(); }
};

template <>
struct fmt::formatter<NoisyFockState> {
    // Empty: the noisy notation; only "h" characters: the plain form without tags.
    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        auto it = ctx.begin();
        while (it != ctx.end() && *it == 'h') ++it;
        plain = it != ctx.begin();
        if (it != ctx.end() && *it != '}')
            throw format_error(std::string("invalid format for FockState ") +
                               std::string(ctx.begin(), ctx.end()));
        return it;
    }

    template <typename FormatContext>
    auto format(NoisyFockState const& state, FormatContext& ctx) const -> decltype(ctx.out()) {
        auto out = ctx.out();
        if (plain) return fmt::format_to(out, "{}", state.state());
        *out++ = '|';
        const unsigned char* code = state.state().data();
        const unsigned char* tags = state.tags();
        const int n = state.n();
        int i = 0;
        for (int k = 0; k < state.m(); ++k) {
            if (k) *out++ = ',';
            if (i == n || code[i] != k) {
                *out++ = '0';
                continue;
            }
            while (i < n && code[i] == k) {
                int j = i + 1;
                while (j < n && code[j] == k && tags[j] == tags[i]) ++j;
                if (j - i > 1) out = fmt::format_to(out, "{}", j - i);
                out = fmt::format_to(out, "{{{}}}", tags[i]);
                i = j;
            }
        }
        *out++ = '>';
        return out;
    }

    bool plain = false;
};
