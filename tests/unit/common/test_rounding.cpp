#include "common/rounding.h"

#include <gtest/gtest.h>
#include <limits>

TEST(Rounding, HalvesGoToTheEvenNeighbour) {
    EXPECT_EQ(vx::roundToInt(2.5), 2);
    EXPECT_EQ(vx::roundToInt(3.5), 4);
    EXPECT_EQ(vx::roundToInt(4.5), 4);
    EXPECT_EQ(vx::roundToInt(-61.5), -62);
    EXPECT_EQ(vx::roundToInt(-2.5), -2);
    EXPECT_EQ(vx::roundToInt(0.49999999999999994), 0);
    EXPECT_EQ(vx::roundToInt(2.6), 3);
    EXPECT_EQ(vx::roundToInt(-2.6), -3);
}

TEST(Rounding, StrangeValuesAreDefined) {
    EXPECT_EQ(vx::roundToInt(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(vx::roundToInt(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(vx::roundToInt(1e300), std::numeric_limits<int>::max());
    EXPECT_EQ(vx::roundToInt(-1e300), std::numeric_limits<int>::min());
    EXPECT_EQ(vx::roundToInt<unsigned short>(-5.0), 0);
    EXPECT_EQ(vx::roundToInt<unsigned short>(70000.0), 65535);
}
