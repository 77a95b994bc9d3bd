#include "simulators/result_caches.h"

#include <algorithm>
#include <array>
#include <bit>
#include <utility>

#include "runtime/background_release.h"
#include "runtime/interrupt_signal_handler.h"

namespace simulators::details {

using InterruptSignalHandler::Poll;

namespace {

// `product`: the product of the probabilities of `state`'s outcomes in the pairs before `next`.
void inner_merge(std::vector<ListPair> const& pairs, std::size_t next, FockState const& state,
                 double product, double threshold, FockSpaceFunction& result, Poll& poll) {
    poll();
    if (next == pairs.size()) {
        result[state] += product;
        return;
    }
    auto const& [outputs, probabilities] = pairs[next];
    for (std::size_t i = 0; i < probabilities->size(); ++i) {
        const double extended = (*probabilities)[i] * product;
        if (extended >= threshold)
            inner_merge(pairs, next + 1, state.merge((*outputs)[i]), extended, threshold, result,
                        poll);
    }
}

struct SortedProduct {
    std::vector<SortedOutcomes const*> const& parts;
    double threshold;
    double factor;
    FockSpaceFunction& out;
    double added = 0;
    // The products grow as the outcomes' count to the power of the parts': polled per node.
    Poll poll{};

    // `product`: the product of the probabilities of `state`'s outcomes in the parts before
    // `next`.
    void expand(std::size_t next, FockState const& state, double product) {
        poll();
        if (next == parts.size()) {
            const double value = product * factor;
            out[state] += value;
            added += value;
            return;
        }
        SortedOutcomes const& part = *parts[next];
        for (std::size_t i = 0; i < part.probabilities.size(); ++i) {
            const double extended = part.probabilities[i] * product;
            if (extended < threshold) break;
            expand(next + 1, state.merge(part.state(i)), extended);
        }
    }
};

// The buffers of the largest products hold gigabytes, which take a second to write or move:
// they are filled and grown a block at a time, with a poll between blocks.
constexpr std::size_t block = std::size_t{1} << 20;

template <typename T>
void release_if_large(std::vector<T>& v) {
    if (v.capacity() * sizeof(T) >= (std::size_t{1} << 26))
        InterruptSignalHandler::ReleaseWorker::shared().release(std::move(v));
}

// `v` moved to a buffer of at least `capacity`.
template <typename T>
void reserve(std::vector<T>& v, std::size_t capacity, Poll& poll) {
    if (capacity <= v.capacity()) return;
    std::vector<T> larger;
    larger.reserve(capacity);
    for (std::size_t i = 0; i < v.size(); i += block) {
        const std::size_t end = std::min(v.size(), i + block);
        larger.insert(larger.end(), v.begin() + static_cast<std::ptrdiff_t>(i),
                      v.begin() + static_cast<std::ptrdiff_t>(end));
        poll(end - i);
    }
    v.swap(larger);
}

// `v` holding `size` copies of `value`.
template <typename T>
void fill(std::vector<T>& v, std::size_t size, T value, Poll& poll) {
    v.clear();
    reserve(v, size, poll);
    while (v.size() < size) {
        const std::size_t step = std::min(block, size - v.size());
        v.insert(v.end(), step, value);
        poll(step);
    }
}

// A partial product of an input's parts but its largest: the packed state, and the input's
// probability times the product.
struct Arrival {
    std::uint64_t key;
    double weight;
};

struct PrefixExpansion {
    std::vector<SortedOutcomes const*> const& parts;
    std::size_t skipped;
    double cutoff;
    std::vector<Arrival>& arrivals;
    Poll& poll;

