#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "states/annotation.h"
#include "states/fock_state.h"
#include "states/state_format.h"

class NoisyFockState;
class ParsedBasicState;

// A Fock state whose photons may carry an Annotation. Per mode, a list of runs (count,
// annotation) says that `count` photons of the mode carry that annotation; runs are matched to
// the mode's photons in list order and photons left over carry none. Equality and hash treat the
// runs of a mode as a multiset. A mode without photons has no entry, so that equality, hash and
// text agree on it.
class AnnotatedFockState {
  public:
    using run_t = std::pair<int, Annotation>;
    using runs_t = std::list<run_t>;
    using annotations_t = std::unordered_map<unsigned long, runs_t>;

    AnnotatedFockState();
    explicit AnnotatedFockState(int m);
    AnnotatedFockState(int m, int n);
    explicit AnnotatedFockState(const std::vector<int>& counts);
    explicit AnnotatedFockState(const FockState& state);
    explicit AnnotatedFockState(FockState&& state);
    AnnotatedFockState(const std::vector<int>& counts,
                       const std::map<int, std::list<std::string>>& annotations);
    // Needs annotations in the text unless the state has no photon; noise tags are refused.
    explicit AnnotatedFockState(const ParsedBasicState& parsed);
    explicit AnnotatedFockState(const std::string& text);
    // Each noise tag t becomes the annotation "_:t".
    explicit AnnotatedFockState(const NoisyFockState& state);
    explicit AnnotatedFockState(NoisyFockState&& state);

    AnnotatedFockState(const AnnotatedFockState& other);
    // Leaves `other` without a container: fit only to be destroyed or assigned to.
    AnnotatedFockState(AnnotatedFockState&& other) noexcept = default;
    AnnotatedFockState& operator=(const AnnotatedFockState& other);
    AnnotatedFockState& operator=(AnnotatedFockState&& other) noexcept = default;
    ~AnnotatedFockState() = default;

    int m() const { return state_.m(); }
    int n() const { return state_.n(); }
    const FockState& state() const { return state_; }
    int operator[](int mode) const { return state_[mode]; }
    std::vector<int> to_vect() const { return state_.to_vect(); }
    void to_vect(std::vector<int>& out) const { state_.to_vect(out); }
    double prodnfact() const { return state_.prodnfact(); }
    FockState threshold_detection() const { return state_.threshold_detection(); }
    FockState threshold_detection(int k) const { return state_.threshold_detection(k); }
    // Replaces the photons and keeps the runs as they are: the caller keeps them consistent.
    void _set_fs_vect(const std::vector<int>& counts) { state_ = FockState(counts); }

    // One annotation per photon of the mode; grouped by text into runs in ascending text order.
    // More annotations than photons throws and leaves the mode with an empty run list, or with no
    // entry at all when it has no photon (a photon-free mode never has one).
    void set_mode_annotations(int mode, const std::list<Annotation>& annotations);
    void _set_annotations(const std::map<int, std::list<std::string>>& annotations);
    // Every photon then carries `annotation`, and nothing else is left.
    void inject_annotation(const Annotation& annotation);
    // One noise tag per photon, in photon order; each distinct tag t of a mode becomes a run of
    // the annotation "_:t".
    void _annotations_from_noise(const unsigned char* tags);

    std::list<Annotation> get_mode_annotations(int mode) const;
    Annotation get_photon_annotation(int photon) const;
    bool has_annotations() const { return !annotations_->empty(); }
    bool has_polarization() const;
    FockState clear_annotations() const { return state_; }

    bool operator==(const AnnotatedFockState& other) const;
    bool operator!=(const AnnotatedFockState& other) const { return !(*this == other); }
    std::size_t hash() const;

    std::string to_str(bool show_annotations = true) const;

    // Steps below 1 are refused (std::invalid_argument); an empty range gives 0 modes.
    void _check_slice(int& start, int& end, int step, int& size, int& count) const;
    AnnotatedFockState slice(int start, int end, int step) const;
    AnnotatedFockState set_slice(const AnnotatedFockState& other, int start, int end) const;
    AnnotatedFockState remove_modes(std::vector<unsigned char> modes) const;
    AnnotatedFockState& operator*=(const AnnotatedFockState& other);
    AnnotatedFockState pow(unsigned int k) const;
    AnnotatedFockState merge(const AnnotatedFockState& other) const;

  private:
    friend struct fmt::formatter<AnnotatedFockState>;

    AnnotatedFockState(FockState&& state, std::unique_ptr<annotations_t>&& annotations) noexcept
        : state_(std::move(state)), annotations_(std::move(annotations)) {}

    static std::unique_ptr<annotations_t> new_annotations();
    // The runs of a mode, or null when the mode has no entry.
    const runs_t* mode_runs(int mode) const;

    FockState state_;
    std::unique_ptr<annotations_t> annotations_;
};

inline AnnotatedFockState operator*(AnnotatedFockState a, const AnnotatedFockState& b) {
    a *= b;
    return a;
}

std::ostream& operator<<(std::ostream& os, const AnnotatedFockState& state);

template <>
struct std::hash<AnnotatedFockState> {
    std::size_t operator()(const AnnotatedFockState& state) const { return state.hash(); }
};

template <>
struct fmt::formatter<AnnotatedFockState> {
    bool show_annotations = true;

    // Empty (annotations shown) or "h" (hidden).
    constexpr auto parse(format_parse_context& ctx) -> decltype(ctx.begin()) {
        bool plain = false;
        auto it = StateFormat::parse(ctx, plain);
        show_annotations = !plain;
        return it;
    }

    template <typename FormatContext>
    auto format(const AnnotatedFockState& state, FormatContext& ctx) const -> decltype(ctx.out()) {
        auto out = ctx.out();
        *out++ = '|';
        const unsigned char* p = state.state().data();
        const unsigned char* end = p + state.n();
        for (int k = 0; k < state.m(); ++k) {
            if (k) *out++ = ',';
            int count = 0;
            while (p != end && *p == k) ++p, ++count;
            const AnnotatedFockState::runs_t* runs =
                show_annotations ? state.mode_runs(k) : nullptr;
            if (!runs || runs->empty()) {
                out = fmt::format_to(out, "{}", count);
                continue;
            }
            for (const auto& [run_count, annotation] : *runs) {
                if (run_count > 1) out = fmt::format_to(out, "{}", run_count);
                out = fmt::format_to(out, "{{{}}}", annotation.to_str());
                count -= run_count;
            }
            if (count != 0) out = fmt::format_to(out, "{}", count);
        }
        *out++ = '>';
        return out;
    }
};
