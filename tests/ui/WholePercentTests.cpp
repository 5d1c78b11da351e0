#include "ui/WholePercent.h"

#include <gtest/gtest.h>

#include <limits>

namespace parlaro::ui {
namespace {

TEST(WholePercent, CutsToTheWholePercentReachedWithoutFallingShortOnBinaryFractions)
{
    EXPECT_EQ(wholePercent(0.424), 42);
    EXPECT_EQ(wholePercent(0.999), 99);
    EXPECT_EQ(wholePercent(1.0), 100);
    EXPECT_EQ(wholePercent(0.29), 29);
    EXPECT_EQ(wholePercent(0.57), 57);
    EXPECT_EQ(wholePercent(0.0), 0);
    EXPECT_EQ(wholePercent(-0.2), 0);
    EXPECT_EQ(wholePercent(1.7), 100);
    EXPECT_EQ(wholePercent(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(percentText(0.57), "57%");
}

}  // namespace
}  // namespace parlaro::ui