    void expand(std::size_t next, std::uint64_t key, double weight) {
        poll();
        if (next == skipped) ++next;
        if (next == parts.size()) {
            if (arrivals.size() == arrivals.capacity())
                reserve(arrivals, std::max<std::size_t>(1024, 2 * arrivals.size()), poll);
            arrivals.push_back({key, weight});
            return;
        }
        SortedOutcomes const& part = *parts[next];
        for (std::size_t i = 0; i < part.probabilities.size(); ++i) {
            const double extended = part.probabilities[i] * weight;
            if (extended < cutoff) break;
            expand(next + 1, key + part.packed[i], extended);
        }
    }
};

const SortedOutcomes no_outcomes;

// Positive probabilities by decreasing value: a byte-wise radix sort of their bit patterns, which
// order as the values do, for long lists; comparisons mispredict too often there.
void sort_decreasing(std::vector<std::pair<double, std::uint32_t>>& outcomes) {
    const auto by_value = [](auto const& a, auto const& b) { return a.first > b.first; };
    if (outcomes.size() < 256) {
        std::sort(outcomes.begin(), outcomes.end(), by_value);
        return;
    }
    const auto key = [](std::pair<double, std::uint32_t> const& o) {
        return ~std::bit_cast<std::uint64_t>(o.first);
    };
    std::array<std::array<std::uint32_t, 256>, 8> counts{};
    for (auto const& o : outcomes) {
        const std::uint64_t k = key(o);
        for (int d = 0; d < 8; ++d) ++counts[d][(k >> (8 * d)) & 0xFF];
    }
    std::vector<std::pair<double, std::uint32_t>> buffer(outcomes.size());
    Poll poll(1);
    for (int d = 0; d < 8; ++d) {
        poll();
        auto& count = counts[d];
        // A byte shared by every value leaves the order as it is.
        if (std::find(count.begin(), count.end(), outcomes.size()) != count.end()) continue;
        std::uint32_t start = 0;
        for (auto& c : count) start += std::exchange(c, start);
        for (auto const& o : outcomes) buffer[count[(key(o) >> (8 * d)) & 0xFF]++] = o;
        outcomes.swap(buffer);
    }
}

constexpr std::uint64_t mix = 0x9E3779B97F4A7C15ull;

}  // namespace

std::optional<PackedModes> PackedModes::fit(int m, int max_photons) {
    if (m <= 0 || m > 64 || max_photons < 0) return std::nullopt;
    const int bits = std::min(64 / m, 32);
    if (static_cast<std::uint64_t>(max_photons) >= (std::uint64_t{1} << bits)) return std::nullopt;
    return PackedModes(m, bits, max_photons);
}

std::uint64_t PackedModes::pack(FockState const& state) const {
    std::uint64_t key = 0;
    const unsigned char* code = state.data();
    for (int i = 0; i < state.n(); ++i) key += std::uint64_t{1} << (code[i] * bits_);
    return key;
}

FockState PackedModes::unpack(std::uint64_t key) const {
    const std::uint64_t mask = (std::uint64_t{1} << bits_) - 1;
    std::size_t n = 0;
    for (std::uint64_t rest = key; rest != 0; rest >>= bits_) n += rest & mask;
    FockState::code_t code(n);
    unsigned char* next = code.mutable_data();
    for (int k = 0; key != 0; ++k, key >>= bits_)
        for (auto count = key & mask; count > 0; --count) *next++ = static_cast<unsigned char>(k);
    return FockState(m_, std::move(code));
}

PackedAccumulator::PackedAccumulator(PackedModes packing, std::size_t dense_limit)
    : packing_(packing), ranks_(packing.m(), packing.max_photons()) {
    // The counts are exact: the largest, C(m - 1 + t, m - 1) for t photons that fit the
    // packing, stays far below 2^64.
    // Photon counts whose states all fit in the limit in total are dense.
    std::size_t total = 0;
    for (int n = 0; n <= packing.max_photons(); ++n) {
        const std::size_t count = ranks_.count(0, n);
        if (count > dense_limit || total + count > dense_limit) break;
        offsets_.push_back(total);
        total += count;
    }
    dense_.assign(total, 0.0);
}

void PackedAccumulator::add_sparse(std::uint64_t key, double value) {
    // At most three quarters full: linear probing stays short and the table small.
    if (4 * (size_ + 1) > 3 * slots_.size()) grow();
    const std::size_t last = slots_.size() - 1;
    for (std::size_t i = static_cast<std::size_t>((key * mix) >> shift_);; i = (i + 1) & last) {
        Slot& slot = slots_[i];
        if (slot.key == key + 1) {
            slot.value += value;
            return;
        }
        if (slot.key == 0) {
            slot = {key + 1, value};
            ++size_;
            return;
        }
    }
}

void PackedAccumulator::grow() {
    std::vector<Slot> slots = std::move(slots_);
    const std::size_t capacity = slots.empty() ? 1024 : 2 * slots.size();
    slots_.assign(capacity, Slot{0, 0.0});
    shift_ = 64 - std::countr_zero(capacity);
    size_ = 0;
    Poll poll;
    for (Slot const& slot : slots) {
        poll();
        if (slot.key != 0) add_sparse(slot.key - 1, slot.value);
    }
}

std::uint32_t const* PackedAccumulator::fill_successors(std::uint64_t key, std::size_t n,
                                                        std::uint64_t r) {
    const auto m = static_cast<std::size_t>(packing_.m());
    if (successors_.size() <= n) successors_.resize(n + 1);
    SuccessorRows& rows = successors_[n];
    if (!rows.ranks) {
        const std::size_t count = ranks_.count(0, static_cast<int>(n));
        rows.ranks.reset(new std::uint32_t[count * m]);
        rows.filled.assign(count, 0);
        rows.width = m;
    }
    std::uint32_t* out = rows.ranks.get() + r * m;
    rows.filled[r] = 1;
    const std::uint64_t mask = (std::uint64_t{1} << packing_.bits()) - 1;
    std::array<std::size_t, 65> before;  // photons on the modes below each mode
    before[0] = 0;
    for (std::size_t k = 0; k < m; ++k, key >>= packing_.bits())
        before[k + 1] = before[k] + static_cast<std::size_t>(key & mask);
    // Mode a with b photons before it and b' up to it contributes C(a + b', a) - C(a + b, a);
    // with a photon added on a, C(a + b' + 1, a) - C(a + b, a); with one added below a,
    // C(a + b' + 1, a) - C(a + b + 1, a). C(a + t, a) states hold t photons on the last a + 1
    // modes.
    const auto row_of = [&](std::size_t a) {
        return ranks_.data() + (m - 1 - a) * ranks_.columns() + 1;
    };
    std::uint64_t above = 0;
    for (std::size_t a = 0; a < m; ++a) {
        std::uint64_t const* row = row_of(a);
        above += row[before[a + 1] + 1] - row[before[a] + 1];
    }
    std::uint64_t below = 0;
    for (std::size_t a = 0; a < m; ++a) {
        std::uint64_t const* row = row_of(a);
        const std::size_t b = before[a];
        const std::size_t b1 = before[a + 1];
        above -= row[b1 + 1] - row[b + 1];
        out[a] = static_cast<std::uint32_t>(below + row[b1 + 1] - row[b] + above);
        below += row[b1] - row[b];
    }
    return out;
}

double PackedAccumulator::sum() const {
    double total = 0;
    for (double v : dense_) total += v;
    for (Slot const& slot : slots_)
        if (slot.key != 0) total += slot.value;
    return total;
}

FockSpaceFunction PackedAccumulator::to_function(double divisor) const {
    FockSpaceFunction::map_type map;
    map.max_load_factor(1.0);
    std::size_t count = size_;
    for (double v : dense_) count += v != 0.0;
    map.reserve(count);
    const InterruptSignalHandler::ReleaseOnInterrupt release(map);
    Poll poll;
    // Dense states in rank order: the combinations d_1 < ... < d_n of d_i = mode of photon i
    // plus i - 1, in colexicographic order.
    const int m = packing_.m();
    std::vector<int> d;
    for (std::size_t n = 0; n < offsets_.size(); ++n) {
        const double* values = dense_.data() + offsets_[n];
        const std::size_t size =
            (n + 1 < offsets_.size() ? offsets_[n + 1] : dense_.size()) - offsets_[n];
        d.resize(n + 1);
        for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<int>(i);
        d[n] = static_cast<int>(n) + m;  // sentinel
        for (std::size_t r = 0; r < size; ++r) {
            poll();
            if (values[r] != 0.0) {
                FockState::code_t code(n);
                unsigned char* c = code.mutable_data();
                for (std::size_t i = 0; i < n; ++i)
                    c[i] = static_cast<unsigned char>(d[i] - static_cast<int>(i));
                map.emplace(FockState(m, std::move(code)), values[r] / divisor);
            }
            std::size_t i = 0;
            while (i < n && d[i] + 1 == d[i + 1]) ++i;
            if (i < n) {
                ++d[i];
                for (std::size_t j = 0; j < i; ++j) d[j] = static_cast<int>(j);
            }
        }
    }
    for (Slot const& slot : slots_) {
        poll();
        if (slot.key != 0) map.emplace(packing_.unpack(slot.key - 1), slot.value / divisor);
    }
    return FockSpaceFunction(std::move(map), true);
}

void SortedOutcomes::assign(OutputTable const& from,
                            std::vector<std::pair<double, std::uint32_t>>& outcomes) {
    std::erase_if(outcomes, [](auto const& outcome) { return !(outcome.first > 0); });
    sort_decreasing(outcomes);
    table = &from;
    positions.resize(outcomes.size());
    probabilities.resize(outcomes.size());
    packed.resize(from.packed.empty() ? 0 : outcomes.size());
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        probabilities[i] = outcomes[i].first;
        positions[i] = outcomes[i].second;
    }
    for (std::size_t i = 0; i < packed.size(); ++i) packed[i] = from.packed[positions[i]];
}

