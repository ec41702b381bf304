#pragma once
// The window side of the exchange, without a window: what the next request carries, computed from the
// controls' states, and what every control shows for one reply. TForm_Main only copies controls into
// these structs and the results back out, so the rules live here and tests drive them directly.
#include "instrument/codes.h"
#include "instrument/exchange.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vx::app {

// ---------------------------------------------------------------------------------------------------
// Request side

// The settings editor as the operator left it. An index of -1 means the control shows no item (the
// instrument reported a code outside the list).
struct EditorState {
    int inputType = 0;  // RadioGroup_BemenetTipusa: 0 current, 1 voltage
    int outputType = 0; // RadioGroup_KimenetTipusa
    std::string inputLow = "4", inputHigh = "20", outputLow = "4", outputHigh = "20";
    int modbusProtocol = 0, modbusParity = 1, modbusBaudRate = 2, modbusAddress = 0;
};

// Codes the instrument last reported for the editor's fields. A control with no item selected sends
// these instead of an invented code, so writing the settings never stores a value nobody chose.
struct ReportedCodes {
    std::uint8_t inputType = instrument::kTypeCurrent;
    std::uint8_t outputType = instrument::kTypeCurrent;
    std::uint8_t modbusProtocol = 0, modbusParity = 1, modbusBaudRate = 2, modbusAddress = 0;
};

struct ScaleValues {
    double inputLow = 4.0, inputHigh = 20.0, outputLow = 4.0, outputHigh = 20.0;
};

// Edit texts to numbers: a text that is not a number gives 4 (start) or 20 (end); the input values
// are clamped by magnitude to 25 (current) or 125 (voltage), the output values are not clamped, but
// one beyond the range of a single counts as no number.
ScaleValues deriveScaleValues(const EditorState& editor);
double inputLimit(int inputType);

struct Date {
    int year = 2000, month = 1, day = 1;
};
// Today on this computer's calendar (local time): what a request tells the unit, and what a store
// stamps as the calibration's date.
Date localToday();

// Everything BuildRequest reads from the window.
struct RequestInputs {
    std::uint16_t uPWMForce = 0;
    std::uint8_t commandFlags = 0;
    std::array<std::int32_t, instrument::kCalibrationPairs> low{}, high{};
    std::int64_t uOut4mA = 0, uOut20mA = 65535, uOut2V = 0, uOut10V = 65535; // sent as their low 16 bits
    Date today;
    bool outputCheckPageActive = false;
    int outputCheckPosition = 0; // TrackBar_OutCheck, 0..20
    int gainForceItem = 0, gainForceChannel = 0, dividerForceItem = 0, rangeForceItem = 0;
    EditorState editor;
    ReportedCodes reported;
};

instrument::Request buildRequestFields(const RequestInputs& in);

// ---------------------------------------------------------------------------------------------------
// Reply side

// Minimum, maximum and previous filtered reading of one converter channel (the test page's spread).
struct ChannelStats {
    std::int32_t min = 0, max = 0, prev = 0;
    // "Törlés": restart the spread from the last reading.
    void clear() { min = max = prev; }
};

struct ChannelView {
    std::string raw, filtered;          // "0 000 000"
    double rawBar = 0, filteredBar = 0; // reading / 8388607
    std::string min, max, delta;        // "# ### ##0"
    double deltaBar = 0;                // |v - previous| / span; 0 when the span is 0
};

enum class InputPicture { Terminals79, Terminals710, Terminals78, None };

struct ReplyView {
    std::uint32_t firmwareVersion = 0;
    std::string firmwareText; // "V2014-03-15"
    ChannelView ch0, ch1;
    std::string ram1Source, ram2Source;
    std::string gainCh0, gainCh1;
    // Status labels, shown while their bit is set.
    bool framError = false, converterError = false, inputUncalibrated = false, outputUncalibrated = false,
         inputRangeError = false, outputRangeError = false;
    std::string inputValue;
    std::string inputRangeName, inputTerminal;
    InputPicture inputPicture = InputPicture::None;
    // Output range texts; the terminal texts and pictures only change for a known output type.
    std::string outputRangeName;
    std::optional<std::string> outputPlus, outputMinus;
    std::optional<bool> voltageOutputPicture; // true: Image_34, false: Image_56
    std::string outputValue;
    std::string workingTime, calibrationDate;
    std::string temperature, temperatureMin, temperatureMax;
    std::string samples, errorNumber;
    double pwmBar = 0;
    std::string pwm; // "## ##0"
    std::string divider;
    double scaleBar = 0;
    std::string typeOfInstrument;
};

struct LanguageWords {
    std::string hours = " hours  ", minutes = " minutes.";
};

// Reads one decoded reply for display and moves the channel spreads on.
ReplyView presentReply(const instrument::Reply& reply, ChannelStats& ch0, ChannelStats& ch1,
                       const LanguageWords& words);

// ---------------------------------------------------------------------------------------------------
// Settings editor

// Input edits follow the magnitude of their value; output edits always use "#0.000".
std::string formatInputEdit(double value);
std::string formatOutputEdit(double value);
// What an edit shows after it is left: its text read as a number (0 when it is none), reformatted.
std::string reformatInputEdit(const std::string& text);
std::string reformatOutputEdit(const std::string& text);

// The editor as the reply says the instrument holds it. Codes outside their lists give -1 (no item).
EditorState editorFromReply(const instrument::Reply& reply);

// Factory defaults for a variant (0 analogue, 1 MODBUS; anything else, including "no reply yet",
// changes only the types, the output end and the MODBUS settings). Returns the editor to show.
EditorState factoryDefaults(const EditorState& current, int variant);

// ---------------------------------------------------------------------------------------------------
// Firmware check

// The eight lines of the mismatch dialog in a language ("english" or "magyar"); no lines for any other.
std::vector<std::string> firmwareMismatchLines(const std::string& language, std::uint32_t version);

} // namespace vx::app
