#include "app/Exchange.h"

#include <cstring>
#include <gtest/gtest.h>

using namespace vx::app;
namespace ins = vx::instrument;

namespace {
RequestInputs startState() {
    RequestInputs in;
    in.today = {2014, 3, 15};
    return in;
}
} // namespace

TEST(BuildRequest, StartStateGivesTheDocumentedBytes) {
    const auto bytes = ins::encodeRequest(buildRequestFields(startState()));
    std::array<std::uint8_t, ins::kRequestSize> expected{};
    const std::uint8_t out[] = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xDE, 0x07, 0x03, 0x0F};
    std::copy(std::begin(out), std::end(out), expected.begin() + 19);
    expected[75] = 100;
    expected[76] = 100;
    const std::uint8_t singles[] = {0, 0, 0x80, 0x40, 0, 0, 0xA0, 0x41, 0, 0, 0x80, 0x40, 0, 0, 0xA0, 0x41};
    std::copy(std::begin(singles), std::end(singles), expected.begin() + 77);
    expected[98] = 0;
    expected[99] = 1;
    expected[100] = 2;
    expected[101] = 0;
    EXPECT_EQ(bytes, expected);
}

TEST(BuildRequest, ForcingCodesAndOutputCheck) {
    RequestInputs in = startState();
    in.gainForceItem = 4; // Au = 8
    in.gainForceChannel = 1;
    in.dividerForceItem = 3;
    in.rangeForceItem = 7;
    in.outputCheckPageActive = true;
    in.outputCheckPosition = 20;
    ins::Request r = buildRequestFields(in);
    EXPECT_EQ(r.GainForceCode, 200);
    EXPECT_EQ(r.DividerForceCode, 130);
    EXPECT_EQ(r.RangeForceCode, 134);
    EXPECT_EQ(r.DirectControl, 255);
    EXPECT_EQ(r.OutputCheckPercent, 100);

    in.gainForceItem = 0; // "Force Off" on CH1 still carries the channel bit
    in.outputCheckPageActive = false;
    r = buildRequestFields(in);
    EXPECT_EQ(r.GainForceCode, 64);
    EXPECT_EQ(r.DirectControl, 0);
}

TEST(BuildRequest, ScaleValuesAreClampedByInputTypeOnly) {
    RequestInputs in = startState();
    in.editor.inputHigh = "130";
    in.editor.inputLow = "-30";
    in.editor.outputHigh = "300";
    in.editor.inputType = 1;
    ins::Request r = buildRequestFields(in);
    EXPECT_EQ(r.EditInputHigh, 125.0);
    EXPECT_EQ(r.EditInputLow, -30.0);
    EXPECT_EQ(r.EditOutputHigh, 300.0);
    in.editor.inputType = 0;
    r = buildRequestFields(in);
    EXPECT_EQ(r.EditInputHigh, 25.0);
    EXPECT_EQ(r.EditInputLow, -25.0);

    in.editor = EditorState{};
    in.editor.inputLow = "abc";
    in.editor.inputHigh = "";
    in.editor.outputLow = "1,2,3";
    in.editor.outputHigh = "x";
    const ScaleValues s = deriveScaleValues(in.editor);
    EXPECT_EQ(s.inputLow, 4.0);
    EXPECT_EQ(s.inputHigh, 20.0);
    EXPECT_EQ(s.outputLow, 4.0);
    EXPECT_EQ(s.outputHigh, 20.0);
}

// The request carries singles: an output scale beyond their range is no number, never an infinity that
// "Write settings" would store; an input one is clamped like any other.
TEST(BuildRequest, ScaleValuesBeyondASingleAreNoNumbers) {
    const struct {
        const char* text;
        float low, high;
    } cases[] = {{"1e39", 4, 20}, {"-1e39", 4, 20}, {"3.4e38", 3.4e38f, 3.4e38f}, {"-1e38", -1e38f, -1e38f}};
    for (const auto& c : cases) {
        RequestInputs in = startState();
        in.editor.outputLow = in.editor.outputHigh = in.editor.inputHigh = c.text;
        const auto bytes = ins::encodeRequest(buildRequestFields(in));
        float low, high, inputHigh;
        std::memcpy(&low, bytes.data() + 85, 4);
        std::memcpy(&high, bytes.data() + 89, 4);
        std::memcpy(&inputHigh, bytes.data() + 81, 4);
        EXPECT_EQ(low, c.low) << c.text;
        EXPECT_EQ(high, c.high) << c.text;
        EXPECT_EQ(inputHigh, c.text[0] == '-' ? -25.0f : 25.0f) << c.text;
    }
    EXPECT_EQ(reformatOutputEdit("1e39"), "0.000");
    EXPECT_EQ(reformatOutputEdit("-1e39"), "0.000");
}

TEST(BuildRequest, UnlistedEditorItemsSendWhatTheInstrumentReported) {
    RequestInputs in = startState();
    in.editor.inputType = -1;
    in.editor.modbusAddress = -1;
    in.reported.inputType = 103;
    in.reported.modbusAddress = 250;
    in.editor.inputHigh = "100";
    const ins::Request r = buildRequestFields(in);
    EXPECT_EQ(r.InputTypeCode, 103);
    EXPECT_EQ(r.ModbusAddress, 250);
    EXPECT_EQ(r.EditInputHigh, 100.0); // wider limit when the type is unknown: nothing typed is cut
}

TEST(BuildRequest, WideWindowValuesAreTruncatedToTheirField) {
    RequestInputs in = startState();
    in.uOut4mA = 0x12345;
    in.uOut10V = -1;
    in.commandFlags = ins::kCmdStoreSettings | ins::kCmdRestart;
    const ins::Request r = buildRequestFields(in);
    EXPECT_EQ(r.uOut4mA, 0x2345);
    EXPECT_EQ(r.uOut10V, 0xFFFF);
    EXPECT_EQ(r.CommandFlags, 0x30);
}
