#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "runtime/hash.h"
#include "states/code_buffer.h"
#include "states/state_format.h"

class ParsedBasicState;

// A perfect basic state: n indistinguishable photons over m modes (at most 256), stored as its
// photon code, the mode of each photon in ascending order (|1,0,2> is 0,2,2).
class FockState {
  public:
    using code_t = CodeBuffer_t<unsigned char, true>;
    static constexpr int max_modes = 256;
    static constexpr int max_photons = 256;

    FockState() noexcept = default;
    explicit FockState(int m);
    FockState(int m, int n);
    // Takes the code over as it is (owned, inline or borrowed); the caller guarantees a sorted
    // code whose bytes are below m.
    FockState(int m, code_t&& code) noexcept : code_(std::move(code)), m_(m) {}
    explicit FockState(std::vector<int> const& counts);
    // Checked as the counts above; a parsed text holding noise tags or annotations is refused.
    explicit FockState(ParsedBasicState const& parsed);
    // Parses the notation "|1,0,2>"; syntax errors throw std::invalid_argument.
    explicit FockState(std::string const& text);

    FockState(FockState const& other) = default;
    // A borrowed code is copied: a moved state may outlive the array its bytes belong to.
    // noexcept keeps containers moving states; a failed allocation here terminates.
    FockState(FockState&& other) noexcept;
    FockState& operator=(FockState const& other) = default;
    FockState& operator=(FockState&& other) noexcept;
    ~FockState() = default;

    int m() const { return m_; }
    int n() const { return static_cast<int>(code_.size()); }
    code_t const& code() const { return code_; }
    const unsigned char* data() const { return code_.data(); }
    // Writable code bytes for cursors that rewrite a state of fixed m and n in place; a borrowed
    // code is copied first.
    unsigned char* mutable_data() { return code_.mutable_data(); }

    int operator[](int k) const;
    int photon2mode(int i) const;
    int mode2photon(int k) const;
    std::vector<int> to_vect() const;
    void to_vect(std::vector<int>& out) const;

    bool operator==(FockState const& other) const {
        const std::size_t n = code_.size();
        return m_ == other.m_ && n == other.code_.size() &&
               (n == 0 || std::memcmp(code_.data(), other.code_.data(), n) == 0);
    }
    bool operator!=(FockState const& other) const { return !(*this == other); }
    int spaceship(FockState const& other) const {
        if (m_ != other.m_) return m_ < other.m_ ? -1 : 1;
        const std::size_t n = code_.size();
        if (n != other.code_.size()) return n < other.code_.size() ? -1 : 1;
        return n == 0 ? 0 : std::memcmp(code_.data(), other.code_.data(), n);
    }
    bool operator<(FockState const& other) const { return spaceship(other) < 0; }
    bool operator<=(FockState const& other) const { return spaceship(other) <= 0; }
    bool operator>(FockState const& other) const { return spaceship(other) > 0; }
    bool operator>=(FockState const& other) const { return spaceship(other) >= 0; }

    std::uint64_t hash() const {
        const std::size_t n = code_.size();
        std::uint64_t seed =
            Utils::hash_combine(0, static_cast<std::uint64_t>(static_cast<std::int64_t>(m_)));
        seed = Utils::hash_combine(seed, n);
        return Utils::hash_combine(seed, Utils::hash_bytes(code_.data(), n));
    }

    std::string to_str() const;

    // Successor in the natural order (ascending codes); false, back at the first state, after the
    // last one, and false without change when there is no photon.
    bool increment();

    FockState& operator*=(FockState const& other);
    FockState pow(unsigned int k) const;
    FockState merge(FockState const& other) const;
    FockState merge(FockState&& other) const;
    FockState threshold_detection() const;
    FockState threshold_detection(int k) const;
    double prodnfact() const;
    void _check_slice(int& start, int& end, int step, int& modes, int& photons) const;
    FockState slice(int start, int end, int step) const;
    FockState set_slice(FockState const& other, int start, int end) const;
    FockState remove_modes(std::vector<unsigned char> modes) const;

  private:
    code_t code_;
    std::int32_t m_ = 0;
};

static_assert(sizeof(FockState) == 16);

inline FockState operator*(FockState a, FockState const& b) {
    a *= b;
    return a;
}

std::ostream& operator<<(std::ostream& os, FockState const& state);

template <>
struct std::hash<FockState> {
    std::size_t operator()(FockState const& state) const noexcept { return state.hash(); }
};

template <>
struct fmt::formatter<FockState> {
    // Empty or "h": a perfect state has only the plain form.
    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        bool plain = false;
        return StateFormat::parse(ctx, plain);
    }

    template <typename FormatContext>
    auto format(FockState const& state, FormatContext& ctx) const -> decltype(ctx.out()) {
        auto out = ctx.out();
        *out++ = '|';
        const unsigned char* p = state.data();
        const unsigned char* end = p + state.n();
        for (int k = 0; k < state.m(); ++k) {
            if (k) *out++ = ',';
            int count = 0;
            while (p != end && *p == k) ++p, ++count;
            out = fmt::format_to(out, "{}", count);
        }
        *out++ = '>';
        return out;
    }
};
