#include "runtime/permanent.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <stdexcept>
#include <type_traits>

#include <fmt/format.h>

#include "runtime/config.h"
#include "runtime/instruction_set.h"
#include "runtime/parallel.h"
#include "runtime/permanent_lanes.h"

using Permanents::ColumnTable;
using Permanents::RowSums;

namespace {

using InstructionSet::Isa;
using Permanents::LaneGroup;
using Permanents::RegisterSums;

// RowSums seen by a walk through the interface of RegisterSums, for matrices too large for it.
template <int Bytes, typename T>
class MemorySums {
  public:
    static constexpr int bytes = Bytes;
    using V = typename Permanents::Native<typename RowSums<T>::Real, Bytes>::V;

    [[gnu::always_inline]] inline explicit MemorySums(RowSums<T>& sums) : sums_(sums) {}
    [[gnu::always_inline]] inline void add(std::size_t col) { sums_.template add<Bytes>(col); }
    [[gnu::always_inline]] inline void subtract(std::size_t col) {
        sums_.template subtract<Bytes>(col);
    }
    [[gnu::always_inline]] inline void fold(V& re, V& im) const {
        sums_.template fold<Bytes>(re, im);
    }
    [[gnu::always_inline]] inline T product() const { return sums_.template product<Bytes>(); }

  private:
    RowSums<T>& sums_;
};

// Runs `walk` with the row sums `r` in registers up to 4 blocks (32 rows of doubles), which covers
// every order a Gray-code walk finishes in reasonable time, and in memory beyond.
template <int Bytes, typename T, typename Walk>
[[gnu::always_inline]] inline T with_sums(RowSums<T>& r, const Walk& walk) {
    using Real = typename RowSums<T>::Real;
    switch (r.size() / Permanents::lanes<Real>) {
        case 1:
            return walk.template run<RegisterSums<Bytes, 1, T>>(r);
        case 2:
            return walk.template run<RegisterSums<Bytes, 2, T>>(r);
        case 3:
            return walk.template run<RegisterSums<Bytes, 3, T>>(r);
        case 4:
            return walk.template run<RegisterSums<Bytes, 4, T>>(r);
        default:
            return walk.template run<MemorySums<Bytes, T>>(r);
    }
}

// The terms J ... Group::size-1 of a group: before term J > 0 the walk flips column
// countr_zero(J), the same in every group; `flip` knows whether that adds or subtracts it.
template <int J, typename Sums, typename Group, typename Flip>
[[gnu::always_inline]] inline void group_terms(Sums& r, Group& group, Flip& flip) {
    if constexpr (J > 0) flip.template apply<std::countr_zero(static_cast<unsigned>(J))>(r);
    alignas(Sums::bytes) typename Sums::V re, im;
    r.fold(re, im);
    group.template push<J>(re, im);
    if constexpr (J + 1 < Group::size) group_terms<J + 1>(r, group, flip);
}

// Signs of the terms of a group that starts with a + term, then alternates.
template <typename Group>
[[gnu::always_inline]] inline void alternating_signs(typename Group::V& signs) {
    for (int j = 0; j < Group::size; ++j)
        signs[j] = j % 2 == 0 ? typename Group::Real(1) : -typename Group::Real(1);
}

// The walks take their row sums over only once their own buffers exist: vector registers do not
// survive a call, and sums that live across one are kept in memory for the whole walk.
template <typename T>
struct GlynnWalk {
    std::size_t n;

    // Flips of the columns below log2 of the group size, which repeat in every group.
    template <int Low>
    struct LowFlips {
        bool plus[Low];
        template <int Column, typename Sums>
        [[gnu::always_inline]] inline void apply(Sums& r) {
            if (plus[Column])
                r.subtract(Column);
            else
                r.add(Column);
            plus[Column] = !plus[Column];
        }
    };

