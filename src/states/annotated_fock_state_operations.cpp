#include "states/annotated_fock_state.h"

#include <algorithm>
#include <stdexcept>

void AnnotatedFockState::_check_slice(int& start, int& end, int step, int& size, int& count) const {
    // Refused whatever the range, as for the other state kinds: a reversed Python slice must not
    // pass for an empty one.
    if (step < 1) throw std::invalid_argument("slice step must be positive");
    const int m = this->m();
    if (start < 0) start = std::max(start + m, 0);
    if (end < 0) end += m;
    end = std::clamp(end, 0, m);
    size = start < end ? (end - start - 1) / step + 1 : 0;
    count = 0;
    for (unsigned char c : state().code())
        count += c >= start && c < end && (c - start) % step == 0;
}

AnnotatedFockState AnnotatedFockState::slice(int start, int end, int step) const {
    int size, count;
    _check_slice(start, end, step, size, count);
    if (count == 0) return AnnotatedFockState(size, 0);
    AnnotatedFockState result(state_.slice(start, end, step));
    int selected = 0;
    for (long long mode = start; mode < end; mode += step, ++selected)
        if (const runs_t* runs = mode_runs(static_cast<int>(mode)))
            (*result.annotations_)[static_cast<unsigned long>(selected)] = *runs;
    return result;
}

AnnotatedFockState AnnotatedFockState::set_slice(const AnnotatedFockState& other, int start,
                                                 int end) const {
    int size, count;
    _check_slice(start, end, 1, size, count);
    if (other.m() != size) throw std::invalid_argument("invalid FockState to replace in slice");
    // A reversed range replaces nothing; taking the photons on both of its sides would count
    // those between its bounds twice.
    if (start > end) return *this;
    if (n() - count + other.n() == 0) return AnnotatedFockState(m(), 0);
    AnnotatedFockState result(state_.set_slice(other.state_, start, end));
    for (const auto& [mode, runs] : *annotations_)
        if (mode < static_cast<unsigned long>(start) || mode >= static_cast<unsigned long>(end))
            (*result.annotations_)[mode] = runs;
    for (const auto& [mode, runs] : *other.annotations_)
        (*result.annotations_)[mode + static_cast<unsigned long>(start)] = runs;
    return result;
}

AnnotatedFockState AnnotatedFockState::remove_modes(std::vector<unsigned char> modes) const {
    if (modes.empty()) return *this;
    std::sort(modes.begin(), modes.end());
    modes.erase(std::unique(modes.begin(), modes.end()), modes.end());
    if (modes.back() >= m()) throw std::runtime_error("Mode index to remove out of bound");
    AnnotatedFockState result(state_.remove_modes(modes));
    for (const auto& [mode, runs] : *annotations_) {
        const auto below = std::lower_bound(modes.begin(), modes.end(), mode);
        if (below != modes.end() && *below == mode) continue;
        (*result.annotations_)[mode - static_cast<unsigned long>(below - modes.begin())] = runs;
    }
    return result;
}

AnnotatedFockState& AnnotatedFockState::operator*=(const AnnotatedFockState& other) {
    const auto shift = static_cast<unsigned long>(m());
    // Copied first, as `other` may be this state; the room reserved now lets the nodes move in
    // without allocating once the photons have changed.
    annotations_t appended(*other.annotations_);
    annotations_->reserve(annotations_->size() + appended.size());
    state_ *= other.state_;
    while (!appended.empty()) {
        auto node = appended.extract(appended.begin());
        node.key() += shift;
        annotations_->insert(std::move(node));
    }
    return *this;
}

AnnotatedFockState AnnotatedFockState::pow(unsigned int k) const {
    if (k == 0) return AnnotatedFockState(0, 0);
    AnnotatedFockState result(state_.pow(k));
    const auto m = static_cast<unsigned long>(this->m());
    for (const auto& [mode, runs] : *annotations_)
        for (unsigned long copy = 0; copy < k; ++copy)
            (*result.annotations_)[mode + copy * m] = runs;
    return result;
}

AnnotatedFockState AnnotatedFockState::merge(const AnnotatedFockState& other) const {
    AnnotatedFockState result(state_.merge(other.state_),
                              std::make_unique<annotations_t>(*annotations_));
    for (const auto& [mode, other_runs] : *other.annotations_) {
        const auto [entry, inserted] = result.annotations_->try_emplace(mode, other_runs);
        if (inserted) continue;
        runs_t& runs = entry->second;
        for (const auto& [count, annotation] : other_runs) {
            const auto same = std::find_if(runs.begin(), runs.end(), [&](const run_t& run) {
                return run.second == annotation;
            });
            if (same != runs.end()) {
                same->first += count;
                continue;
            }
            const std::string text = annotation.to_str();
            const auto greater = std::find_if(runs.begin(), runs.end(), [&](const run_t& run) {
                return run.second.to_str() > text;
            });
            runs.emplace(greater, count, annotation);
        }
    }
    return result;
}