FockSpaceFunction listMerge(std::vector<ListPair> const& pairs, double threshold) {
    FockSpaceFunction result;
    if (pairs.empty()) return result;
    for (auto const& pair : pairs)
        if (pair.second->empty()) return result;
    const InterruptSignalHandler::ReleaseOnInterrupt release(result);
    Poll poll;
    auto const& [outputs, probabilities] = pairs.front();
    for (std::size_t i = 0; i < probabilities->size(); ++i) {
        const double f = (*probabilities)[i];
        if (f >= threshold) inner_merge(pairs, 1, (*outputs)[i], f, threshold, result, poll);
    }
    return result;
}

double sortedMerge(std::vector<SortedOutcomes const*> const& parts, double threshold, double factor,
                   FockSpaceFunction& out) {
    if (parts.empty()) return 0;
    for (auto const* part : parts)
        if (part->probabilities.empty()) return 0;
    SortedProduct product{parts, threshold, factor, out};
    SortedOutcomes const& first = *parts.front();
    for (std::size_t i = 0; i < first.probabilities.size(); ++i) {
        if (first.probabilities[i] < threshold) break;
        product.expand(1, first.state(i), first.probabilities[i]);
    }
    return product.added;
}

double scaledMerge(std::vector<SortedOutcomes const*> const& parts, double threshold,
                   double probability, FockSpaceFunction& out) {
    if (probability == 0) return 0;
    return sortedMerge(parts, threshold / probability, probability, out);
}

