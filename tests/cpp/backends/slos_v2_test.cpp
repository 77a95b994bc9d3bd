#include "backends/slos_v2.h"

#include <complex>
#include <optional>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "backend_reference.h"
#include "fockspace/fs_mask.h"
#include "test_support.h"

namespace {

using Backend::SLOS_V2;
using namespace backend_reference;

TEST(SlosV2Test, InputModesMustMatchTheColumns) {
    SLOS_V2 backend;
    backend.setUnitary(Matrix::Identity(2, 2));
    EXPECT_NO_THROW(backend.setInputState(FockState(std::vector<int>{1, 0, 0})));
    for (int query = 0; query < 3; ++query)
        test_support::expect_throw_message<std::runtime_error>(
            [&] {
                if (query == 0) backend.getAmplitudes();
                if (query == 1) backend.computeProbabilities();
                if (query == 2) backend.computeProbabilityDistribution();
            },
            "Matrix/input state sizes mismatch");
    backend.setInputState(FockState(std::vector<int>{1, 0}));
    EXPECT_EQ(backend.computeProbabilities(), (std::vector<double>{1.0, 0.0}));
}

TEST(SlosV2Test, IndicesComeFromTheLastCompilation) {
    SLOS_V2 backend;
    const FockState pair(std::vector<int>{1, 1});
    EXPECT_EQ(backend.get_index(pair), std::nullopt);
    EXPECT_EQ(backend.get_index(FockState(std::vector<int>{1})), std::nullopt);
    backend.setUnitary(beam_splitter());
    backend.setInputState(pair);
    EXPECT_EQ(backend.get_index(pair), std::nullopt);
    backend.computeProbabilities();
    EXPECT_EQ(backend.get_index(pair), 1u);
    EXPECT_EQ(backend.get_index(FockState(std::vector<int>{1, 0})), std::nullopt);
    EXPECT_EQ(backend.get_index(FockState(std::vector<int>{1, 1, 0})), std::nullopt);
    backend.set_predicate({});
    EXPECT_EQ(backend.get_index(pair), std::nullopt);
}

}  // namespace
