#include "states/noisy_fock_state.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <utility>

#include "states/parsed_basic_state.h"

namespace {

using Tags = std::unique_ptr<unsigned char[]>;

Tags allocate_tags(std::size_t n) {
    return n ? std::make_unique_for_overwrite<unsigned char[]>(n) : nullptr;
}

Tags copy_tags(const unsigned char* tags, std::size_t n) {
    Tags copy = allocate_tags(n);
    if (n) std::memcpy(copy.get(), tags, n);
    return copy;
}

Tags zero_tags(std::size_t n) {
    return n ? std::make_unique<unsigned char[]>(n) : nullptr;
}

Tags tags_from_list(std::vector<unsigned char> const& tags, std::size_t n) {
    if (tags.size() != n)
        throw std::invalid_argument(fmt::format("Wrong noise size (expected {})", n));
    return copy_tags(tags.data(), n);
}

}  // namespace

NoisyFockState::NoisyFockState(FockState const& fs)
    : state_(fs), tags_(zero_tags(state_.code().size())) {}

NoisyFockState::NoisyFockState(FockState&& fs)
    : state_(std::move(fs)), tags_(zero_tags(state_.code().size())) {}

NoisyFockState::NoisyFockState(FockState const& fs, Tags&& tags)
    : state_(fs), tags_(std::move(tags)) {}

NoisyFockState::NoisyFockState(FockState&& fs, Tags&& tags) noexcept
    : state_(std::move(fs)), tags_(std::move(tags)) {}

NoisyFockState::NoisyFockState(FockState const& fs, std::vector<unsigned char> const& tags,
                               bool already_sorted)
    : NoisyFockState(fs, tags_from_list(tags, fs.code().size())) {
    if (!already_sorted) sort_noise();
}

// The tags are checked before the state is taken, so a refused list leaves `fs` as it was.
NoisyFockState::NoisyFockState(FockState&& fs, std::vector<unsigned char> const& tags,
                               bool already_sorted)
    : NoisyFockState(std::move(fs), tags_from_list(tags, fs.code().size())) {
    if (!already_sorted) sort_noise();
}

NoisyFockState::NoisyFockState(ParsedBasicState const& parsed) : state_(parsed.get_fs_vect()) {
    const int n = state_.n();
    if (n == 0) return;
    if (!parsed.is_noisy() || parsed.is_annotated())
        throw std::runtime_error(
            "Cannot initialise noisy FockState from simple or annotated Fock state.");
    tags_ = zero_tags(static_cast<std::size_t>(n));
    const std::vector<int>& counts = parsed.get_fs_vect();
    int first = 0;
    for (std::size_t k = 0; k < counts.size(); ++k) {
        const int count = counts[k];
        first += count;
        const auto it = parsed.get_noisy_modes().find(static_cast<int>(k));
        if (it == parsed.get_noisy_modes().end()) continue;
        std::vector<int> sorted = it->second;
        std::sort(sorted.begin(), sorted.end());
        // The untagged photons (tag 0) come first, the tagged ones end the mode.
        const std::size_t tagged = std::min(sorted.size(), static_cast<std::size_t>(count));
        unsigned char* out = tags_.get() + first - tagged;
        for (std::size_t j = 0; j < tagged; ++j) out[j] = static_cast<unsigned char>(sorted[j]);
    }
}

NoisyFockState::NoisyFockState(std::string const& text)
    : NoisyFockState(ParsedBasicState(text.c_str())) {}

NoisyFockState::NoisyFockState(NoisyFockState const& other)
    : state_(other.state_), tags_(copy_tags(other.tags_.get(), other.state_.code().size())) {}

NoisyFockState& NoisyFockState::operator=(NoisyFockState const& other) {
    if (this != &other) {
        Tags tags = copy_tags(other.tags_.get(), other.state_.code().size());
        state_ = other.state_;
        tags_ = std::move(tags);
    }
    return *this;
}

std::vector<unsigned char> NoisyFockState::get_mode_annotations(unsigned char k) const {
    const FockState::code_t& code = state_.code();
    const unsigned char* first = std::lower_bound(code.begin(), code.end(), k);
    const unsigned char* last = std::upper_bound(first, code.end(), k);
    const unsigned char* tags = tags_.get() + (first - code.begin());
    return std::vector<unsigned char>(tags, tags + (last - first));
}