namespace {

// No arrival, run or slot.
constexpr std::uint32_t none = ~std::uint32_t{0};

// The inputs with a product to expand, grouped by their largest part, groups in order of first
// appearance: a group's inputs share one loop over that part's outcomes.
struct InputGroups {
    std::vector<SortedOutcomes const*> part;
    std::vector<std::vector<std::size_t>> inputs;
    // By input: the position of its largest part among its parts.
    std::vector<std::size_t> largest;
    // Inputs in no group: no part, probability 0, or a part without outcomes.
    std::size_t left_out = 0;

    explicit InputGroups(std::vector<ProductInput> const& all) : largest(all.size()) {
        std::unordered_map<SortedOutcomes const*, std::size_t> group_of;
        for (std::size_t j = 0; j < all.size(); ++j) {
            auto const& parts = all[j].parts;
            if (parts.empty() || !(all[j].probability > 0)) continue;
            std::size_t l = 0;
            bool empty = false;
            for (std::size_t i = 0; i < parts.size(); ++i) {
                empty = empty || parts[i]->probabilities.empty();
                if (parts[i]->probabilities.size() > parts[l]->probabilities.size()) l = i;
            }
            if (empty) continue;
            largest[j] = l;
            auto [it, inserted] = group_of.try_emplace(parts[l], part.size());
            if (inserted) {
                part.push_back(parts[l]);
                inputs.emplace_back();
            }
            inputs[it->second].push_back(j);
        }
        left_out = all.size();
        for (auto const& group : inputs) left_out -= group.size();
    }
};

// The arrivals of one group that share a partial state: their weights by decreasing value, and
// the outcomes of the largest part they reach.
struct Run {
    std::uint64_t key;
    std::size_t weights;  // start in `weights`, by decreasing weight
    std::size_t sums;     // start in `sums`: 0, then the running sums of the weights
    std::size_t active;   // number of weights
    int mode;             // the mode of a one-photon partial state, else vacuum or other
    std::size_t reach = 0;
};
constexpr int vacuum = -1;
constexpr int other = -2;

// The products of every input with the outcomes of its largest part, one group at a time; the
// buffers are kept across groups.
class PackedMerge {
  public:
    PackedMerge(std::vector<ProductInput> const& inputs, double cutoff, PackedAccumulator& out)
        : inputs_(inputs),
          cutoff_(cutoff),
          out_(out),
          groups_(inputs),
          bits_(out.packing().bits()),
          m_(static_cast<std::size_t>(out.packing().m())) {}
    PackedMerge(PackedMerge const&) = delete;
    PackedMerge& operator=(PackedMerge const&) = delete;
    // Unmapping the largest buffers takes a second, the merge ended or interrupted: they are
    // freed in the background.
    ~PackedMerge() {
        release_if_large(arrivals_);
        release_if_large(table_keys_);
        release_if_large(table_runs_);
        release_if_large(next_);
        release_if_large(weights_);
        release_if_large(sums_);
    }

