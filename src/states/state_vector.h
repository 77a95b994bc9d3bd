#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "states/any_fs_utils.h"
#include "states/basic_state.h"
#include "states/fock_state.h"

class StateVectorDistribution;
class StateVector;

namespace MathUtils::details {

template <typename Policy>
StateVector inner_tensor_product(const StateVector& a, const StateVector& b);
template <typename Policy>
StateVector inner_tensor_product(const StateVector& a, const StateVector& b, double threshold);

}  // namespace MathUtils::details

// A superposition of basic states of any kind with complex amplitudes. Zero amplitudes are kept
// until normalisation, which also records that the amplitudes have unit norm until they change.
class StateVector {
  public:
    using amplitude_t = std::complex<double>;
    using map_t = std::unordered_map<BasicState, amplitude_t>;
    using const_iterator = map_t::const_iterator;

    StateVector() = default;
    explicit StateVector(BasicState state);

    std::size_t size() const { return components_.size(); }
    bool empty() const { return components_.empty(); }
    int modeCount() const { return m_; }
    bool isNormalized() const { return normalized_; }
    // Agrees with the tolerant equality: the states of the significant components, in any order,
    // and the mode count; amplitudes do not take part.
    std::size_t hash() const;
    std::unordered_set<int> n() const;

    bool hasComponent(const BasicState& state) const { return components_.count(state) != 0; }
    const amplitude_t& at(const BasicState& state) const { return components_.at(state); }
    amplitude_t& at(const BasicState& state) {
        normalized_ = false;
        return components_.at(state);
    }
    amplitude_t& operator[](const BasicState& state) {
        normalized_ = false;
        return components_[state];
    }
    const BasicState& componentAt(std::size_t i) const;

    bool operator==(const StateVector& other) const;
    bool operator!=(const StateVector& other) const { return !(*this == other); }

    StateVector& operator+=(const StateVector& other);
    StateVector& operator-=(const StateVector& other);
    StateVector& operator+=(const BasicState& state) { return *this += StateVector(state); }
    StateVector& operator-=(const BasicState& state) { return *this -= StateVector(state); }
    // Tensor product, the modes of this vector first.
    StateVector& operator*=(const StateVector& other);
    StateVector& operator*=(const BasicState& state) { return *this *= StateVector(state); }

    // Multiplies every amplitude by z; exactly 1 changes nothing, the flag included.
    void scale(amplitude_t z);
    // Multiplies the real and the imaginary part of every amplitude by x.
    void scale(double x);

    StateVector pow(std::size_t n) const;
    StateVector merge(const StateVector& other) const;

    void _eraseNullAmplitudeComponents();
    void normalize();
    const_iterator begin_normalized() {
        normalize();
        return components_.cbegin();
    }
    const_iterator begin_unnormalized() const { return components_.cbegin(); }
    const_iterator end() const { return components_.cend(); }

    // Probability and unnormalised rest on the other modes, for each outcome on `modes`.
    std::unordered_map<FockState, std::pair<double, StateVector>> measure(
        const std::vector<int>& modes);
    // Defined in fockspace/state_vector_distribution.cpp, beside the distribution it builds.
    StateVectorDistribution split_by_photon_and_tag_count() const;
    const BasicState& sample();
    std::vector<BasicState> samples(std::size_t count);

  private:
    template <typename Policy>
    friend StateVector MathUtils::details::inner_tensor_product(const StateVector& a,
                                                                const StateVector& b);
    template <typename Policy>
    friend StateVector MathUtils::details::inner_tensor_product(const StateVector& a,
                                                                const StateVector& b,
                                                                double threshold);
    friend struct fmt::formatter<StateVector>;

    // real² + imaginary², what every tolerance is compared with.
    static double squared_modulus(amplitude_t a) {
        return a.real() * a.real() + a.imag() * a.imag();
    }

    map_t components_;
    std::int32_t m_ = 0;
    bool normalized_ = false;
    double tolerance_ = 1e-12;
};

inline StateVector operator+(StateVector a, const StateVector& b) {
    a += b;
    return a;
}
inline StateVector operator-(StateVector a, const StateVector& b) {
    a -= b;
    return a;
}
inline StateVector operator+(StateVector a, const BasicState& b) {
    a += StateVector(b);
    return a;
}
inline StateVector operator-(StateVector a, const BasicState& b) {
    a -= StateVector(b);
    return a;
}
// The vector's mode count decides, as the left side of the sum.
inline StateVector operator+(const BasicState& a, StateVector b) {
    b += StateVector(a);
    return b;
}
inline StateVector operator-(const BasicState& a, StateVector b) {
    b.scale(-1.0);
    b += StateVector(a);
    return b;
}
inline StateVector operator+(const BasicState& a, const BasicState& b) {
    StateVector sv(a);
    sv += StateVector(b);
    return sv;
}
inline StateVector operator-(const BasicState& a, const BasicState& b) {
    StateVector sv(a);
    sv -= StateVector(b);
    return sv;
}
inline StateVector operator+(const FockState& a, const FockState& b) {
    return BasicState(a) + BasicState(b);
}
inline StateVector operator-(const FockState& a, const FockState& b) {
    return BasicState(a) - BasicState(b);
}

