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
    EXPECT_EQ(vx::formatPicture(12.5, "0"), "12"); // exact tie goes to even
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

// The configurator's QApplication sets LC_NUMERIC from a Hungarian desktop, where the C library writes
// and reads a decimal comma. The formats must not notice, whichever separator the window shows.
TEST(PictureFormat, IndependentOfTheCLibrarysLocale) {
    ASSERT_NE(std::setlocale(LC_NUMERIC, "hu_HU.UTF-8"), nullptr) << "run scripts/setup.sh";
    struct Restore {
        ~Restore() { std::setlocale(LC_NUMERIC, "C"); }
    } restore;
    for (const char* sep : {".", ","}) {
        SeparatorGuard guard(sep);
        const std::string s = sep;
        EXPECT_EQ(vx::formatPicture(12.345, "#0.000"), "12" + s + "345");
        EXPECT_EQ(vx::formatPicture(0.100000001490116, "##0.00000"), "0" + s + "10000");
        EXPECT_EQ(vx::formatPicture(22.5, "#0.000"), "22" + s + "500");
        EXPECT_EQ(vx::formatPicture(12.5, "0"), "12");
        EXPECT_EQ(vx::formatPicture(-3.4e38, "0.0"), "-3" + s + "4E+38");
        EXPECT_EQ(vx::formatPicture(115200, "# ### ##0"), "115 200");
        double v = 0;
        EXPECT_TRUE(vx::parseDecimal("22" + s + "500", &v));
        EXPECT_DOUBLE_EQ(v, 22.5);
        EXPECT_TRUE(vx::parseDecimal("-1.5e1", &v));
        EXPECT_DOUBLE_EQ(v, -15);
        EXPECT_TRUE(vx::parseDecimal("+0.25", &v));
        EXPECT_DOUBLE_EQ(v, 0.25);
        EXPECT_FALSE(vx::parseDecimal("1e999", &v));
    }
}