    double run(std::function<void(std::size_t)> const& done) {
        double added = 0;
        std::size_t finished = groups_.left_out;
        for (std::size_t group = 0; group < groups_.part.size(); ++group) {
            SortedOutcomes const& part = *groups_.part[group];
            expand_other_parts(group);
            bucket_arrivals();
            build_runs();
            const std::size_t reached = reach(part);
            const std::size_t n = part.table->states[part.positions.front()].n();
            const bool dense = rank_outcomes(part, n, reached);
            fill_slots(part, n, reached, dense);
            for (Run const& run : runs_) added += add_run(run, part, n, dense);
            finished += groups_.inputs[group].size();
            if (done) done(finished);
        }
        if (done && groups_.part.empty()) done(finished);
        return added;
    }

  private:
    // The partial products of the group's inputs over their parts but the largest.
    void expand_other_parts(std::size_t group) {
        arrivals_.clear();
        for (std::size_t j : groups_.inputs[group])
            PrefixExpansion{inputs_[j].parts, groups_.largest[j], cutoff_, arrivals_, poll_}.expand(
                0, 0, inputs_[j].probability);
    }

    // Arrivals bucketed by partial state, each bucket a list through next_, buckets in order of
    // first appearance.
    void bucket_arrivals() {
        std::size_t capacity = 16;
        while (capacity < 2 * arrivals_.size()) capacity *= 2;
        fill(table_keys_, capacity, std::uint64_t{0}, poll_);
        fill(table_runs_, capacity, none, poll_);
        const int shift = 64 - std::countr_zero(capacity);
        heads_.clear();
        fill(next_, arrivals_.size(), none, poll_);
        for (std::size_t r = arrivals_.size(); r-- > 0;) {
            poll_();
            const std::uint64_t key = arrivals_[r].key;
            std::size_t i = static_cast<std::size_t>((key * mix) >> shift);
            while (table_runs_[i] != none && table_keys_[i] != key) i = (i + 1) & (capacity - 1);
            if (table_runs_[i] == none) {
                table_keys_[i] = key;
                table_runs_[i] = static_cast<std::uint32_t>(heads_.size());
                heads_.push_back(none);
            }
            next_[r] = heads_[table_runs_[i]];
            heads_[table_runs_[i]] = static_cast<std::uint32_t>(r);
        }
    }

