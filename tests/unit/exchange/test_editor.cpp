#include "app/Exchange.h"

#include "common/pictureformat.h"
#include "samples.h"

#include <gtest/gtest.h>

using namespace vx::app;
namespace ins = vx::instrument;

TEST(SettingsEditor, EditsAreReformattedByMagnitude) {
    EXPECT_EQ(reformatInputEdit("1.5"), "1.5000");
    EXPECT_EQ(reformatInputEdit("0.2"), "0.20000");
    EXPECT_EQ(reformatInputEdit("0.5"), "0.50000");
    EXPECT_EQ(reformatInputEdit("2.5"), "2.5000");
    EXPECT_EQ(reformatInputEdit("50"), "50.000");
    EXPECT_EQ(reformatInputEdit("100"), "100.00");
    EXPECT_EQ(reformatInputEdit("-7"), "-7.000");
    EXPECT_EQ(reformatInputEdit("abc"), "0.00000");
    EXPECT_EQ(reformatOutputEdit("abc"), "0.000");
    EXPECT_EQ(reformatOutputEdit("22"), "22.000");
    EXPECT_EQ(formatInputEdit(0.100000001490116), "0.10000");
    vx::setDecimalSeparator(",");
    EXPECT_EQ(reformatInputEdit("1,5"), "1,5000");
    vx::setDecimalSeparator(".");
}

TEST(SettingsEditor, LoadedFromTheReply) {
    ins::Reply r =
        vx::test::sampleReply({.inputType = 101, .inputLow = static_cast<float>(0.1), .inputHigh = 10});
    r.ModbusProtocol = 1;
    r.ModbusParity = 2;
    r.ModbusBaudRate = 5;
    r.ModbusAddress = 247;
    EditorState e = editorFromReply(r);
    EXPECT_EQ(e.inputType, 1);
    EXPECT_EQ(e.outputType, 0);
    EXPECT_EQ(e.inputLow, "0.10000");
    EXPECT_EQ(e.inputHigh, "10.000");
    EXPECT_EQ(e.outputLow, "4.000");
    EXPECT_EQ(e.outputHigh, "20.000");
    EXPECT_EQ(e.modbusProtocol, 1);
    EXPECT_EQ(e.modbusParity, 2);
    EXPECT_EQ(e.modbusBaudRate, 5);
    EXPECT_EQ(e.modbusAddress, 247);

    r.InputTypeCode = 99;
    r.OutputTypeCode = 102;
    r.ModbusProtocol = 2;
    r.ModbusParity = 3;
    r.ModbusBaudRate = 6;
    r.ModbusAddress = 248;
    e = editorFromReply(r);
    EXPECT_EQ(e.inputType, -1);
    EXPECT_EQ(e.outputType, -1);
    EXPECT_EQ(e.modbusProtocol, -1);
    EXPECT_EQ(e.modbusParity, -1);
    EXPECT_EQ(e.modbusBaudRate, -1);
    EXPECT_EQ(e.modbusAddress, -1);
}

TEST(SettingsEditor, FactoryDefaultsPerVariant) {
    EditorState edited;
    edited.inputType = 1;
    edited.outputType = 1;
    edited.inputLow = "7";
    edited.outputHigh = "9";
    edited.modbusAddress = 12;

    EditorState e = factoryDefaults(edited, 0);
    EXPECT_EQ(e.inputType, 0);
    EXPECT_EQ(e.outputType, 0);
    EXPECT_EQ(e.inputLow, "0.00000");
    EXPECT_EQ(e.inputHigh, "22.000");
    EXPECT_EQ(e.outputLow, "0.000");
    EXPECT_EQ(e.outputHigh, "22.000");
    EXPECT_EQ(e.modbusAddress, 0);
    EXPECT_EQ(e.modbusParity, 1);
    EXPECT_EQ(e.modbusBaudRate, 2);

    e = factoryDefaults(edited, 1);
    EXPECT_EQ(e.inputLow, "-25.000");
    EXPECT_EQ(e.inputHigh, "25.000");
    EXPECT_EQ(e.outputHigh, "22.000");

    e = factoryDefaults(edited, -1); // before any reply: types, output end and MODBUS only
    EXPECT_EQ(e.inputType, 0);
    EXPECT_EQ(e.inputLow, "7");
    EXPECT_EQ(e.outputHigh, "9.000");
    EXPECT_EQ(e.modbusAddress, 0);
}

TEST(FirmwareCheck, DialogLinesPerLanguage) {
    const auto en = firmwareMismatchLines("english", 20150302);
    ASSERT_EQ(en.size(), 8u);
    EXPECT_EQ(en[0], "The firmware of instrument is V2015-03-02");
    EXPECT_EQ(en[4], "V2013-11-28 ... V2015-02-27 only.");
    EXPECT_EQ(en[7], "istead of this software.");
    const auto hu = firmwareMismatchLines("magyar", 0);
    ASSERT_EQ(hu.size(), 8u);
    EXPECT_EQ(hu[0], "A készülékben lévő förmver verziószáma: V0000-00-00");
    EXPECT_EQ(hu[3], "V2013-11-28 ... V2015-02-27");
    EXPECT_TRUE(firmwareMismatchLines("English", 0).empty());
    EXPECT_TRUE(ins::isFirmwareSupported(20131128) && ins::isFirmwareSupported(20150227));
    EXPECT_FALSE(ins::isFirmwareSupported(20131127) || ins::isFirmwareSupported(20150228));
}
