#include "circuits/barrier.h"

#include <memory>

#include <gtest/gtest.h>

namespace {

using Circuit::Barrier;

TEST(Barrier, IsAnIdentityThatKeepsItsVisibility) {
    const Barrier visible(3, true);
    EXPECT_EQ(visible.m, 3u);
    EXPECT_EQ(visible.unitary(), Matrix::Identity(3, 3));
    EXPECT_EQ(visible.describe(), "Barrier(3, 1)");
    EXPECT_TRUE(visible.isVisible());
    EXPECT_TRUE(visible.parameters().empty());

    const Barrier hidden(1, false);
    EXPECT_EQ(hidden.describe(), "Barrier(1, 0)");
    auto copy = std::dynamic_pointer_cast<Barrier>(hidden.clone());
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->m, 1u);
    EXPECT_FALSE(copy->isVisible());
}

}  // namespace
