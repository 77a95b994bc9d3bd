#include "states/fock_state.h"

#include <algorithm>
#include <ostream>
#include <stdexcept>

#include "states/parsed_basic_state.h"

namespace {

void check_modes(int m) {
    if (static_cast<unsigned>(m) > static_cast<unsigned>(FockState::max_modes))
        throw std::runtime_error(
            fmt::format("Fock state size is capped from 0 to {} modes", FockState::max_modes));
}

void check_photons(long long n) {
    if (n < 0 || n > FockState::max_photons)
        throw std::runtime_error(
            fmt::format("Fock state number of photons is capped to {}", FockState::max_photons));
}

}  // namespace

FockState::FockState(int m) : m_(m) {
    check_modes(m);
}

FockState::FockState(int m, int n) {
    check_modes(m);
    check_photons(static_cast<unsigned>(n));
    if (m == 0 && n > 0)
        throw std::runtime_error(
            fmt::format("cannot place {} photons in a Fock state of 0 modes", n));
    code_ = code_t(static_cast<std::size_t>(n));
    std::fill_n(code_.mutable_data(), n, 0);
    m_ = m;
}

FockState::FockState(std::vector<int> const& counts) {
    if (counts.size() > static_cast<std::size_t>(max_modes))
        throw std::runtime_error(
            fmt::format("Fock state size is capped from 0 to {} modes", max_modes));
    long long n = 0;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        if (static_cast<unsigned>(counts[k]) > static_cast<unsigned>(max_photons))
            throw std::runtime_error(
                fmt::format("invalid photon count '{}' for mode {}", counts[k], k));
        n += counts[k];
    }
    check_photons(n);
    code_ = code_t(static_cast<std::size_t>(n));
    unsigned char* p = code_.mutable_data();
    for (std::size_t k = 0; k < counts.size(); ++k)
        for (int c = 0; c < counts[k]; ++c) *p++ = static_cast<unsigned char>(k);
    m_ = static_cast<int>(counts.size());
}

FockState::FockState(ParsedBasicState const& parsed) : FockState(parsed.get_fs_vect()) {
    if (parsed.is_noisy() || parsed.is_annotated())
        throw std::runtime_error(
            "Cannot initialise simple FockState from noisy or annotated Fock state.");
}

FockState::FockState(std::string const& text) : FockState(ParsedBasicState(text.c_str())) {}

FockState::FockState(FockState&& other) noexcept : code_(std::move(other.code_)), m_(other.m_) {
    code_.own();
    other.m_ = 0;
}

FockState& FockState::operator=(FockState&& other) noexcept {
    if (this != &other) {
        code_ = std::move(other.code_);
        code_.own();
        m_ = other.m_;
        other.m_ = 0;
    }
    return *this;
}

int FockState::operator[](int k) const {
    if (k < 0 || k >= m_) throw std::out_of_range("invalid mode");
    int count = 0;
    for (unsigned char c : code_) {
        if (c > k) break;
        count += c == k;
    }
    return count;
}

int FockState::photon2mode(int i) const {
    if (i < 0 || i >= n()) throw std::out_of_range("photon index out of range");
    return code_[static_cast<std::size_t>(i)];
}

int FockState::mode2photon(int k) const {
    if (k < 0 || k >= m_) throw std::out_of_range("mode index out of range");
    const unsigned char* first = std::lower_bound(code_.begin(), code_.end(), k);
    return first != code_.end() && *first == k ? static_cast<int>(first - code_.begin()) : -1;
}

std::vector<int> FockState::to_vect() const {
    std::vector<int> counts;
    to_vect(counts);
    return counts;
}

void FockState::to_vect(std::vector<int>& out) const {
    out.assign(static_cast<std::size_t>(m_), 0);
    for (unsigned char c : code_) ++out[c];
}

std::string FockState::to_str() const {
    return fmt::format("{}", *this);
}

std::ostream& operator<<(std::ostream& os, FockState const& state) {
    return os << state.to_str();
}

bool FockState::increment() {
    const int n = this->n();
    if (n == 0) return false;
    const unsigned char last = static_cast<unsigned char>(m_ - 1);
    unsigned char* code = code_.mutable_data();
    int i = n - 1;
    while (i >= 0 && code[i] == last) --i;
    if (i < 0) {
        std::fill_n(code, n, 0);
        return false;
    }
    std::fill(code + i, code + n, static_cast<unsigned char>(code[i] + 1));
    return true;
}