    // Arrivals of one partial state share the largest part's loop: outcome k takes the sum of
    // the weights w with p_k * w >= cutoff, a prefix of the run by decreasing weight that
    // shrinks as p_k falls.
    void build_runs() {
        runs_.clear();
        weights_.clear();
        sums_.clear();
        // One weight per arrival, and one sum more per run.
        reserve(weights_, arrivals_.size(), poll_);
        reserve(sums_, arrivals_.size() + heads_.size(), poll_);
        for (std::uint32_t head : heads_) {
            const std::uint64_t key = arrivals_[head].key;
            Run run{key, weights_.size(), sums_.size(), 0, key == 0 ? vacuum : other, 0};
            for (std::uint32_t r = head; r != none; r = next_[r])
                weights_.push_back(arrivals_[r].weight);
            poll_(weights_.size() - run.weights);
            std::sort(weights_.begin() + static_cast<std::ptrdiff_t>(run.weights), weights_.end(),
                      std::greater<>());
            run.active = weights_.size() - run.weights;
            sums_.push_back(0.0);
            for (std::size_t r = run.weights; r < weights_.size(); ++r)
                sums_.push_back(sums_.back() + weights_[r]);
            // A partial state of one photon: its targets are neighbours of the outcomes.
            if (key != 0 && (key & (key - 1)) == 0 && std::countr_zero(key) % bits_ == 0)
                run.mode = std::countr_zero(key) / bits_;
            runs_.push_back(run);
        }
    }

    // Sets each run's reach, the outcomes whose product with its largest weight stays above the
    // cutoff; returns the largest.
    std::size_t reach(SortedOutcomes const& part) {
        auto const& probabilities = part.probabilities;
        std::size_t reached = 0;
        for (Run& run : runs_) {
            poll_();
            const double largest_weight = weights_[run.weights];
            run.reach = static_cast<std::size_t>(
                std::partition_point(probabilities.begin(), probabilities.end(),
                                     [&](double p) { return p * largest_weight >= cutoff_; }) -
                probabilities.begin());
            reached = std::max(reached, run.reach);
        }
        return reached;
    }

    // The ranks of the reached outcomes, all of n photons, into own_; kept per output table
    // since parts share them. Returns whether n photons are dense and the outcomes conserve
    // them.
    bool rank_outcomes(SortedOutcomes const& part, std::size_t n, std::size_t reached) {
        bool dense = out_.dense(n);
        std::vector<std::uint64_t>& table_ranks = ranks_[part.table];
        if (dense && table_ranks.empty()) table_ranks.assign(part.table->states.size(), unranked);
        own_.resize(reached);
        for (std::size_t k = 0; dense && k < reached; ++k) {
            poll_();
            std::uint64_t& r = table_ranks[part.positions[k]];
            if (r == unranked) {
                const auto [rank, photons] = out_.rank_of(part.packed[k]);
                // A back-end conserves photons; a table that did not takes the slow path.
                if (photons != n) {
                    dense = false;
                    break;
                }
                r = rank;
            }
            own_[k] = r;
        }
        return dense;
    }

    // By reached outcome: the slots of the outcome plus one photon on each mode, then its own;
    // `none` where a target is not dense.
    void fill_slots(SortedOutcomes const& part, std::size_t n, std::size_t reached, bool dense) {
        const bool one_more = dense && out_.dense(n + 1);
        slots_.resize(reached * (m_ + 1));
        for (std::size_t k = 0; k < reached; ++k) {
            poll_();
            std::uint32_t* row = slots_.data() + k * (m_ + 1);
            std::fill_n(row, m_ + 1, none);
            if (!dense) continue;
            row[m_] = static_cast<std::uint32_t>(out_.dense_offset(n) + own_[k]);
            if (!one_more) continue;
            std::uint32_t const* next_ranks = out_.successors(part.packed[k], n, own_[k]);
            const auto offset = static_cast<std::uint32_t>(out_.dense_offset(n + 1));
            for (std::size_t a = 0; a < m_; ++a) row[a] = offset + next_ranks[a];
        }
    }

