#include "instrument/codes.h"

#include <gtest/gtest.h>

#include <bit>

using namespace vx::instrument;

TEST(InstrumentCodes, ForcingCodesFromRadioItems) {
    EXPECT_EQ(gainForceCode(4, true), 200); // Au = 8 on CH1
    EXPECT_EQ(gainForceCode(0, true), 64);  // "Force Off" still carries the channel
    EXPECT_EQ(gainForceCode(6, false), 160);
    EXPECT_EQ(gainForceCode(7, false), 0);
    EXPECT_EQ(gainForceCode(-1, false), 0);
    EXPECT_EQ(dividerForceCode(0), 0);
    EXPECT_EQ(dividerForceCode(3), 130);
    EXPECT_EQ(dividerForceCode(4), 0);
    EXPECT_EQ(rangeForceCode(0), 0);
    EXPECT_EQ(rangeForceCode(1), 128);
    EXPECT_EQ(rangeForceCode(7), 134);
    EXPECT_EQ(rangeForceCode(8), 0);
    for (std::uint8_t code : kGainForceCodes) {
        if (code == 0) continue;
        EXPECT_EQ(std::popcount(static_cast<unsigned>(code & kGainForceGainMask)), 1);
    }
}

TEST(InstrumentCodes, FirmwareWindowAndVersionText) {
    EXPECT_TRUE(isFirmwareSupported(firmwareVersion(2013, 11, 28)));
    EXPECT_TRUE(isFirmwareSupported(firmwareVersion(2015, 2, 27)));
    EXPECT_FALSE(isFirmwareSupported(firmwareVersion(2013, 11, 27)));
    EXPECT_FALSE(isFirmwareSupported(firmwareVersion(2015, 2, 28)));
    EXPECT_FALSE(isFirmwareSupported(0));
    EXPECT_EQ(firmwareVersionText(kFirmwareMin), "V2013-11-28");
    EXPECT_EQ(firmwareVersionText(kFirmwareMax), "V2015-02-27");
    EXPECT_EQ(firmwareVersionText(firmwareVersion(2015, 3, 2)), "V2015-03-02");
    EXPECT_EQ(firmwareVersionText(0), "V0000-00-00");
}

TEST(InstrumentCodes, TextsAndTables) {
    EXPECT_EQ(dataSourceText(kSourceRam1), "RAM 1. terület");
    EXPECT_EQ(dataSourceText(kSourceFactory), "GYÁRI ALAPADATOK");
    EXPECT_EQ(dataSourceText(5), "????");
    EXPECT_EQ(dataSourceText(255), "????");
    EXPECT_EQ(variantCaption(kVariantAnalog), "VX2207 V");
    EXPECT_EQ(variantCaption(kVariantModbus), "VX2207 M");
    EXPECT_EQ(variantCaption(-1), "");
    ASSERT_NE(inputRange(6), nullptr);
    EXPECT_EQ(inputRange(6)->name, "-25 mA ... +25 mA");
    EXPECT_EQ(inputRange(6)->terminal, "IN+: terminal 8 (Iin)");
    EXPECT_EQ(inputRange(3)->terminal, "IN+: terminal 10 (Uin2)");
    EXPECT_EQ(inputRange(7), nullptr);
    EXPECT_EQ(inputRange(-1), nullptr);
    // Ranges grow within each terminal, so the smallest fitting range is found by a forward search.
    for (std::size_t i = 1; i < kCurrentRange; ++i)
        EXPECT_GT(kInputRanges[i].limit, kInputRanges[i - 1].limit);
}
