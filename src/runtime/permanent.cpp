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
#include "runtime/permanent_walks.h"

using InstructionSet::Isa;
using Permanents::ColumnTable;
using Permanents::RowSums;
using Permanents::RyserTables;
using Permanents::RyserWalk;
using Permanents::Scalar;

namespace {

// Sum of block results in their order: floating-point values with the rounding error of every
// addition kept apart (TwoSum) and added at the end; integers modulo 2^64.
template <typename T>
class BlockSum {
  public:
    void add(T x) {
        if constexpr (std::is_same_v<T, long long>) {
            sum_ += static_cast<std::uint64_t>(x);
        } else {
            const T s = sum_ + x;
            const T x_part = s - sum_;
            error_ += (sum_ - (s - x_part)) + (x - x_part);
            sum_ = s;
        }
    }

    T value() const {
        if constexpr (std::is_same_v<T, long long>) {
            return static_cast<T>(sum_);
        } else {
            // Past an overflow the errors are NaN; the plain sum says what IEEE arithmetic does.
            if (!finite(sum_)) return sum_;
            return sum_ + error_;
        }
    }

  private:
    static bool finite(const T& x) {
        if constexpr (Scalar<T>::complex)
            return std::isfinite(x.real()) && std::isfinite(x.imag());
        else
            return std::isfinite(x);
    }

    std::conditional_t<std::is_same_v<T, long long>, std::uint64_t, T> sum_{0}, error_{0};
};

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
            return Permanents::glynn_avx512(r, n) * two;
        case Isa::avx2:
            return Permanents::glynn_avx2(r, n) * two;
        default:
            return Permanents::glynn_baseline(r, n) * two;
    }
}

// At most 256 blocks: enough that threads taking blocks as they free up end together on a
// machine whose cores are not all equally free. At least 2^14 subsets each, so that forming a
// block's tables costs nothing next to walking it (a small matrix is one block).
namespace {
unsigned long ryser_block_size(unsigned int n) {
    return 1ul << std::max(static_cast<int>(n) - 8, std::min(static_cast<int>(n), 14));
}

// The terms of [from, to) block after block of `ryser_block_size` subsets, each block's sum
// formed on its own: the terms of a block and their sum are the same whichever task walks it.
template <typename T>
T ryser_blocks(const RyserTables<T>& tables, unsigned long from, unsigned long to) {
    const unsigned long block = ryser_block_size(tables.n());
    BlockSum<T> sum;
    for (unsigned long start = from; start < to;) {
        const unsigned long end = std::min(to, (start / block + 1) * block);
        const RyserWalk<T> walk{tables, start, end};
        switch (InstructionSet::selected_isa()) {
            case Isa::avx512:
                sum.add(Permanents::ryser_avx512(walk));
                break;
            case Isa::avx2:
                sum.add(Permanents::ryser_avx2(walk));
                break;
            default:
                sum.add(Permanents::ryser_baseline(walk));
        }
        start = end;
    }
    return sum.value();
}
}  // namespace

template <typename T>
T permanentRyserRange(const T* data, unsigned long from, unsigned long to, unsigned int n) {
    if (from >= to) return T(0);
    if (n == 0) return from == 0 ? T(1) : T(0);
    return ryser_blocks(RyserTables<T>(data, n), from, to);
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
    const RyserTables<T> tables(data, static_cast<unsigned>(n));
    // One task runs here: a thread of its own would only add its start-up, which on a busy
    // machine can outweigh a small permanent many times over.
    if (tasks == 1) return ryser_blocks(tables, 1, total);

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
            parts[b] = ryser_blocks(tables, b == 0 ? 1 : b * block, (b + 1) * block);
    };
    // The calling thread takes blocks too: threads that a busy machine is slow to start then
    // find less or nothing left, instead of holding the call back.
    Parallel::run(
        tasks - 1, [&](std::size_t) { take_blocks(); }, take_blocks);

    BlockSum<T> sum;
    for (const T part : parts) sum.add(part);
    return sum.value();
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