unsigned char NoisyFockState::get_photon_annotation(unsigned char i) const {
    if (i >= n()) throw std::invalid_argument("Photon mode index out of range");
    return tags_[i];
}

bool NoisyFockState::operator==(NoisyFockState const& other) const {
    if (state_ != other.state_) return false;
    const std::size_t n = state_.code().size();
    return n == 0 || std::memcmp(tags_.get(), other.tags_.get(), n) == 0;
}

void NoisyFockState::sort_noise() const {
    const unsigned char* code = state_.data();
    unsigned char* tags = tags_.get();
    const int n = state_.n();
    for (int i = 0; i < n;) {
        int j = i + 1;
        while (j < n && code[j] == code[i]) ++j;
        std::sort(tags + i, tags + j);
        i = j;
    }
}

void NoisyFockState::check_slice(int& start, int& end) const {
    int modes, photons;
    state_._check_slice(start, end, 1, modes, photons);
}

std::vector<FockState> NoisyFockState::separate_state() const {
    std::vector<FockState> batches;
    if (n() == 0) {
        batches.emplace_back(m(), FockState::code_t());
        return batches;
    }
    for (auto& [tag, state] : split_state()) batches.push_back(std::move(state));
    return batches;
}

std::map<unsigned char, FockState> NoisyFockState::split_state() const {
    const std::size_t n = state_.code().size();
    const unsigned char* code = state_.data();
    const unsigned char* tags = tags_.get();
    std::array<std::size_t, 256> counts{};
    for (std::size_t i = 0; i < n; ++i) ++counts[tags[i]];
    std::map<unsigned char, FockState> batches;
    for (int tag = 0; tag < 256; ++tag) {
        if (!counts[tag]) continue;
        FockState::code_t batch(counts[tag]);
        unsigned char* out = batch.mutable_data();
        for (std::size_t i = 0; i < n; ++i)
            if (tags[i] == tag) *out++ = code[i];
        batches.emplace(static_cast<unsigned char>(tag), FockState(m(), std::move(batch)));
    }
    return batches;
}

std::string NoisyFockState::to_str(bool show_annotations) const {
    return show_annotations ? fmt::format("{}", *this) : fmt::format("{:h}", *this);
}

std::ostream& operator<<(std::ostream& os, NoisyFockState const& state) {
    return os << state.to_str();
}

NoisyFockState& NoisyFockState::operator*=(NoisyFockState const& other) {
    const std::size_t n = state_.code().size();
    const std::size_t other_n = other.state_.code().size();
    Tags tags;
    if (other_n) {
        // The tags are built aside: the product of the codes may still refuse the result.
        tags = allocate_tags(n + other_n);
        if (n) std::memcpy(tags.get(), tags_.get(), n);
        std::memcpy(tags.get() + n, other.tags_.get(), other_n);
    }
    state_ *= other.state_;
    if (other_n) tags_ = std::move(tags);
    return *this;
}

NoisyFockState NoisyFockState::pow(unsigned int k) const {
    if (k == 0) return NoisyFockState();
    if (k == 1) return *this;
    FockState state = state_.pow(k);
    const std::size_t n = state_.code().size();
    Tags tags = allocate_tags(n * k);
    for (std::size_t j = 0; n && j < k; ++j) std::memcpy(tags.get() + j * n, tags_.get(), n);
    return NoisyFockState(std::move(state), std::move(tags));
}

