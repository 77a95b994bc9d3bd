#include "states/annotated_fock_state.h"

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <stdexcept>

#include "runtime/hash.h"
#include "states/noisy_fock_state.h"
#include "states/parsed_basic_state.h"

namespace {

// Calls `visit(mode, first, count)` for every occupied mode, `first` being the index of its first
// photon.
template <typename Visit>
void for_each_occupied_mode(const FockState& state, Visit visit) {
    const unsigned char* code = state.data();
    const int n = state.n();
    for (int i = 0; i < n;) {
        int j = i + 1;
        while (j < n && code[j] == code[i]) ++j;
        visit(static_cast<int>(code[i]), i, j - i);
        i = j;
    }
}

// The runs as (count, text) pairs in a canonical order, for comparing them as multisets.
std::vector<std::pair<int, std::string>> sorted_runs(const AnnotatedFockState::runs_t& runs) {
    std::vector<std::pair<int, std::string>> keys;
    keys.reserve(runs.size());
    for (const auto& [count, annotation] : runs) keys.emplace_back(count, annotation.to_str());
    std::sort(keys.begin(), keys.end());
    return keys;
}

bool same_runs(const AnnotatedFockState::runs_t& a, const AnnotatedFockState::runs_t& b) {
    return a.size() == b.size() && sorted_runs(a) == sorted_runs(b);
}

}  // namespace

std::unique_ptr<AnnotatedFockState::annotations_t> AnnotatedFockState::new_annotations() {
    auto annotations = std::make_unique<annotations_t>(1);
    annotations->max_load_factor(1.0f);
    return annotations;
}

AnnotatedFockState::AnnotatedFockState() : annotations_(new_annotations()) {}

AnnotatedFockState::AnnotatedFockState(int m) : state_(m), annotations_(new_annotations()) {}

AnnotatedFockState::AnnotatedFockState(int m, int n)
    : state_(m, n), annotations_(new_annotations()) {}

AnnotatedFockState::AnnotatedFockState(const std::vector<int>& counts)
    : state_(counts), annotations_(new_annotations()) {}

AnnotatedFockState::AnnotatedFockState(const FockState& state)
    : state_(state), annotations_(new_annotations()) {}

AnnotatedFockState::AnnotatedFockState(FockState&& state)
    : state_(std::move(state)), annotations_(new_annotations()) {}

AnnotatedFockState::AnnotatedFockState(const std::vector<int>& counts,
                                       const std::map<int, std::list<std::string>>& annotations)
    : AnnotatedFockState(counts) {
    _set_annotations(annotations);
}

AnnotatedFockState::AnnotatedFockState(const ParsedBasicState& parsed)
    : AnnotatedFockState(parsed.get_fs_vect()) {
    if (n() == 0) return;
    if (parsed.is_noisy() || !parsed.is_annotated())
        throw std::runtime_error(
            "Cannot initialise annotated FockState from simple or noisy Fock state.");
    // A group of 0 photons ("|0{a:1}1>") leaves a mode no annotation: the text reads back as a
    // state without one, so the state must carry none either.
    for (const auto& [mode, annotations] : parsed.get_annotated_modes())
        if (!annotations.empty())
            set_mode_annotations(mode,
                                 std::list<Annotation>(annotations.begin(), annotations.end()));
}

AnnotatedFockState::AnnotatedFockState(const std::string& text)
    : AnnotatedFockState(ParsedBasicState(text.c_str())) {}

AnnotatedFockState::AnnotatedFockState(const NoisyFockState& state)
    : AnnotatedFockState(state.state()) {
    _annotations_from_noise(state.tags());
}

AnnotatedFockState::AnnotatedFockState(NoisyFockState&& state)
    : AnnotatedFockState(static_cast<const NoisyFockState&>(state)) {}

AnnotatedFockState::AnnotatedFockState(const AnnotatedFockState& other)
    : state_(other.state_),
      annotations_(other.annotations_ ? std::make_unique<annotations_t>(*other.annotations_)
                                      : new_annotations()) {}

AnnotatedFockState& AnnotatedFockState::operator=(const AnnotatedFockState& other) {
    if (this != &other) {
        auto annotations = other.annotations_ ? std::make_unique<annotations_t>(*other.annotations_)
                                              : new_annotations();
        state_ = other.state_;
        annotations_ = std::move(annotations);
    }
    return *this;
}

const AnnotatedFockState::runs_t* AnnotatedFockState::mode_runs(int mode) const {
    const auto it = annotations_->find(static_cast<unsigned long>(mode));
    return it == annotations_->end() ? nullptr : &it->second;
}

