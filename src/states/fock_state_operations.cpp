#include "states/fock_state.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

void check_result_modes(long long modes) {
    if (modes > FockState::max_modes)
        throw std::runtime_error(
            fmt::format("Fock state size is capped from 0 to {} modes", FockState::max_modes));
}

// Calls `visit(first, length)` for every run of equal bytes of a sorted code.
template <typename Visit>
void for_each_run(const unsigned char* p, const unsigned char* end, Visit visit) {
    while (p != end) {
        const unsigned char* q = p + 1;
        while (q != end && *q == *p) ++q;
        visit(p, static_cast<std::size_t>(q - p));
        p = q;
    }
}

// Keeps at most `k` photons of every mode.
FockState cap_runs(FockState const& state, std::size_t k) {
    std::size_t n = 0;
    for_each_run(state.code().begin(), state.code().end(),
                 [&](const unsigned char*, std::size_t length) { n += std::min(length, k); });
    FockState::code_t code(n);
    unsigned char* out = code.mutable_data();
    for_each_run(state.code().begin(), state.code().end(),
                 [&](const unsigned char* first, std::size_t length) {
                     out = std::fill_n(out, std::min(length, k), *first);
                 });
    return FockState(state.m(), std::move(code));
}

}  // namespace

FockState& FockState::operator*=(FockState const& other) {
    check_result_modes(static_cast<long long>(m_) + other.m_);
    const std::size_t n = code_.size();
    const std::size_t other_n = other.code_.size();
    if (other_n > 0) {
        code_t code(n + other_n);
        unsigned char* out = code.mutable_data();
        out = std::copy(code_.begin(), code_.end(), out);
        const auto shift = static_cast<unsigned char>(m_);
        for (unsigned char c : other.code_) *out++ = static_cast<unsigned char>(c + shift);
        code_ = std::move(code);
    }
    m_ += other.m_;
    return *this;
}

FockState FockState::pow(unsigned int k) const {
    const unsigned long long n = code_.size();
    check_result_modes(static_cast<long long>(k) * m_);
    code_t::check_size(k * n);
    code_t code(k * n);
    unsigned char* out = code.mutable_data();
    for (unsigned int j = 0; n > 0 && j < k; ++j) {
        const auto shift = static_cast<unsigned char>(j * static_cast<unsigned>(m_));
        for (unsigned char c : code_) *out++ = static_cast<unsigned char>(c + shift);
    }
    return FockState(static_cast<int>(k) * m_, std::move(code));
}

FockState FockState::merge(FockState const& other) const {
    if (m_ != other.m_) throw std::runtime_error("Cannot merge fock states of different length");
    code_t code(code_.size() + other.code_.size());
    std::merge(code_.begin(), code_.end(), other.code_.begin(), other.code_.end(),
               code.mutable_data());
    return FockState(m_, std::move(code));
}

FockState FockState::merge(FockState&& other) const {
    if (code_.size() == 0) return std::move(other);
    return merge(static_cast<FockState const&>(other));
}

FockState FockState::threshold_detection() const {
    return cap_runs(*this, 1);
}

FockState FockState::threshold_detection(int k) const {
    if (k < 1) throw std::invalid_argument("detections must be positive");
    if (static_cast<std::size_t>(k) >= code_.size()) return *this;
    return cap_runs(*this, static_cast<std::size_t>(k));
}

double FockState::prodnfact() const {
    double product = 1.0;
    for_each_run(code_.begin(), code_.end(), [&](const unsigned char*, std::size_t length) {
        for (std::size_t f = 2; f <= length; ++f) product *= static_cast<double>(f);
    });
    if (!std::isfinite(product))
        throw std::overflow_error("overflow error in FockState::prodnfact()");
    return product;
}

void FockState::_check_slice(int& start, int& end, int step, int& modes, int& photons) const {
    if (step < 1) throw std::invalid_argument("slice step must be positive");
    if (start < 0) start += m_;
    if (end < 0) end += m_;
    start = std::max(start, 0);
    end = std::clamp(end, 0, m_);
    modes = start < end ? (end - start - 1) / step + 1 : 0;
    photons = 0;
    for (unsigned char c : code_) photons += c >= start && c < end && (c - start) % step == 0;
}

FockState FockState::slice(int start, int end, int step) const {
    int modes, photons;
    _check_slice(start, end, step, modes, photons);
    code_t code(static_cast<std::size_t>(photons));
    unsigned char* out = code.mutable_data();
    for (unsigned char c : code_)
        if (c >= start && c < end && (c - start) % step == 0)
            *out++ = static_cast<unsigned char>((c - start) / step);
    return FockState(modes, std::move(code));
}

FockState FockState::set_slice(FockState const& other, int start, int end) const {
    int modes, photons;
    _check_slice(start, end, 1, modes, photons);
    if (other.m_ != modes) throw std::invalid_argument("invalid FockState to replace in slice");
    // An empty range replaces nothing; copying both sides of it would duplicate photons.
    if (start >= end) return *this;
    code_t code(code_.size() - static_cast<std::size_t>(photons) + other.code_.size());
    unsigned char* out = code.mutable_data();
    const unsigned char* below_end = std::lower_bound(code_.begin(), code_.end(), start);
    out = std::copy(code_.begin(), below_end, out);
    for (unsigned char c : other.code_) *out++ = static_cast<unsigned char>(c + start);
    std::copy(std::lower_bound(below_end, code_.end(), end), code_.end(), out);
    return FockState(m_, std::move(code));
}

FockState FockState::remove_modes(std::vector<unsigned char> modes) const {
    if (modes.empty()) return *this;
    std::sort(modes.begin(), modes.end());
    modes.erase(std::unique(modes.begin(), modes.end()), modes.end());
    if (modes.back() >= m_) throw std::runtime_error("Mode index to remove out of bound");
    std::vector<int> counts = to_vect();
    for (auto it = modes.rbegin(); it != modes.rend(); ++it) counts.erase(counts.begin() + *it);
    return FockState(counts);
}
