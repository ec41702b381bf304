#pragma once
// What a settings write would change in the instrument, and which edited settings cannot work, without
// a window: both compare the values a write would send with the values the instrument last reported.
#include "app/Exchange.h"
#include "instrument/exchange.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vx::app::tools {

enum class SettingField {
    InputType,
    InputLow,
    InputHigh,
    OutputType,
    OutputLow,
    OutputHigh,
    ModbusProtocol,
    ModbusParity,
    ModbusBaudRate,
    ModbusAddress
};
inline constexpr int kSettingFieldCount = 10;

// The settings as they travel: codes and single-precision scale values.
struct SettingsValues {
    std::uint8_t inputType = 0, outputType = 0;
    float inputLow = 0, inputHigh = 0, outputLow = 0, outputHigh = 0;
    std::uint8_t modbusProtocol = 0, modbusParity = 0, modbusBaudRate = 0, modbusAddress = 0;
    bool operator==(const SettingsValues&) const = default;
};
SettingsValues valuesOf(const instrument::Request& request);
SettingsValues valuesOf(const instrument::Reply& reply);

// Fields whose value a write would change.
std::vector<SettingField> changedSettings(const SettingsValues& edited, const SettingsValues& stored);

// The field's value as the editor shows it ("Current", "4.000", "RTU", "9600 bit/sec.", ...).
std::string settingText(SettingField field, const SettingsValues& v);

enum class SuspicionReason {
    NotANumber,  // the edit's text is no number the instrument can hold
    OutsideType, // beyond what the chosen signal type allows
    ZeroSpan     // the end equals the start
};
struct Suspicion {
    SettingField field;
    SuspicionReason reason;
    // Stored, and the new one: as it would be written, or as typed where it is never written.
    std::string oldText, newText;
    std::string allowed; // what the field's signal type allows ("0.000 ... 22.000 mA"); empty for none
    // Not a number, or outside the type: never written, whatever the engineer answers.
    bool refused() const { return reason != SuspicionReason::ZeroSpan; }
};
// What a scale field's signal type allows, as the editor writes numbers ("0.000 ... 22.000 mA").
std::string allowedText(SettingField field, const SettingsValues& v);

// Settings in the editor that cannot work as they would be written. The output scale counts only on an
// instrument with an analogue output.
std::vector<Suspicion> suspiciousSettings(const EditorState& editor, const SettingsValues& edited,
                                          const SettingsValues& stored, bool analogueOutput);

} // namespace vx::app::tools