inline StateVector operator*(StateVector sv, std::complex<double> z) {
    sv.scale(z);
    return sv;
}
inline StateVector operator*(std::complex<double> z, StateVector sv) {
    sv.scale(z);
    return sv;
}
inline StateVector operator*(const BasicState& s, std::complex<double> z) {
    return StateVector(s) * z;
}
inline StateVector operator*(std::complex<double> z, const BasicState& s) {
    return StateVector(s) * z;
}
inline StateVector operator-(StateVector sv) {
    return std::move(sv) * std::complex<double>(-1, 0);
}
inline StateVector operator-(const BasicState& s) {
    return s * std::complex<double>(-1, 0);
}

inline StateVector operator*(StateVector a, const StateVector& b) {
    a *= b;
    return a;
}
inline StateVector operator*(StateVector a, const BasicState& b) {
    a *= StateVector(b);
    return a;
}
// The state's modes come first.
inline StateVector operator*(const BasicState& a, const StateVector& b) {
    StateVector sv(a);
    sv *= b;
    return sv;
}

// Merge product keeping the pairs whose amplitude product has a modulus of at least `threshold`.
StateVector merge(const StateVector& a, const StateVector& b, double threshold);

namespace MathUtils::details {

// Combines every component of `a` (outer loop) with every component of `b`, keys through
// Policy::apply, amplitudes multiplied and accumulated on equal keys.
template <typename Policy>
StateVector inner_tensor_product(const StateVector& a, const StateVector& b) {
    StateVector result;
    for (const auto& [s1, a1] : a.components_)
        for (const auto& [s2, a2] : b.components_)
            result.components_[Policy::apply(s1, s2)] += a1 * a2;
    result.m_ = a.m_;
    result.normalized_ = a.normalized_ && b.normalized_;
    return result;
}

template <typename Policy>
StateVector inner_tensor_product(const StateVector& a, const StateVector& b, double threshold) {
    StateVector result;
    for (const auto& [s1, a1] : a.components_)
        for (const auto& [s2, a2] : b.components_) {
            const std::complex<double> product = a1 * a2;
            if (std::abs(product) >= threshold)
                result.components_[Policy::apply(s1, s2)] += product;
        }
    result.m_ = a.m_;
    return result;
}

}  // namespace MathUtils::details

template <>
struct std::hash<StateVector> {
    std::size_t operator()(const StateVector& sv) const { return sv.hash(); }
};

template <>
struct fmt::formatter<StateVector> {
    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        auto it = ctx.begin();
        if (it != ctx.end() && *it != '}') throw format_error("invalid format for StateVector");
        return it;
    }

    template <typename FormatContext>
    auto format(const StateVector& sv, FormatContext& ctx) const -> decltype(ctx.out()) {
        auto out = ctx.out();
        const double threshold = sv.tolerance_ * sv.tolerance_;
        double norm = 0;
        for (const auto& [state, a] : sv.components_)
            if (StateVector::squared_modulus(a) >= threshold)
                norm += StateVector::squared_modulus(a);
        norm = std::sqrt(norm);
        if (norm == 0) return fmt::format_to(out, "|>");
        bool first = true;
        for (const auto& [state, a] : sv.components_) {
            if (StateVector::squared_modulus(a) < threshold) continue;
            const double r = std::round(a.real() / norm * 1000) / 1000;
            const double i = std::round(a.imag() / norm * 1000) / 1000;
            // A negative coefficient's own minus sign separates it from the previous term.
            if (!first && !((r < 0 && i == 0) || (r == 0 && i < 0))) *out++ = '+';
            first = false;
            if (r != 0 && i != 0)
                out = fmt::format_to(out, "({}{:+}I)*", r, i);
            else if (r != 0) {
                if (r != 1) out = fmt::format_to(out, "{}*", r);
            } else if (i != 0) {
                out = i == 1 ? fmt::format_to(out, "I*") : fmt::format_to(out, "{}I*", i);
            } else
                out = fmt::format_to(out, "({}{:+}I)*", r, i);
            out = fmt::format_to(out, "{}", state);
        }
        return out;
    }
};