    // Adds the run's products with the outcomes it reaches; returns their sum.
    double add_run(Run const& run, SortedOutcomes const& part, std::size_t n, bool dense) {
        // Counted by outcome, so that the hot loop below stays free of polls.
        poll_(run.reach);
        auto const& probabilities = part.probabilities;
        std::size_t active = run.active;
        double const* run_weights = weights_.data() + run.weights;
        double const* run_sums = sums_.data() + run.sums;
        const bool one_more = dense && out_.dense(n + 1);
        const std::size_t column = run.mode >= 0 ? static_cast<std::size_t>(run.mode) : m_;
        const bool slotted = run.mode == vacuum ? dense : run.mode >= 0 && one_more;
        double run_added = 0;
        if (slotted) {
            // The hot loop: every target has its slot.
            double* values = out_.dense_values();
            std::uint32_t const* slot = slots_.data() + column;
            for (std::size_t k = 0; k < run.reach; ++k) {
                const double p = probabilities[k];
                while (p * run_weights[active - 1] < cutoff_) --active;
                const double value = p * run_sums[active];
                run_added += value;
                values[slot[k * (m_ + 1)]] += value;
            }
            return run_added;
        }
        // Other partial states: their photons added one by one through the successor rows.
        modes_.clear();
        const std::uint64_t unit_mask = (std::uint64_t{1} << bits_) - 1;
        std::uint64_t rest = run.key;
        for (std::size_t a = 0; rest != 0; ++a, rest >>= bits_)
            for (std::uint64_t c = rest & unit_mask; c > 0; --c) modes_.push_back(a);
        bool chained = run.mode == other && dense;
        for (std::size_t i = 0; chained && i < modes_.size(); ++i) chained = out_.dense(n + i + 1);
        for (std::size_t k = 0; k < run.reach; ++k) {
            const double p = probabilities[k];
            while (p * run_weights[active - 1] < cutoff_) --active;
            const double value = p * run_sums[active];
            run_added += value;
            if (chained) {
                std::uint64_t key = part.packed[k];
                std::uint64_t r = own_[k];
                for (std::size_t i = 0; i < modes_.size(); ++i) {
                    r = out_.successors(key, n + i, r)[modes_[i]];
                    key += std::uint64_t{1} << (modes_[i] * static_cast<std::size_t>(bits_));
                }
                out_.add_at(out_.dense_offset(n + modes_.size()) + r, value);
            } else {
                out_.add(run.key + part.packed[k], value);
            }
        }
        return run_added;
    }

    static constexpr std::uint64_t unranked = ~std::uint64_t{0};

    std::vector<ProductInput> const& inputs_;
    double cutoff_;
    PackedAccumulator& out_;
    const InputGroups groups_;
    const int bits_;
    const std::size_t m_;
    std::vector<Arrival> arrivals_;
    // Open addressing from partial state to run, and each run's first arrival.
    std::vector<std::uint64_t> table_keys_;
    std::vector<std::uint32_t> table_runs_;
    std::vector<std::uint32_t> heads_;
    std::vector<std::uint32_t> next_;
    std::vector<Run> runs_;
    std::vector<double> weights_;
    std::vector<double> sums_;
    // The reached outcomes' ranks and slots (`fill_slots`).
    std::unordered_map<OutputTable const*, std::vector<std::uint64_t>> ranks_;
    std::vector<std::uint64_t> own_;
    std::vector<std::uint32_t> slots_;
    // The modes of a run's photons, one entry per photon.
    std::vector<std::size_t> modes_;
    // Every step above, from partial products to outcomes, counts towards one poll.
    Poll poll_;
};

}  // namespace

