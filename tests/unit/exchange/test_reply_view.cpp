#include "app/Exchange.h"

#include "common/pictureformat.h"
#include "samples.h"

#include <gtest/gtest.h>
#include <limits>

using namespace vx::app;
namespace ins = vx::instrument;

namespace {
ins::Reply goodReply() {
    return vx::test::sampleReply({.input = 0.12345, .range = 1, .temperature = 24.25});
}

struct Presenter {
    ChannelStats ch0, ch1;
    LanguageWords words;
    ReplyView operator()(const ins::Reply& r) { return presentReply(r, ch0, ch1, words); }
};

struct CommaLocale {
    CommaLocale() { vx::setDecimalSeparator(","); }
    ~CommaLocale() { vx::setDecimalSeparator("."); }
};
} // namespace

TEST(ReplyView, ValuesFollowTheirRange) {
    Presenter show;
    ins::Reply r = goodReply();
    ReplyView v = show(r);
    EXPECT_EQ(v.firmwareText, "V2014-03-15");
    EXPECT_EQ(v.firmwareVersion, 20140315u);
    EXPECT_EQ(v.inputValue, "123.45 mV");
    EXPECT_EQ(v.inputRangeName, "-500 mV ... +500 mV");
    EXPECT_EQ(v.inputTerminal, "IN+: terminal 9 (Uin1)");
    EXPECT_EQ(v.inputPicture, InputPicture::Terminals79);
    EXPECT_EQ(v.outputValue, "12.000 mA");
    EXPECT_EQ(v.outputRangeName, "0 ... +22 mA");
    EXPECT_EQ(v.outputPlus, "OUT+: terminal 6 (+Iout)");
    EXPECT_EQ(v.voltageOutputPicture, false);

    CommaLocale comma;
    r.InputRangeIndex = 2;
    r.InputValue = 1.5;
    EXPECT_EQ(show(r).inputValue, "1,5000 V");
    r.InputRangeIndex = 6;
    r.InputValue = 4.0;
    v = show(r);
    EXPECT_EQ(v.inputValue, "4,000 mA");
    EXPECT_EQ(v.inputPicture, InputPicture::Terminals78);
    r.InputRangeIndex = 4;
    r.OutputTypeCode = 101;
    r.DeviceOutputLow = 0;
    r.DeviceOutputHigh = 10;
    r.OutputFraction = 0.25;
    v = show(r);
    EXPECT_EQ(v.inputPicture, InputPicture::Terminals710);
    EXPECT_EQ(v.outputValue, "2,500 V");
    EXPECT_EQ(v.outputMinus, "OUT-: terminal 3 (-Uout)");
    EXPECT_EQ(v.voltageOutputPicture, true);
}

TEST(ReplyView, StatusAndFallbackTexts) {
    Presenter show;
    ins::Reply r = goodReply();
    r.StatusFlags = 0xFC;
    r.Temperature = -200;
    r.TemperatureMin = -12.25;
    r.DataSourceRam1 = 4;
    r.DataSourceRam2 = 5;
    r.CalibrationYear = 0;
    r.CalibrationMonth = 7;
    r.WorkingMinutes = 74;
    ReplyView v = show(r);
    EXPECT_TRUE(v.framError && v.converterError && v.inputUncalibrated && v.outputUncalibrated &&
                v.inputRangeError && v.outputRangeError);
    EXPECT_EQ(v.inputValue, "Uncalibrated!");
    EXPECT_EQ(v.outputValue, "Uncalibrated!");
    EXPECT_EQ(v.temperature, "--.-");
    EXPECT_EQ(v.temperatureMin, "-12.2");
    EXPECT_EQ(v.ram1Source, "GYÁRI ALAPADATOK");
    EXPECT_EQ(v.ram2Source, "????");
    EXPECT_EQ(v.calibrationDate, "?");
    EXPECT_EQ(v.workingTime, "1 hours  14 minutes.");

    r.StatusFlags = 0x03; // unused bits show nothing
    r.CalibrationYear = 2014;
    r.CalibrationMonth = 3;
    r.CalibrationDay = 5;
    r.WorkingMinutes = 0;
    show.words = {" óra  ", " perc."};
    v = show(r);
    EXPECT_FALSE(v.framError || v.converterError || v.inputUncalibrated || v.outputUncalibrated ||
                 v.inputRangeError || v.outputRangeError);
    EXPECT_EQ(v.calibrationDate, "2014-03-05");
    EXPECT_EQ(v.workingTime, "0 óra  00 perc.");
}

TEST(ReplyView, ConverterReadingsAndSpread) {
    Presenter show;
    ins::Reply r = goodReply();
    r.AdRaw0 = -12;
    r.AdRaw1 = 8388607;
    r.AdFiltered0 = 5;
    ReplyView v = show(r);
    EXPECT_EQ(v.ch0.raw, "-0 000 012");
    EXPECT_EQ(v.ch1.raw, "8 388 607");
    EXPECT_DOUBLE_EQ(v.ch1.rawBar, 1.0);
    show.ch0.clear(); // "Törlés" with the last reading at 5
    r.AdFiltered0 = 9;
    v = show(r);
    EXPECT_EQ(v.ch0.min, "5");
    EXPECT_EQ(v.ch0.max, "9");
    EXPECT_EQ(v.ch0.delta, "4");
    EXPECT_DOUBLE_EQ(v.ch0.deltaBar, 1.0);
    r.AdFiltered0 = 7;
    v = show(r);
    EXPECT_DOUBLE_EQ(v.ch0.deltaBar, 0.5);

    show.ch0.clear(); // steady input right after a clear: no spread, an empty bar rather than 0/0
    v = show(r);
    EXPECT_EQ(v.ch0.delta, "0");
    EXPECT_EQ(v.ch0.deltaBar, 0.0);

    r.AdFiltered1 = std::numeric_limits<std::int32_t>::min();
    show(r);
    r.AdFiltered1 = std::numeric_limits<std::int32_t>::max();
    v = show(r);
    EXPECT_EQ(v.ch1.delta, "4294 967 295"); // no overflow; surplus digits lead, as the pattern says
    EXPECT_DOUBLE_EQ(v.ch1.deltaBar, 1.0);
}

TEST(ReplyView, StrangeInstrumentValuesGetADefinedDisplay) {
    Presenter show;
    ins::Reply r = goodReply();
    r.InputRangeIndex = 9;
    r.InputValue = 3.5;
    r.OutputTypeCode = 7;
    ReplyView v = show(r);
    EXPECT_EQ(v.inputRangeName, "? (9)");
    EXPECT_EQ(v.inputValue, "3.500");
    EXPECT_EQ(v.inputPicture, InputPicture::None);
    EXPECT_EQ(v.outputRangeName, "");
    EXPECT_FALSE(v.outputPlus.has_value());
    EXPECT_FALSE(v.voltageOutputPicture.has_value());
    EXPECT_EQ(v.outputValue, "12.000 ");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    r = goodReply();
    r.InputValue = nan;
    r.OutputFraction = inf;
    r.Temperature = nan;
    r.TemperatureMax = 3.4e38;
    r.FirmwareYear = 65535;
    r.FirmwareMonth = 255;
    v = show(r);
    EXPECT_EQ(v.inputValue, "NAN mV");
    EXPECT_EQ(v.outputValue, "INF mA");
    EXPECT_EQ(v.temperature, "--.-");
    EXPECT_EQ(v.temperatureMax, "3.4E+38");
    EXPECT_EQ(v.firmwareText, "V65535-255-15");
}
