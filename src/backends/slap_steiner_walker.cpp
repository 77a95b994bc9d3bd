#include "backends/slap_steiner_walker.h"

#include "backends/fock_state_indexing.h"
#include "backends/steiner_tables.h"
#include "runtime/combinatorics.h"

namespace Backend {

namespace {

constexpr int partition_width = 31;

}  // namespace

SLAPSteinerWalker::SLAPSteinerWalker(int m, int n, std::optional<FsMask>)
    : m_(m), n_(n), partitions_(computePartialCardinals()) {
    offsets_.assign(static_cast<std::size_t>(n) + 1, 0);
    for (int i = 1; i <= n; ++i)
        offsets_[static_cast<std::size_t>(i)] =
            offsets_[static_cast<std::size_t>(i - 1)] + MathUtils::partitions(i, i);
    counts_.assign(static_cast<std::size_t>(n) + 1, 0);
    counts_[0] = m;
    // The root's children, mode 0 on top.
    for (int mode = m - 1; mode >= 0; --mode) {
        stack_.push_back({mode, 1, 0});
        stack_.push_back({mode, 0, 1});
    }
    const std::size_t links = (static_cast<std::size_t>(n) + 1) * static_cast<std::size_t>(m);
    previous_.assign(links, 0);
    next_.assign(links, 0);
    for (int mode = 0; mode < m; ++mode) {
        previous_[at(0, mode)] = mode == m - 1 ? -1 : mode + 1;
        next_[at(0, mode)] = mode - 1;
    }
    generateSteinerMap();
    heads_.assign(static_cast<std::size_t>(n) + 1, -1);
    heads_[0] = m - 1;
    state_.assign(static_cast<std::size_t>(m), 0);
    combinations_ = prepareCombinations(m, n);
    computeNextNode();
}

void SLAPSteinerWalker::generateSteinerMap() {
    steiner_map_.assign(static_cast<std::size_t>(offsets_[static_cast<std::size_t>(n_)]), {});
    for (auto const& row : data_steiner[static_cast<std::size_t>(n_ - 2)]) {
        int d = 0;
        for (int k = 1; k <= n_; ++k) d += k * row[static_cast<std::size_t>(k)];
        int index = offsets_[static_cast<std::size_t>(d)];
        int r = d;
        for (int k = n_; k >= 1 && r > 0; --k)
            for (int c = 0; c < row[static_cast<std::size_t>(k)]; ++c) {
                index += partitions_[static_cast<std::size_t>(r * partition_width + k - 1)];
                r -= k;
            }
        steiner_map_[static_cast<std::size_t>(index)].assign(row.begin() + n_ + 1, row.end());
    }
}

int SLAPSteinerWalker::shapeIndex() const {
    int index = offsets_[static_cast<std::size_t>(degree_)];
    int r = degree_;
    for (int k = n_; k >= 1 && r > 0; --k)
        for (int c = 0; c < counts_[static_cast<std::size_t>(k)]; ++c) {
            index += partitions_[static_cast<std::size_t>(r * partition_width + k - 1)];
            r -= k;
        }
    return index;
}

std::size_t SLAPSteinerWalker::getResultIndex() const {
    return static_cast<std::size_t>(getIndexFromFockState(state_, n_, combinations_));
}

std::size_t SLAPSteinerWalker::getFinalSize() const {
    return static_cast<std::size_t>(
        MathUtils::comb(static_cast<unsigned>(n_ + m_ - 1), static_cast<unsigned>(n_)));
}

// The mode keeps its own links, so that relink can put it back where it was.
void SLAPSteinerWalker::unlink(int mode, int k) {
    const int before = previous_[at(k, mode)];
    const int after = next_[at(k, mode)];
    if (before != -1)
        next_[at(k, before)] = after;
    else
        heads_[static_cast<std::size_t>(k)] = after;
    if (after != -1) previous_[at(k, after)] = before;
}

void SLAPSteinerWalker::relink(int mode, int k) {
    const int before = previous_[at(k, mode)];
    const int after = next_[at(k, mode)];
    if (after != -1) previous_[at(k, after)] = mode;
    if (before != -1)
        next_[at(k, before)] = mode;
    else
        heads_[static_cast<std::size_t>(k)] = mode;
}

void SLAPSteinerWalker::insertHead(int mode, int k) {
    const int old = heads_[static_cast<std::size_t>(k)];
    next_[at(k, mode)] = old;
    previous_[at(k, mode)] = -1;
    if (old != -1) previous_[at(k, old)] = mode;
    heads_[static_cast<std::size_t>(k)] = mode;
}

void SLAPSteinerWalker::computeNextNode() {
    if (stack_.empty()) return;
    for (;;) {
        current_ = stack_.back();
        stack_.pop_back();
        unlink(current_.mode, current_.occupation);
        --counts_[static_cast<std::size_t>(current_.occupation)];
        if (current_.descend == 1) break;
        relink(current_.mode, current_.occupation - 1);
        --state_[static_cast<std::size_t>(current_.mode)];
        ++counts_[static_cast<std::size_t>(current_.occupation - 1)];
        --degree_;
        if (stack_.empty()) return;
    }
    insertHead(current_.mode, current_.occupation + 1);
    ++state_[static_cast<std::size_t>(current_.mode)];
    ++counts_[static_cast<std::size_t>(current_.occupation + 1)];
    ++degree_;
    if (degree_ == n_) return;
    addNextOperation();
}

// Mode order: a mode is raised to b only above every mode already holding b, so the mode of a leaf
// raised last among those holding b is the largest.
void SLAPSteinerWalker::addNextOperation() {
    for (int b : steiner_map_[static_cast<std::size_t>(shapeIndex())]) {
        const int available = counts_[static_cast<std::size_t>(b - 1)];
        const int floor = heads_[static_cast<std::size_t>(b)];
        int mode = heads_[static_cast<std::size_t>(b - 1)];
        for (int taken = 0; taken < available && mode != -1 && mode > floor; ++taken) {
            stack_.push_back({mode, b, 0});
            stack_.push_back({mode, b - 1, 1});
            mode = next_[at(b - 1, mode)];
        }
    }
}

}  // namespace Backend