    template <typename Sums>
    [[gnu::always_inline]] inline T run(RowSums<T>& row_sums) const {
        using Group = LaneGroup<Sums::bytes, T>;
        constexpr int low = std::countr_zero(static_cast<unsigned>(Group::size));
        if (n - 1 < static_cast<std::size_t>(low)) return run_by_term<Sums>(row_sums);
        // The sign vectors run in groups of Group::size, which flip the columns below `low` in
        // a fixed pattern; a group's first term flips the next column of the reflected Gray code
        // over columns low ... n-2, which focus pointers give in constant time. Column n-1 keeps
        // its + sign.
        const std::size_t high = n - 1 - static_cast<std::size_t>(low);
        std::vector<unsigned char> plus(n, 1);
        std::vector<std::size_t> focus(high + 1);
        std::iota(focus.begin(), focus.end(), std::size_t{0});
        Sums r(row_sums);
        Group group;
        LowFlips<low> flips;
        std::fill(std::begin(flips.plus), std::end(flips.plus), true);
        alignas(Sums::bytes) typename Group::V signs;
        alternating_signs<Group>(signs);
        for (;;) {
            group_terms<0>(r, group, flips);
            group.accumulate(signs);
            const std::size_t j = focus[0];
            focus[0] = 0;
            if (j == high) break;
            focus[j] = focus[j + 1];
            focus[j + 1] = j + 1;
            const std::size_t s = j + static_cast<std::size_t>(low);
            if (plus[s])
                r.subtract(s);
            else
                r.add(s);
            plus[s] = !plus[s];
        }
        return group.total();
    }

    // One term at a time, for matrices with fewer columns than a group needs.
    template <typename Sums>
    [[gnu::always_inline]] inline T run_by_term(RowSums<T>& row_sums) const {
        // Focus pointers give the next column of the reflected Gray code over columns 0 ... n-2
        // in constant time; column n-1 keeps its + sign.
        std::vector<unsigned char> plus(n, 1);
        std::vector<std::size_t> focus(n);
        std::iota(focus.begin(), focus.end(), std::size_t{0});
        Sums r(row_sums);
        T accumulator = r.product();
        std::size_t s = 0;
        for (;;) {
            if (plus[s]) {
                plus[s] = 0;
                r.subtract(s);
            } else {
                plus[s] = 1;
                r.add(s);
            }
            const T p = r.product();
            if (s == 0) {
                accumulator -= p;
                s = focus[1];
                focus[1] = 1;
                if (s >= n - 1) break;
            } else {
                accumulator += p;
                focus[s] = focus[s + 1];
                focus[s + 1] = s + 1;
                s = 0;
            }
        }
        return accumulator;
    }
};

template <typename T>
T glynn_baseline(RowSums<T>& r, std::size_t n) {
    return with_sums<16>(r, GlynnWalk<T>{n});
}
template <typename T>
ORBANDILE_TARGET_AVX2 T glynn_avx2(RowSums<T>& r, std::size_t n) {
    return with_sums<32>(r, GlynnWalk<T>{n});
}
template <typename T>
ORBANDILE_TARGET_AVX512 T glynn_avx512(RowSums<T>& r, std::size_t n) {
    return with_sums<64>(r, GlynnWalk<T>{n});
}

// Ryser's terms of the subsets with Gray-code index in [from, to), starting from the row sums of
// the subset `from`.
template <typename T>
struct RyserWalk {
    unsigned long from, to;
    unsigned int n;

    using Acc = std::conditional_t<std::is_same_v<T, long long>, std::uint64_t, T>;

    // Moves from subset k-1 to subset k.
    struct Flips {
        unsigned long code;
        template <typename Sums>
        [[gnu::always_inline]] inline void step(Sums& r, unsigned long k) {
            flip(r, std::countr_zero(k));
        }
        template <int Column, typename Sums>
        [[gnu::always_inline]] inline void apply(Sums& r) {
            flip(r, Column);
        }
        template <typename Sums>
        [[gnu::always_inline]] inline void flip(Sums& r, int column) {
            code ^= 1ul << column;
            if (code >> column & 1ul)
                r.add(static_cast<std::size_t>(column));
            else
                r.subtract(static_cast<std::size_t>(column));
        }
    };