void AnnotatedFockState::set_mode_annotations(int mode, const std::list<Annotation>& annotations) {
    if (mode < 0 || mode >= m()) throw std::invalid_argument("invalid mode index");
    const auto key = static_cast<unsigned long>(mode);
    // A photon-free mode keeps no entry, not even an empty one: it prints as carrying no
    // annotation, so equality and hash must see none either.
    if (state_[mode] == 0) {
        annotations_->erase(key);
        if (!annotations.empty()) throw std::invalid_argument("invalid mode annotations");
        return;
    }
    runs_t& runs = (*annotations_)[key];
    runs.clear();
    if (annotations.size() > static_cast<std::size_t>(state_[mode]))
        throw std::invalid_argument("invalid mode annotations");

    std::vector<std::pair<std::string, run_t>> groups;
    for (const Annotation& annotation : annotations) {
        std::string text = annotation.to_str();
        const auto same = std::find_if(groups.begin(), groups.end(),
                                       [&](const auto& group) { return group.first == text; });
        if (same != groups.end())
            ++same->second.first;
        else
            groups.emplace_back(std::move(text), run_t{1, annotation});
    }
    std::sort(groups.begin(), groups.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& group : groups) runs.push_back(std::move(group.second));
}

void AnnotatedFockState::_set_annotations(
    const std::map<int, std::list<std::string>>& annotations) {
    for (const auto& [mode, texts] : annotations) {
        std::list<Annotation> parsed;
        for (const std::string& text : texts) parsed.emplace_back(text);
        set_mode_annotations(mode, parsed);
    }
}

void AnnotatedFockState::inject_annotation(const Annotation& annotation) {
    annotations_->clear();
    for_each_occupied_mode(state_, [&](int mode, int, int count) {
        (*annotations_)[static_cast<unsigned long>(mode)] = runs_t{{count, annotation}};
    });
}

void AnnotatedFockState::_annotations_from_noise(const unsigned char* tags) {
    std::vector<unsigned char> mode_tags;
    for_each_occupied_mode(state_, [&](int mode, int first, int count) {
        mode_tags.assign(tags + first, tags + first + count);
        std::sort(mode_tags.begin(), mode_tags.end());
        runs_t runs;
        for (std::size_t i = 0; i < mode_tags.size();) {
            std::size_t j = i + 1;
            while (j < mode_tags.size() && mode_tags[j] == mode_tags[i]) ++j;
            Annotation annotation;
            annotation["_"] = {static_cast<float>(mode_tags[i]), 0.0f};
            runs.emplace_back(static_cast<int>(j - i), std::move(annotation));
            i = j;
        }
        (*annotations_)[static_cast<unsigned long>(mode)] = std::move(runs);
    });
}

std::list<Annotation> AnnotatedFockState::get_mode_annotations(int mode) const {
    const std::size_t count = static_cast<std::size_t>(state_[mode]);
    std::list<Annotation> annotations;
    if (const runs_t* runs = mode_runs(mode))
        for (const auto& [run_count, annotation] : *runs)
            annotations.insert(annotations.end(), static_cast<std::size_t>(run_count), annotation);
    if (annotations.size() < count) annotations.resize(count);
    return annotations;
}

Annotation AnnotatedFockState::get_photon_annotation(int photon) const {
    const int mode = state_.photon2mode(photon);
    int rank = photon - state_.mode2photon(mode);
    if (const runs_t* runs = mode_runs(mode)) {
        for (const auto& [count, annotation] : *runs) {
            if (rank < count) return annotation;
            rank -= count;
        }
    }
    return {};
}

bool AnnotatedFockState::has_polarization() const {
    for (const auto& [mode, runs] : *annotations_)
        for (const auto& [count, annotation] : runs)
            if (annotation.count("P")) return true;
    return false;
}

bool AnnotatedFockState::operator==(const AnnotatedFockState& other) const {
    if (state_ != other.state_ || annotations_->size() != other.annotations_->size()) return false;
    for (const auto& [mode, runs] : *annotations_) {
        const auto it = other.annotations_->find(mode);
        if (it == other.annotations_->end() || !same_runs(runs, it->second)) return false;
    }
    return true;
}

// Runs of a mode, like the modes themselves, are combined independently of their order, so that
// states equal as multisets of runs hash alike.
std::size_t AnnotatedFockState::hash() const {
    using Utils::hash_combine;
    std::uint64_t modes = 0;
    for (const auto& [mode, runs] : *annotations_) {
        std::uint64_t mode_hash = 0;
        for (const auto& [count, annotation] : runs)
            mode_hash +=
                hash_combine(0, hash_combine(hash_combine(0, static_cast<std::uint64_t>(count)),
                                             annotation.hash()));
        modes += hash_combine(0, hash_combine(hash_combine(0, mode), mode_hash));
    }
    return hash_combine(hash_combine(0, state_.hash()), modes);
}

std::string AnnotatedFockState::to_str(bool show_annotations) const {
    return show_annotations ? fmt::format("{}", *this) : fmt::format("{:h}", *this);
}

std::ostream& operator<<(std::ostream& os, const AnnotatedFockState& state) {
    return os << state.to_str();
}
