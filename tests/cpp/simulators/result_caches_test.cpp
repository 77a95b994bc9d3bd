#include "simulators/result_caches.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using simulators::details::ListPair;
using simulators::details::OutputTable;
using simulators::details::PackedAccumulator;
using simulators::details::PackedModes;
using simulators::details::ProductInput;
using simulators::details::SortedOutcomes;

FockState random_state(int m, int n, std::mt19937& engine) {
    std::vector<int> counts(static_cast<std::size_t>(m), 0);
    std::uniform_int_distribution<int> mode(0, m - 1);
    for (int i = 0; i < n; ++i) ++counts[static_cast<std::size_t>(mode(engine))];
    return FockState(counts);
}

// One part's outputs: distinct states, probabilities spread over several decades with some zeros,
// as the back-end hands them over.
struct RandomPart {
    OutputTable table;
    std::vector<double> probabilities;
    SortedOutcomes sorted;
};

std::unique_ptr<RandomPart> random_part(int m, int n, int size, PackedModes const& packing,
                                        std::mt19937& engine) {
    auto part = std::make_unique<RandomPart>();
    std::uniform_real_distribution<double> exponent(-9.0, 0.0);
    std::bernoulli_distribution zero(0.1);
    for (int i = 0; i < size; ++i) {
        FockState s = random_state(m, n, engine);
        bool seen = false;
        for (auto const& t : part->table.states) seen = seen || t == s;
        if (seen) continue;
        part->table.packed.push_back(packing.pack(s));
        part->table.states.push_back(std::move(s));
        part->probabilities.push_back(zero(engine) ? 0.0 : std::pow(10.0, exponent(engine)));
    }
    std::vector<std::pair<double, std::uint32_t>> outcomes;
    for (std::size_t i = 0; i < part->probabilities.size(); ++i)
        outcomes.emplace_back(part->probabilities[i], static_cast<std::uint32_t>(i));
    part->sorted.assign(part->table, outcomes);
    return part;
}

struct ProductCase {
    const char* name;
    int m;
    int inputs;
    int max_parts;
    int max_photons;  // per part
    int outputs;      // drawn per part, before duplicates are removed
    double theta;
    unsigned seed;
};

class PackedProductTest : public ::testing::TestWithParam<ProductCase> {};

// The shared, grouped product against the plain depth-first product of every input on its own.
TEST_P(PackedProductTest, MatchesThePlainProductOfEachInput) {
    const ProductCase c = GetParam();
    std::mt19937 engine(c.seed);
    const auto packing = PackedModes::fit(c.m, c.max_parts * c.max_photons);
    ASSERT_TRUE(packing);
    std::vector<std::unique_ptr<RandomPart>> pool;
    std::uniform_int_distribution<int> photons(0, c.max_photons);
    for (int i = 0; i < 3 * c.max_parts + 2; ++i) {
        const int n = photons(engine);
        pool.push_back(random_part(c.m, n, n == 0 ? 1 : c.outputs, *packing, engine));
    }
    // A part without outcome empties every product it enters.
    pool.push_back(std::make_unique<RandomPart>());
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::uniform_int_distribution<int> part_count(1, c.max_parts);
    std::uniform_real_distribution<double> exponent(-4.0, 0.0);

    std::vector<ProductInput> inputs(static_cast<std::size_t>(c.inputs));
    FockSpaceFunction expected;
    double expected_sum = 0;
    for (auto& input : inputs) {
        input.probability = std::pow(10.0, exponent(engine));
        std::vector<ListPair> pairs;
        for (int k = part_count(engine); k > 0; --k) {
            // Parts repeat within an input (two equal groups) and across inputs.
            RandomPart const& part = *pool[pick(engine)];
            input.parts.push_back(&part.sorted);
            pairs.emplace_back(&part.table.states, &part.probabilities);
        }
        for (auto const& [s, q] :
             simulators::details::listMerge(pairs, c.theta / input.probability)) {
            expected[s] += q * input.probability;
            expected_sum += q * input.probability;
        }
    }

    PackedAccumulator accumulator(*packing);
    std::size_t last_done = 0;
    const double added =
        simulators::details::packedMerge(inputs, c.theta, accumulator, [&](std::size_t done) {
            EXPECT_GE(done, last_done);
            last_done = done;
        });
    EXPECT_EQ(last_done, inputs.size());
    const FockSpaceFunction actual = accumulator.to_function();
    EXPECT_NEAR(added, expected_sum, 1e-12 * expected_sum);
    EXPECT_NEAR(accumulator.sum(), expected_sum, 1e-12 * expected_sum);
    ASSERT_EQ(actual.size(), expected.size());
    for (auto const& [s, p] : expected) EXPECT_NEAR(actual.get(s), p, 1e-12 * p) << s;
}