    template <typename Sums>
    [[gnu::always_inline]] inline T run(RowSums<T>& row_sums) const {
        using Group = LaneGroup<Sums::bytes, T>;
        constexpr unsigned long size = Group::size;
        Sums r(row_sums);
        Flips flips{from ^ (from >> 1)};
        // Ryser's sign (-1)^(n-|S|) flips at every step, as |S| changes by one.
        bool minus = (n - static_cast<unsigned>(std::popcount(flips.code))) & 1u;
        Acc accumulator{0};
        unsigned long k = from;
        // Single terms up to the first whole group, whose subset index is a multiple of the
        // group size, so that the flips inside every group follow the same pattern.
        single_terms(r, flips, minus, accumulator, k,
                     std::min(to, (from + size - 1) / size * size));
        if (to - k >= size) {
            Group group;
            alignas(Sums::bytes) typename Group::V signs;
            alternating_signs<Group>(signs);
            if (minus) signs = -signs;
            for (;;) {
                group_terms<0>(r, group, flips);
                group.accumulate(signs);
                k += size;
                if (to - k < size) break;
                flips.step(r, k);
            }
            accumulator += static_cast<Acc>(group.total());
            if (k < to) flips.step(r, k);
        }
        single_terms(r, flips, minus, accumulator, k, to);
        return static_cast<T>(accumulator);
    }

    // Terms k ... last-1, one at a time; leaves the sums at subset `last` unless it is `to`.
    template <typename Sums>
    [[gnu::always_inline]] inline void single_terms(Sums& r, Flips& flips, bool& minus,
                                                    Acc& accumulator, unsigned long& k,
                                                    unsigned long last) const {
        for (; k < last; ++k) {
            const Acc p = static_cast<Acc>(r.product());
            if (minus)
                accumulator -= p;
            else
                accumulator += p;
            minus = !minus;
            if (k + 1 < to) flips.step(r, k + 1);
        }
    }
};

template <typename T>
T ryser_baseline(RowSums<T>& r, unsigned long from, unsigned long to, unsigned int n) {
    return with_sums<16>(r, RyserWalk<T>{from, to, n});
}
template <typename T>
ORBANDILE_TARGET_AVX2 T ryser_avx2(RowSums<T>& r, unsigned long from, unsigned long to,
                                   unsigned int n) {
    return with_sums<32>(r, RyserWalk<T>{from, to, n});
}
template <typename T>
ORBANDILE_TARGET_AVX512 T ryser_avx512(RowSums<T>& r, unsigned long from, unsigned long to,
                                       unsigned int n) {
    return with_sums<64>(r, RyserWalk<T>{from, to, n});
}

}  // namespace

template <typename T>
T permanentGlynn(const MatrixView<T>& matrix) {
    const std::size_t n = matrix.cols();
    const std::size_t rows = matrix.rows();
    if (n < 1) return T(1);

    const ColumnTable<T> table(matrix.data(), rows, n, matrix.outerStride());
    RowSums<T> r(table, rows);
    for (std::size_t j = 0; j < n; ++j) r.add(j);
    r.scale(rows, 0.5);
    const typename RowSums<T>::Real two(2);
    if (n == 1) return r.template product<16>() * two;
    switch (InstructionSet::selected_isa()) {
        case Isa::avx512:
            return glynn_avx512(r, n) * two;
        case Isa::avx2:
            return glynn_avx2(r, n) * two;
        default:
            return glynn_baseline(r, n) * two;
    }
}

// At most 256 blocks: enough that threads taking blocks as they free up end together on a
// machine whose cores are not all equally free. At least 2^14 subsets each, so that forming a
// block's row sums costs nothing next to walking it (a small matrix is one block).
namespace {
unsigned long ryser_block_size(unsigned int n) {
    return 1ul << std::max(static_cast<int>(n) - 8, std::min(static_cast<int>(n), 14));
}
}  // namespace

