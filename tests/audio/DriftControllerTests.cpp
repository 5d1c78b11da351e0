#include "audio/DriftController.h"

#include <gtest/gtest.h>

using namespace parlaro;

TEST(DriftController, FillsLearnsThenHoldsTheLearnedSetpoint)
{
    DriftController controller;
    for (int i = 1; i <= 19; ++i) {
        EXPECT_EQ(controller.update(i <= 10 ? 1000.0 : static_cast<double>(i)), 0.0) << "call " << i;
    }
    EXPECT_FALSE(controller.setpoint().has_value());
    EXPECT_EQ(controller.update(20.0), 0.0) << "the 20th call learns and still returns 0";
    ASSERT_TRUE(controller.setpoint().has_value());
    EXPECT_DOUBLE_EQ(*controller.setpoint(), 15.5) << "mean of measurements 11 to 20";
    EXPECT_EQ(controller.recent().size(), 10U);

    // The 21st call corrects: the window now holds 12...21 (mean 16.5), one frame above the setpoint.
    EXPECT_DOUBLE_EQ(controller.update(21.0), 2 * 1.0 + 0.1 * 0.1);
    EXPECT_EQ(controller.samples(), 21);
}

TEST(DriftController, ConstantErrorIsNeverCorrectedAway)
{
    DriftController controller;
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(controller.update(1234.0), 0.0);
    }
    EXPECT_EQ(controller.integral(), 0.0);
    EXPECT_DOUBLE_EQ(*controller.setpoint(), 1234.0);
}

TEST(DriftController, ProportionalAndIntegralTermsSaturate)
{
    DriftController controller;
    for (int i = 0; i < 20; ++i) {
        controller.update(0.0);
    }
    // Nine zeros and 100: the mean is 10 frames above the setpoint.
    EXPECT_DOUBLE_EQ(controller.update(100.0), 20.1);
    EXPECT_DOUBLE_EQ(controller.integral(), 1.0);

    // A sustained error of 1000 frames (mean 1000 once the window is full).
    double ppm = 0;
    for (int i = 0; i < 200; ++i) {
        ppm = controller.update(1000.0);
    }
    EXPECT_EQ(ppm, 500.0);
    EXPECT_EQ(controller.integral(), 5000.0);

    DriftController negative;
    for (int i = 0; i < 20; ++i) {
        negative.update(0.0);
    }
    for (int i = 0; i < 200; ++i) {
        ppm = negative.update(-1000.0);
    }
    EXPECT_EQ(ppm, -500.0);
    EXPECT_EQ(negative.integral(), -5000.0);
}

TEST(DriftController, JumpsMoveTheSetpointInsteadOfBeingCorrected)
{
    DriftController controller;
    for (int i = 0; i < 20; ++i) {
        controller.update(0.0);
    }
    EXPECT_DOUBLE_EQ(controller.update(100.0), 20.1);

    // Eight zeros, 100 and 40 100: a mean of 4020, more than 4000 above the setpoint.
    EXPECT_DOUBLE_EQ(controller.update(40100.0), 20.1) << "the previous correction is returned";
    EXPECT_DOUBLE_EQ(*controller.setpoint(), 4020.0);
    EXPECT_TRUE(controller.recent().empty());
    EXPECT_DOUBLE_EQ(controller.integral(), 1.0) << "the integral is kept";
    for (int i = 0; i < 9; ++i) {
        EXPECT_DOUBLE_EQ(controller.update(4020.0), 20.1) << "refilling the window";
    }
    EXPECT_DOUBLE_EQ(controller.update(4020.0), 0.1) << "holding the new setpoint; only the kept integral acts";
    EXPECT_EQ(controller.samples(), 32);

    // A step of exactly 4000 frames is corrected, not re-baselined.
    DriftController exact;
    for (int i = 0; i < 20; ++i) {
        exact.update(0.0);
    }
    EXPECT_EQ(exact.update(40000.0), 500.0);
    EXPECT_DOUBLE_EQ(*exact.setpoint(), 0.0);
    EXPECT_DOUBLE_EQ(exact.integral(), 400.0);
}