INSTANTIATE_TEST_SUITE_P(
    RandomInputs, PackedProductTest,
    ::testing::Values(
        // One part per input: every input of a part shares its loop.
        ProductCase{"OnePart", 4, 30, 1, 3, 20, 1e-6, 1},
        // Two modes of 32 bits each.
        ProductCase{"TwoModes", 2, 40, 3, 3, 10, 1e-6, 7},
        // Few modes, many collisions of partial states.
        ProductCase{"FewModes", 3, 60, 4, 2, 10, 1e-7, 2},
        // The source's shape: small groups and a large one per input.
        ProductCase{"SourceShape", 12, 120, 3, 4, 150, 1e-7, 3},
        // Tight threshold: most products pruned, some inputs left with nothing.
        ProductCase{"TightThreshold", 6, 80, 3, 3, 40, 1e-2, 4},
        // Threshold far below every product: all kept; enough outputs to grow the table.
        ProductCase{"AllKept", 10, 40, 3, 3, 60, 1e-300, 5},
        // One bit per mode: counts up to 1 only, so one photon per part.
        ProductCase{"OneBitPerMode", 64, 50, 1, 1, 30, 1e-6, 6}),
    [](auto const& info) { return std::string(info.param.name); });

class SortedOutcomesTest : public ::testing::TestWithParam<int> {};

// Long lists take another sort than short ones: both keep exactly the positive outcomes, by
// decreasing probability, with their packed states alongside.
TEST_P(SortedOutcomesTest, KeepsPositiveOutcomesByDecreasingProbability) {
    const int size = GetParam();
    std::mt19937 engine(static_cast<unsigned>(size));
    std::uniform_real_distribution<double> exponent(-300.0, 0.0);
    std::uniform_int_distribution<int> kind(0, 9);
    OutputTable table;
    std::vector<std::pair<double, std::uint32_t>> outcomes;
    std::vector<double> probability(static_cast<std::size_t>(size));
    for (int i = 0; i < size; ++i) {
        table.packed.push_back(static_cast<std::uint64_t>(i) * 7 + 3);
        double p = std::pow(10.0, exponent(engine));
        // Zeros, negatives and NaN are dropped; ties, the least subnormal, 1 and values that
        // differ in their last bits only are kept.
        const int k = kind(engine);
        if (k == 0) p = 0.0;
        if (k == 1) p = -p;
        if (k == 2) p = std::nan("");
        if (k == 3) p = 0.5;
        if (k == 4) p = 4.9e-324;
        if (k == 5) p = 1.0;
        if (k == 6) p = std::bit_cast<double>(std::bit_cast<std::uint64_t>(0.3) + engine() % 70000);
        probability[static_cast<std::size_t>(i)] = p;
        outcomes.emplace_back(p, static_cast<std::uint32_t>(i));
    }
    SortedOutcomes sorted;
    sorted.assign(table, outcomes);
    std::vector<std::uint32_t> expected;
    for (int i = 0; i < size; ++i)
        if (probability[static_cast<std::size_t>(i)] > 0)
            expected.push_back(static_cast<std::uint32_t>(i));
    std::vector<std::uint32_t> kept = sorted.positions;
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, expected);
    ASSERT_EQ(sorted.probabilities.size(), sorted.positions.size());
    ASSERT_EQ(sorted.packed.size(), sorted.positions.size());
    for (std::size_t i = 0; i < sorted.positions.size(); ++i) {
        EXPECT_EQ(sorted.probabilities[i], probability[sorted.positions[i]]);
        EXPECT_EQ(sorted.packed[i], table.packed[sorted.positions[i]]);
        if (i > 0) {
            EXPECT_GE(sorted.probabilities[i - 1], sorted.probabilities[i]) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, SortedOutcomesTest, ::testing::Values(0, 1, 255, 256, 5000));

TEST(PackedModes, PacksMergesAndRefuses) {
    struct Case {
        int m;
        int max_photons;
        bool fits;
    };
    for (Case c : {Case{1, 100, true}, Case{12, 31, true}, Case{12, 32, false}, Case{13, 15, true},
                   Case{13, 16, false}, Case{64, 1, true}, Case{64, 2, false}, Case{65, 1, false},
                   Case{0, 0, false}}) {
        SCOPED_TRACE(c.m);
        EXPECT_EQ(PackedModes::fit(c.m, c.max_photons).has_value(), c.fits);
    }
    std::mt19937 engine(9);
    for (int m : {1, 5, 12, 21}) {
        const auto packing = PackedModes::fit(m, 6);
        ASSERT_TRUE(packing);
        std::uniform_int_distribution<int> photons(0, 3);
        for (int trial = 0; trial < 20; ++trial) {
            const FockState a = random_state(m, photons(engine), engine);
            const FockState b = random_state(m, photons(engine), engine);
            EXPECT_EQ(packing->unpack(packing->pack(a)), a);
            EXPECT_EQ(packing->unpack(packing->pack(a) + packing->pack(b)), a.merge(b));
        }
    }
    // One bit per mode: the last mode is the word's top bit.
    const auto wide = PackedModes::fit(64, 1);
    std::vector<int> counts(64, 0);
    counts[0] = counts[63] = 1;
    const FockState edges(counts);
    EXPECT_EQ(wide->pack(edges), (std::uint64_t{1} << 63) | 1u);
    EXPECT_EQ(wide->unpack(wide->pack(edges)), edges);
}

}  // namespace