template <typename T>
T permanentRyserRange(const T* data, unsigned long from, unsigned long to, unsigned int n) {
    if (from >= to) return T(0);
    if (n == 0) return from == 0 ? T(1) : T(0);

    const ColumnTable<T> table(data, n, n, n);
    // The range is walked in blocks of `ryser_block_size` subsets, each from row sums formed
    // afresh: the rounding drift of the Gray-code updates stays within a block, and the terms of
    // a block are the same whichever task walks it.
    const unsigned long block = ryser_block_size(n);
    using Acc = std::conditional_t<std::is_same_v<T, long long>, std::uint64_t, T>;
    Acc sum{0};
    for (unsigned long start = from; start < to;) {
        const unsigned long end = std::min(to, (start / block + 1) * block);
        RowSums<T> r(table, n);
        for (unsigned long rest = start ^ (start >> 1); rest != 0; rest &= rest - 1)
            r.add(static_cast<std::size_t>(std::countr_zero(rest)));
        T part;
        switch (InstructionSet::selected_isa()) {
            case Isa::avx512:
                part = ryser_avx512(r, start, end, n);
                break;
            case Isa::avx2:
                part = ryser_avx2(r, start, end, n);
                break;
            default:
                part = ryser_baseline(r, start, end, n);
        }
        sum += static_cast<Acc>(part);
        start = end;
    }
    return static_cast<T>(sum);
}

std::size_t ryser_task_count(unsigned int n, std::size_t threads) {
    // Every subset costs n row updates, 0.1-0.3 ns each; starting a thread costs 10-20 us, some
    // 2^17 of them. Tasks of at least 2^20 row updates keep that a small part of their run, so
    // small matrices run as one task.
    constexpr double min_task_updates = 1 << 20;
    const double updates = std::ldexp(static_cast<double>(n), static_cast<int>(n));
    const double fill = std::floor(updates / min_task_updates);
    return static_cast<std::size_t>(
        std::clamp(fill, 1.0, static_cast<double>(std::max<std::size_t>(threads, 1))));
}

int dec2idxarr(std::vector<int>& list, int& change, unsigned long code, int count) {
    change = 0;
    if (count == 0) {
        for (unsigned long rest = code; rest != 0; rest &= rest - 1)
            list[count++] = std::countr_zero(rest);
        return count;
    }
    if (code == 0) return 0;
    int i = 0;
    for (int j = 0; j < 64; ++j) {
        const bool set = code >> j & 1ul;
        if (set) {
            if (i == count) {
                list[count] = j;
                change = j + 1;
                return count + 1;
            }
            if (list[i] == j) {
                ++i;
                if ((code >> j >> 1) == 0) return i;
            } else {
                std::copy_backward(list.begin() + i, list.begin() + count,
                                   list.begin() + count + 1);
                list[i] = j;
                change = j + 1;
                return count + 1;
            }
        } else if (i < count && list[i] == j) {
            std::copy(list.begin() + i + 1, list.begin() + count, list.begin() + i);
            change = ~j;
            return count - 1;
        }
    }
    return count;
}

