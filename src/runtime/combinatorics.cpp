#include "runtime/combinatorics.h"

#include <algorithm>
#include <limits>
#include <numeric>
#include <stdexcept>

#include <fmt/format.h>

#include "runtime/interrupt_signal_handler.h"

namespace MathUtils {

std::int64_t comb(unsigned int n, unsigned int k) {
    if (n < k) return 0;
    const unsigned int t = std::min(k, n - k);
    // C(n, i) grows with i up to t, so the first intermediate that overflows tells the result does.
    unsigned __int128 r = 1;
    for (unsigned int i = 1; i <= t; ++i) {
        r = r * (n + 1 - i) / i;
        if (r > static_cast<unsigned __int128>(std::numeric_limits<std::int64_t>::max()))
            throw std::overflow_error(
                fmt::format("binomial coefficient C({}, {}) exceeds 64 bits", n, k));
    }
    return static_cast<std::int64_t>(r);
}

int partitions(int n, int k) {
    if (k <= 0 || n < 0) return 0;
    if (k == 1) return 1;
    int count = 0;
    for (int m = n; m >= 0; m -= k) count += partitions(m, k - 1);
    return count;
}

}  // namespace MathUtils

namespace Utils {

namespace {

// The number of ways grows factorially: one poller for the whole recursion lets Ctrl-C stop it.
std::vector<Way> collect(std::vector<int> const& elements, std::span<const int> sizes, Way& prefix,
                         InterruptSignalHandler::Poll& poll) {
    if (sizes.empty()) return {prefix};
    const int k = sizes.front();
    if (k < 0) throw std::length_error("cannot create std::vector larger than max_size()");
    const int count = static_cast<int>(elements.size());
    if (k == 0 || k > count) return {};

    std::vector<Way> ways;
    std::vector<int> positions(static_cast<std::size_t>(k));
    std::iota(positions.begin(), positions.end(), 0);
    Group group(static_cast<std::size_t>(k));
    std::vector<int> rest;
    rest.reserve(elements.size() - group.size());
    while (true) {
        poll();
        rest.clear();
        for (int p = 0, g = 0; p < count; ++p) {
            if (g < k && positions[static_cast<std::size_t>(g)] == p)
                group[static_cast<std::size_t>(g++)] = elements[static_cast<std::size_t>(p)];
            else
                rest.push_back(elements[static_cast<std::size_t>(p)]);
        }
        prefix.push_back(group);
        std::vector<Way> found = collect(rest, sizes.subspan(1), prefix, poll);
        prefix.pop_back();
        ways.insert(ways.end(), std::make_move_iterator(found.begin()),
                    std::make_move_iterator(found.end()));

        // Next position tuple in lexicographic order.
        int i = k - 1;
        while (i >= 0 && positions[static_cast<std::size_t>(i)] == count - k + i) --i;
        if (i < 0) break;
        ++positions[static_cast<std::size_t>(i)];
        for (int j = i + 1; j < k; ++j)
            positions[static_cast<std::size_t>(j)] = positions[static_cast<std::size_t>(j - 1)] + 1;
    }
    return ways;
}

}  // namespace

std::vector<Way> get_combinations(std::vector<int> const& elements, std::span<const int> sizes,
                                  Way& prefix) {
    InterruptSignalHandler::Poll poll;
    return collect(elements, sizes, prefix, poll);
}

std::vector<Way> get_combinations(std::ranges::iota_view<int, int> elements,
                                  std::span<const int> sizes, Way& prefix) {
    return get_combinations(std::vector<int>(elements.begin(), elements.end()), sizes, prefix);
}

}  // namespace Utils
