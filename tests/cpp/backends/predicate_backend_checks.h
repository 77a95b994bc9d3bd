#pragma once

#include <cmath>
#include <complex>
#include <functional>
#include <list>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "backends/slos.h"
#include "fockspace/fs_mask.h"
#include "test_support.h"

// Checks shared by the back-ends that filter their outputs with a predicate.
namespace predicate_backend_checks {

using namespace backend_reference;
using test_support::all_counts;
using test_support::Counts;

constexpr double tolerance = 1e-10;

enum class Filter { none, mask, predicate };

// Every input of m modes and n photons, every output amplitude against its permanent, and the
// probabilities against SLOS under the same mask.
template <typename B>
void check_against_permanents(int m, int n, Filter filter, bool backward) {
    std::mt19937 engine(static_cast<unsigned>(1000 * m + 10 * n + static_cast<int>(filter)));
    const Matrix u = haar_unitary(m, engine);

    B backend;
    backend.set_backward(backward);
    backend.setUnitary(u);
    Backend::SLOS slos;
    slos.setUnitary(u);

    std::function<bool(Counts const&)> keep = [](Counts const&) { return true; };
    if (filter == Filter::mask) {
        std::vector<std::string> conditions;
        std::uniform_int_distribution<int> pick(0, 7);
        for (int c = 0; c < 2; ++c) {
            std::string condition;
            for (int j = 0; j < m; ++j) condition += "01* * 2 "[pick(engine)];
            conditions.push_back(condition);
        }
        std::vector<int> unbounded;
        if (m > 1) unbounded.push_back(1);
        const FsMask mask(m, n, std::list<std::string>(conditions.begin(), conditions.end()),
                          unbounded);
        backend.setMask(mask);
        slos.setMask(mask);
        keep = [=](Counts const& s) { return accepted(s, conditions, unbounded); };
    } else if (filter == Filter::predicate) {
        std::set<Counts> chosen;
        for (auto const& s : all_counts(m, n))
            if (std::bernoulli_distribution(0.4)(engine)) chosen.insert(s);
        backend.set_predicate([=](FockState const& fs) { return chosen.contains(fs.to_vect()); });
        keep = [=](Counts const& s) { return chosen.contains(s); };
    }
    std::vector<Counts> expected_space;
    for (auto const& s : all_counts(m, n))
        if (keep(s)) expected_space.push_back(s);

    for (auto const& t : all_counts(m, n)) {
        SCOPED_TRACE(FockState(t).to_str());
        backend.setInputState(FockState(t));
        slos.setInputState(FockState(t));
        const auto amplitudes = backend.getAmplitudes();
        const std::vector<FockState> space = backend.getFockSpace();
        ASSERT_EQ(space, states(expected_space));
        const auto probabilities = backend.computeProbabilities();
        const FockSpaceFunction distribution = backend.computeProbabilityDistribution();
        ASSERT_EQ(amplitudes.size(), space.size());
        ASSERT_EQ(probabilities.size(), space.size());
        ASSERT_EQ(distribution.size(), space.size());
        double total = 0;
        for (std::size_t i = 0; i < space.size(); ++i) {
            const Counts& s = expected_space[i];
            const cx expected =
                reference_permanent(u, s, t) / std::sqrt(factorials(s) * factorials(t));
            EXPECT_NEAR(std::abs(amplitudes[i] - expected), 0.0, tolerance);
            EXPECT_NEAR(probabilities[i], std::norm(expected), tolerance);
            EXPECT_EQ(distribution.get(space[i]), probabilities[i]);
            EXPECT_EQ(backend.get_index(space[i]), i);
            total += probabilities[i];
        }
        if (filter != Filter::predicate) {
            EXPECT_EQ(slos.getFockSpace(), space);
            const auto reference = slos.computeProbabilities();
            for (std::size_t i = 0; i < space.size(); ++i)
                EXPECT_NEAR(probabilities[i], reference[i], tolerance);
        }
        if (filter == Filter::none) {
            EXPECT_NEAR(total, 1.0, tolerance);
        }
    }
}

template <typename B>
void expect_amplitudes(B& backend, std::vector<cx> const& expected) {
    auto const& amplitudes = backend.getAmplitudes();
    ASSERT_EQ(amplitudes.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(std::abs(amplitudes[i] - expected[i]), 0.0, 1e-15) << i;
}

// The small cases with known results, in either direction.
template <typename B>
void check_known_cases(bool backward) {
    const FockState pair(std::vector<int>{1, 1});
    B backend;
    backend.set_backward(backward);
    backend.setUnitary(beam_splitter());
    backend.setInputState(pair);
    expect_amplitudes(backend, {std::sqrt(0.5), 0.0, -std::sqrt(0.5)});
    EXPECT_EQ(backend.getFockSpace(), states({{2, 0}, {1, 1}, {0, 2}}));
    const auto probabilities = backend.computeProbabilities();
    ASSERT_EQ(probabilities.size(), 3u);
    EXPECT_NEAR(probabilities[0], 0.5, 1e-15);
    EXPECT_NEAR(probabilities[1], 0.0, 1e-15);
    EXPECT_NEAR(probabilities[2], 0.5, 1e-15);
    // Zero probabilities are entries too.
    const FockSpaceFunction distribution = backend.computeProbabilityDistribution();
    EXPECT_EQ(distribution.size(), 3u);
    EXPECT_TRUE(distribution.contains(pair));

    std::vector<FockState> seen;
    backend.set_predicate([&](FockState const& fs) {
        seen.push_back(fs);
        return fs == pair;
    });
    expect_amplitudes(backend, {0.0});
    EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{pair});
    EXPECT_EQ(backend.get_index(pair), 0u);
    EXPECT_EQ(backend.get_index(FockState(std::vector<int>{2, 0})), std::nullopt);
    EXPECT_EQ(seen, states({{2, 0}, {1, 1}, {0, 2}}));

    backend.setMask(std::nullopt);
    EXPECT_EQ(backend.getAmplitudes().size(), 3u);
    backend.setMask(FsMask(2, 2, "1 "));
    EXPECT_EQ(backend.getFockSpace(), std::vector<FockState>{pair});
    backend.setMask(std::nullopt);
    EXPECT_EQ(backend.getFockSpace().size(), 3u);

    backend.setUnitary(Matrix::Identity(2, 2));
    expect_amplitudes(backend, {0.0, 1.0, 0.0});

    Matrix tall(3, 2);
    tall << cx(0.1, 0.2), 0.3, cx(0.4, -0.5), 0.6, 0.7, cx(0, 0.8);
    backend.setUnitary(tall);
    backend.setInputState(FockState(std::vector<int>{1, 0}));
    expect_amplitudes(backend, {tall(0, 0), tall(1, 0), tall(2, 0)});
    EXPECT_EQ(backend.getFockSpace(), states({{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}));
}

// A predicate accepting nothing: empty results, recomputed at every reader without building
// the space again.
template <typename B>
void check_nothing_accepted() {
    int calls = 0;
    B backend;
    backend.setUnitary(beam_splitter());
    backend.setInputState(FockState(std::vector<int>{1, 1}));
    backend.set_predicate([&](FockState const&) {
        ++calls;
        return false;
    });
    EXPECT_TRUE(backend.getAmplitudes().empty());
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(backend.computeProbabilities().empty());
    EXPECT_EQ(backend.computeProbabilityDistribution().size(), 0u);
    EXPECT_TRUE(backend.getFockSpace().empty());
    EXPECT_EQ(calls, 3);

    backend.setMask(FsMask(2, 2, "3 "));
    EXPECT_TRUE(backend.computeProbabilities().empty());
}

// Setters only store and invalidate; the space is built again only for a new size or filter.
template <typename B>
void check_laziness() {
    std::mt19937 engine(5);
    const Matrix u = haar_unitary(3, engine);
    const FockState input(std::vector<int>{1, 0, 1});
    int calls = 0;
    B backend;
    backend.setUnitary(u);
    backend.setInputState(input);
    backend.set_predicate([&](FockState const& fs) {
        ++calls;
        return fs[1] < 2;
    });
    auto const& first = backend.getAmplitudes();
    const auto* data = first.data();
    const auto values = first;
    EXPECT_EQ(calls, 6);
    EXPECT_EQ(backend.getAmplitudes().data(), data);

    // An equal state keeps the amplitudes, a switch of direction too.
    backend.setInputState(FockState(std::vector<int>{1, 0, 1}));
    backend.set_backward(true);
    EXPECT_EQ(backend.getAmplitudes().data(), data);

    // A new unitary recomputes over the same space.
    backend.setUnitary(u);
    EXPECT_NE(backend.getAmplitudes().data(), data);
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_NEAR(std::abs(backend.getAmplitudes()[i] - values[i]), 0.0, tolerance);
    backend.setUnitary(haar_unitary(3, engine));
    backend.setInputState(FockState(std::vector<int>{0, 2, 0}));
    backend.computeProbabilities();
    EXPECT_EQ(calls, 6);

    // A new size or photon count builds again.
    backend.setInputState(FockState(std::vector<int>{1, 0, 0}));
    backend.computeProbabilities();
    EXPECT_EQ(calls, 9);
    backend.setUnitary(haar_unitary(4, engine));
    backend.setInputState(FockState(std::vector<int>{1, 0, 0, 0}));
    EXPECT_EQ(backend.computeProbabilities().size(), 4u);
    EXPECT_EQ(calls, 13);
    backend.set_predicate({});
    EXPECT_EQ(backend.computeProbabilities().size(), 4u);
    EXPECT_EQ(calls, 13);
}

template <typename B>
void check_copies() {
    std::mt19937 engine(9);
    B backend;
    backend.setUnitary(haar_unitary(4, engine));
    backend.setInputState(FockState(std::vector<int>{1, 2, 0, 1}));
    backend.setMask(FsMask(4, 4, " 1  "));
    const auto values = backend.getAmplitudes();

    B copy(backend);
    EXPECT_EQ(copy.getAmplitudes(), values);
    const std::shared_ptr<Backend::IProbBackend> clone = backend.clone();
    EXPECT_EQ(clone->getAmplitudes(), values);
    EXPECT_EQ(clone->getFockSpace(), backend.getFockSpace());

    copy.setInputState(FockState(std::vector<int>{0, 2, 2, 0}));
    clone->setMask(std::nullopt);
    EXPECT_NE(copy.getAmplitudes(), values);
    EXPECT_EQ(clone->getAmplitudes().size(), 35u);
    EXPECT_EQ(backend.getAmplitudes(), values);

    B moved(std::move(copy));
    EXPECT_EQ(moved.getFockSpace().size(), moved.getAmplitudes().size());
    // The source stays usable.
    copy.setUnitary(beam_splitter());
    copy.setInputState(FockState(std::vector<int>{1, 1}));
    EXPECT_EQ(copy.computeProbabilities().size(), 3u);
}

// Failures leave a back-end that computes again once the configuration is mended.
template <typename B>
void check_failures() {
    B backend;
    backend.setUnitary(beam_splitter());
    backend.setInputState(FockState(std::vector<int>{1, 1}));
    backend.setMask(FsMask(3, 2, "1  "));
    test_support::expect_throw_message<std::runtime_error>(
        [&] { backend.getAmplitudes(); },
        "FsMask::match(): incoherent sizes: FsMask m = 3 / FockState m = 2");
    backend.setMask(FsMask(2, 2, "1 "));
    EXPECT_EQ(backend.getFockSpace(), states({{1, 1}}));
    EXPECT_EQ(backend.computeProbabilities().size(), 1u);

    B empty_matrix;
    empty_matrix.setInputState(FockState(std::vector<int>{}));
    EXPECT_EQ(empty_matrix.getAmplitudes(), std::vector<cx>{1.0});

    B no_rows;
    no_rows.setUnitary(Matrix(0, 1));
    no_rows.setInputState(FockState(std::vector<int>{1}));
    test_support::expect_throw_message<std::invalid_argument>(
        [&] { no_rows.getAmplitudes(); }, "Invalid FockSpace parameters (m=0 max_n=1)");

    B overflowing;
    overflowing.setUnitary(Matrix::Identity(2, 2));
    overflowing.setInputState(FockState(std::vector<int>{171, 0}));
    EXPECT_THROW(overflowing.getAmplitudes(), std::overflow_error);
    overflowing.setInputState(FockState(std::vector<int>{1, 0}));
    EXPECT_EQ(overflowing.computeProbabilities(), (std::vector<double>{1.0, 0.0}));
}

}  // namespace predicate_backend_checks