namespace {

template <typename T>
T ryser_threaded(const MatrixView<T>& matrix, std::size_t threads) {
    const std::size_t n = matrix.rows();
    if (n == 0) return T(1);
    if (n >= 64)
        throw std::invalid_argument(
            fmt::format("Cannot compute the permanent of a {0}x{0} matrix with Ryser: the order "
                        "must be below 64",
                        n));
    if (matrix.data() == nullptr) throw std::invalid_argument("A is null");

    // The kernel reads rows packed; a strided view from C++ is packed once here.
    RowMatrix<T> packed;
    const T* data = matrix.data();
    if (static_cast<std::size_t>(matrix.outerStride()) != n) {
        packed = matrix;
        data = packed.data();
    }

    const unsigned long total = 1ul << n;
    const unsigned long tasks = ryser_task_count(static_cast<unsigned>(n), threads);
    // One task runs here: a thread of its own would only add its start-up, which on a busy
    // machine can outweigh a small permanent many times over.
    if (tasks == 1) return permanentRyserRange<T>(data, 1, total, static_cast<unsigned>(n));

    // Tasks take blocks as they free up, so a core that other work slows holds back only the
    // block it is on. Each block's sum has its own slot and the slots are added in block order,
    // as one task adds them: the value does not depend on the thread count or the schedule.
    const unsigned long block = ryser_block_size(static_cast<unsigned>(n));
    const unsigned long blocks = total / block;
    std::vector<T> parts(blocks);
    std::atomic<unsigned long> next{0};
    const auto take_blocks = [&] {
        for (unsigned long b = next.fetch_add(1, std::memory_order_relaxed); b < blocks;
             b = next.fetch_add(1, std::memory_order_relaxed))
            parts[b] = permanentRyserRange<T>(data, b == 0 ? 1 : b * block, (b + 1) * block,
                                              static_cast<unsigned>(n));
    };
    // The calling thread takes blocks too: threads that a busy machine is slow to start then
    // find less or nothing left, instead of holding the call back.
    Parallel::run(
        tasks - 1, [&](std::size_t) { take_blocks(); }, take_blocks);

    using Acc = std::conditional_t<std::is_same_v<T, long long>, std::uint64_t, T>;
    Acc sum{0};
    for (const T part : parts) sum += static_cast<Acc>(part);
    return static_cast<T>(sum);
}

// Ryser counts its 2^n subsets in 64 bits; Glynn's 2^(n-1) sign vectors would fit one more
// order, but would take centuries there too, so every kind stops where Ryser's counter does.
void check_order(std::size_t n, const char* kind) {
    if (n >= 64)
        throw std::invalid_argument(
            fmt::format("Cannot compute the permanent of a {0}x{0} matrix with {1}: the order "
                        "must be below 64",
                        n, kind));
}

template <typename T>
T permanent_driver(const MatrixView<T>& matrix, const std::string& ptype) {
    if (matrix.rows() != matrix.cols()) throw std::runtime_error("Input should have size [N,N]");
    const Config settings = config;
    if constexpr (std::is_same_v<T, long long>) {
        if (ptype == "glynn") throw std::invalid_argument("Cannot use Glynn for int");
    } else {
        const std::uint32_t configured = settings.compute_max_thread_count;
        if (ptype == "glynn" || (ptype.empty() && (configured == 1 || configured == 2))) {
            check_order(static_cast<std::size_t>(matrix.rows()), "Glynn");
            return permanentGlynn<T>(matrix);
        }
    }
    check_order(static_cast<std::size_t>(matrix.rows()), "Ryser");
    return ryser_threaded<T>(matrix, max_thread_count(settings));
}

}  // namespace

long long permanent_in(const MatrixView<long long>& matrix, const std::string& ptype) {
    return permanent_driver<long long>(matrix, ptype);
}

double permanent_fl(const MatrixView<double>& matrix, const std::string& ptype) {
    return permanent_driver<double>(matrix, ptype);
}

std::complex<double> permanent_cx(const MatrixView<std::complex<double>>& matrix,
                                  const std::string& ptype) {
    return permanent_driver<std::complex<double>>(matrix, ptype);
}

template double permanentGlynn<double>(const MatrixView<double>&);
template std::complex<double> permanentGlynn<std::complex<double>>(
    const MatrixView<std::complex<double>>&);
template long long permanentRyserRange<long long>(const long long*, unsigned long, unsigned long,
                                                  unsigned int);
template double permanentRyserRange<double>(const double*, unsigned long, unsigned long,
                                            unsigned int);
template std::complex<double> permanentRyserRange<std::complex<double>>(const std::complex<double>*,
                                                                        unsigned long,
                                                                        unsigned long,
                                                                        unsigned int);