double packedMerge(std::vector<ProductInput> const& inputs, double cutoff, PackedAccumulator& out,
                   std::function<void(std::size_t)> const& done) {
    return PackedMerge(inputs, cutoff, out).run(done);
}

void VectorCache::set_output_states(int sigma, int n, std::function<OutputList()> const& getter) {
    OutputTable& table = outputs_[sigma][n];
    if (!table.states.empty()) return;
    table.states = getter();
    table.packed.clear();
    if (packing_) {
        table.packed.reserve(table.states.size());
        for (FockState const& state : table.states) table.packed.push_back(packing_->pack(state));
    }
}

void VectorCache::add_result(int sigma, FockState const& part, double max_probability,
                             std::vector<double> probabilities) {
    OutputTable const& table = outputs_.at(sigma).at(part.n());
    // No input holding the part can keep an outcome below the cut: it is left out of the sorted
    // list, not of the vector.
    const double cut = max_probability > 0 ? threshold_ / max_probability : 0.0;
    std::vector<std::pair<double, std::uint32_t>> outcomes;
    const std::size_t size = std::min(table.states.size(), probabilities.size());
    for (std::size_t i = 0; i < size; ++i)
        if (probabilities[i] >= cut)
            outcomes.emplace_back(probabilities[i], static_cast<std::uint32_t>(i));
    Result& result = results_[sigma][part];
    result.sorted.assign(table, outcomes);
    result.probabilities = std::move(probabilities);
}

SortedOutcomes const* VectorCache::outcomes(int sigma, FockState const& part) const {
    return &results_.at(sigma).at(part).sorted;
}

double VectorCache::merge(std::vector<SortedOutcomes const*> const& parts, double probability,
                          FockSpaceFunction& out) const {
    return scaledMerge(parts, threshold_, probability, out);
}

void MapCache::set_output_states(int sigma, int n, std::function<OutputList()> const& getter) {
    if (sigma == current_sigma_ && n == current_n_ && !current_.empty()) return;
    current_sigma_ = sigma;
    current_n_ = n;
    current_ = getter();
}

void MapCache::add_result(int sigma, FockState const& part, double max_probability,
                          std::vector<double> const& probabilities) {
    OutputIndex& index = index_[sigma][part.n()];
    OutputTable& kept = index.kept;
    std::vector<double> compact(kept.states.size(), 0.0);
    if (index.slots.size() < current_.size()) index.slots.resize(current_.size(), -1);
    if (max_probability == 0) return;
    const double cut = threshold_ / max_probability;
    const std::size_t size = std::min(current_.size(), probabilities.size());
    std::vector<std::pair<double, std::uint32_t>> outcomes;
    for (std::size_t i = 0; i < size; ++i) {
        if (probabilities[i] < cut) continue;
        std::int32_t& slot = index.slots[i];
        if (slot < 0) {
            // compact starts at the index's size and grows with it, so slots stay aligned.
            slot = static_cast<std::int32_t>(kept.states.size());
            kept.states.push_back(current_[i]);
            if (packing_) kept.packed.push_back(packing_->pack(current_[i]));
            compact.push_back(probabilities[i]);
        } else {
            compact[static_cast<std::size_t>(slot)] = probabilities[i];
        }
        outcomes.emplace_back(probabilities[i], static_cast<std::uint32_t>(slot));
    }
    Result& result = results_[sigma][part];
    result.sorted.assign(kept, outcomes);
    result.compact = std::move(compact);
}

SortedOutcomes const* MapCache::outcomes(int sigma, FockState const& part) const {
    // A part whose likeliest input has probability 0 stored nothing: it yields no output.
    if (auto by_sigma = results_.find(sigma); by_sigma != results_.end())
        if (auto it = by_sigma->second.find(part); it != by_sigma->second.end())
            return &it->second.sorted;
    return &no_outcomes;
}

double MapCache::merge(std::vector<SortedOutcomes const*> const& parts, double probability,
                       FockSpaceFunction& out) const {
    return scaledMerge(parts, threshold_, probability, out);
}

}  // namespace simulators::details