NoisyFockState NoisyFockState::merge(NoisyFockState const& other) const {
    if (m() != other.m()) throw std::runtime_error("Cannot merge fock states of different length");
    const std::size_t n = state_.code().size();
    const std::size_t other_n = other.state_.code().size();
    FockState::code_t code(n + other_n);
    Tags tags = allocate_tags(n + other_n);
    const unsigned char *a = state_.data(), *b = other.state_.data();
    const unsigned char *ta = tags_.get(), *tb = other.tags_.get();
    unsigned char* out = code.mutable_data();
    unsigned char* out_tags = tags.get();
    std::size_t i = 0, j = 0;
    while (i < n || j < other_n) {
        const bool take_a =
            j == other_n || (i < n && (a[i] < b[j] || (a[i] == b[j] && ta[i] <= tb[j])));
        if (take_a) {
            *out++ = a[i];
            *out_tags++ = ta[i++];
        } else {
            *out++ = b[j];
            *out_tags++ = tb[j++];
        }
    }
    return NoisyFockState(FockState(m(), std::move(code)), std::move(tags));
}

NoisyFockState NoisyFockState::slice(int start, int end, int step) const {
    int modes, photons;
    state_._check_slice(start, end, step, modes, photons);
    if (start >= end) return NoisyFockState();
    FockState::code_t code(static_cast<std::size_t>(photons));
    Tags tags = allocate_tags(static_cast<std::size_t>(photons));
    unsigned char* out = code.mutable_data();
    unsigned char* out_tags = tags.get();
    const unsigned char* in = state_.data();
    for (int i = 0; i < n(); ++i) {
        const int c = in[i];
        if (c >= start && c < end && (c - start) % step == 0) {
            *out++ = static_cast<unsigned char>((c - start) / step);
            *out_tags++ = tags_[static_cast<std::size_t>(i)];
        }
    }
    return NoisyFockState(FockState(modes, std::move(code)), std::move(tags));
}

NoisyFockState NoisyFockState::set_slice(NoisyFockState const& other, int start, int end) const {
    check_slice(start, end);
    if (end - start != other.m())
        throw std::invalid_argument("invalid NoisyFockState to replace in slice");
    const FockState::code_t& code = state_.code();
    const unsigned char* below_end = std::lower_bound(code.begin(), code.end(), start);
    const unsigned char* above_begin = std::lower_bound(below_end, code.end(), end);
    const std::size_t below = static_cast<std::size_t>(below_end - code.begin());
    const std::size_t above = static_cast<std::size_t>(code.end() - above_begin);
    const std::size_t other_n = other.state_.code().size();
    FockState::code_t result(below + other_n + above);
    Tags tags = allocate_tags(below + other_n + above);
    unsigned char* out = std::copy(code.begin(), below_end, result.mutable_data());
    for (unsigned char c : other.state_.code()) *out++ = static_cast<unsigned char>(c + start);
    std::copy(above_begin, code.end(), out);
    if (below) std::memcpy(tags.get(), tags_.get(), below);
    if (other_n) std::memcpy(tags.get() + below, other.tags_.get(), other_n);
    if (above)
        std::memcpy(tags.get() + below + other_n, tags_.get() + (above_begin - code.begin()),
                    above);
    return NoisyFockState(FockState(m(), std::move(result)), std::move(tags));
}

NoisyFockState NoisyFockState::remove_modes(std::vector<unsigned char> modes) const {
    if (modes.empty()) return *this;
    std::sort(modes.begin(), modes.end());
    modes.erase(std::unique(modes.begin(), modes.end()), modes.end());
    if (modes.back() >= m()) throw std::runtime_error("Mode index to remove out of bound");
    // shift[c]: the listed modes below c; removed[c]: c is listed.
    std::array<unsigned char, 256> shift{};
    std::array<bool, 256> removed{};
    for (unsigned char c : modes) removed[c] = true;
    for (int c = 1; c < 256; ++c)
        shift[c] = static_cast<unsigned char>(shift[c - 1] + removed[c - 1]);
    const std::size_t n = state_.code().size();
    const unsigned char* in = state_.data();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) kept += !removed[in[i]];
    FockState::code_t code(kept);
    Tags tags = allocate_tags(kept);
    unsigned char* out = code.mutable_data();
    unsigned char* out_tags = tags.get();
    for (std::size_t i = 0; i < n; ++i) {
        if (removed[in[i]]) continue;
        *out++ = static_cast<unsigned char>(in[i] - shift[in[i]]);
        *out_tags++ = tags_[i];
    }
    return NoisyFockState(FockState(m() - static_cast<int>(modes.size()), std::move(code)),
                          std::move(tags));
}
