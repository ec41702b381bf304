#include "common/pictureformat.h"

#include <clocale>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace {
struct SeparatorGuard {
    explicit SeparatorGuard(const char* s) { vx::setDecimalSeparator(s); }
    ~SeparatorGuard() { vx::setDecimalSeparator("."); }
};
} // namespace

TEST(PictureFormat, GroupedIntegers) {
    EXPECT_EQ(vx::formatPicture(1234567, "0 000 000"), "1 234 567");
    EXPECT_EQ(vx::formatPicture(12, "0 000 000"), "0 000 012");
    EXPECT_EQ(vx::formatPicture(-12, "0 000 000"), "-0 000 012");
    EXPECT_EQ(vx::formatPicture(12, "# ### ### ##0"), "12");
    EXPECT_EQ(vx::formatPicture(0, "# ### ### ##0"), "0");
    EXPECT_EQ(vx::formatPicture(1234567, "# ### ### ##0"), "1 234 567");
    EXPECT_EQ(vx::formatPicture(115200, "# ### ##0"), "115 200");
    EXPECT_EQ(vx::formatPicture(65535, "## ##0"), "65 535");
    EXPECT_EQ(vx::formatPicture(5, "## ##0"), "5");
    EXPECT_EQ(vx::formatPicture(0, "00 000"), "00 000");
    EXPECT_EQ(vx::formatPicture(-1234, "# ### ##0"), "-1 234");
}

TEST(PictureFormat, SurplusDigitsGoToTheFirstPlace) {
    EXPECT_EQ(vx::formatPicture(123456789, "0 000 000"), "123 456 789");
    EXPECT_EQ(vx::formatPicture(20131128, "0000"), "20131128");
    EXPECT_EQ(vx::formatPicture(7, "00"), "07");
    EXPECT_EQ(vx::formatPicture(2014, "0000"), "2014");
    EXPECT_EQ(vx::formatPicture(123, "0"), "123");
}

TEST(PictureFormat, DecimalsUseTheLocaleSeparator) {
    EXPECT_EQ(vx::formatPicture(123.45, "##0.00"), "123.45");
    EXPECT_EQ(vx::formatPicture(1.5, "0.0000"), "1.5000");
    EXPECT_EQ(vx::formatPicture(4.0, "#0.000"), "4.000");
    EXPECT_EQ(vx::formatPicture(0.100000001490116, "##0.00000"), "0.10000");
    EXPECT_EQ(vx::formatPicture(-7, "#0.000"), "-7.000");
    SeparatorGuard comma(",");
    EXPECT_EQ(vx::formatPicture(12.345, "#0.000"), "12,345");
    EXPECT_EQ(vx::formatPicture(1500 / 1000.0, "0.0"), "1,5");
}

TEST(PictureFormat, RoundingAndSign) {
    EXPECT_EQ(vx::formatPicture(12.5, "0"), "12");  // exact tie goes to even
    EXPECT_EQ(vx::formatPicture(13.5, "0"), "14");
    EXPECT_EQ(vx::formatPicture(-0.0004, "0.000"), "0.000"); // no "-0.000"
    EXPECT_EQ(vx::formatPicture(0.99996, "0.0000"), "1.0000");
    EXPECT_EQ(vx::formatPicture(1.25, "0.#"), "1.2");
    EXPECT_EQ(vx::formatPicture(1.0, "0.##"), "1");
}

TEST(PictureFormat, StrangeValuesStaySafe) {
    EXPECT_EQ(vx::formatPicture(std::numeric_limits<double>::quiet_NaN(), "0.000"), "NAN");
    EXPECT_EQ(vx::formatPicture(std::numeric_limits<double>::infinity(), "0"), "INF");
    EXPECT_EQ(vx::formatPicture(-std::numeric_limits<double>::infinity(), "0"), "-INF");
    EXPECT_EQ(vx::formatPicture(1e300, "0.000"), "1.000E+300");
    EXPECT_EQ(vx::formatPicture(-3.4e38, "0.0"), "-3.4E+38");
    EXPECT_LT(vx::formatPicture(9.99e17, "0.000").size(), 40u);
}

TEST(ParseDecimal, AcceptsNumbersOnly) {
    double v = -1;
    EXPECT_TRUE(vx::parseDecimal("1.5", &v));
    EXPECT_DOUBLE_EQ(v, 1.5);
    EXPECT_TRUE(vx::parseDecimal(" -30 ", &v));
    EXPECT_DOUBLE_EQ(v, -30);
    EXPECT_TRUE(vx::parseDecimal("1e2", &v));
    EXPECT_DOUBLE_EQ(v, 100);
    v = 42;
    for (const char* bad : {"", "abc", "1.2.3", "-", ".", "1e", "1e999", "nan", "inf", "4 5", "1,5x"})
        EXPECT_FALSE(vx::parseDecimal(bad, &v)) << bad;
    EXPECT_DOUBLE_EQ(v, 42);
    SeparatorGuard comma(",");
    EXPECT_TRUE(vx::parseDecimal("1,5", &v));
    EXPECT_DOUBLE_EQ(v, 1.5);
    EXPECT_TRUE(vx::parseDecimal("2.25", &v));
    EXPECT_DOUBLE_EQ(v, 2.25);
}

// The program runs with the desktop's C locale (QApplication sets it), where printf and strtod use a
// decimal comma: numbers on screen and in the editor must not depend on it.
TEST(PictureFormat, TheCLibrarysLocaleChangesNothing) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "hu_HU.UTF-8")) GTEST_SKIP() << "no hu_HU.UTF-8 locale on this machine";
    SeparatorGuard comma(",");
    EXPECT_EQ(vx::formatPicture(12.345, "#0.000"), "12,345");
    EXPECT_EQ(vx::formatPicture(-0.5, "0.00"), "-0,50");
    EXPECT_EQ(vx::formatPicture(1234567, "0 000 000"), "1 234 567");
    EXPECT_EQ(vx::formatPicture(1e300, "0.000"), "1,000E+300");
    double v = 0;
    EXPECT_TRUE(vx::parseDecimal("-12,5", &v));
    EXPECT_DOUBLE_EQ(v, -12.5);
    EXPECT_TRUE(vx::parseDecimal("+2.25e1", &v));
    EXPECT_DOUBLE_EQ(v, 22.5);
    EXPECT_FALSE(vx::parseDecimal("1e-999", &v));
    std::setlocale(LC_ALL, saved.c_str());
}
