#include "app/tools/SettingsSafety.h"

#include "common/pictureformat.h"
#include "instrument/codes.h"

#include <cfloat>
#include <cmath>

namespace vx::app::tools {
namespace ins = vx::instrument;

namespace {
template <typename Source>
SettingsValues settingsOf(const Source& s, double inLow, double inHigh, double outLow, double outHigh) {
    return {s.InputTypeCode,
            s.OutputTypeCode,
            static_cast<float>(inLow),
            static_cast<float>(inHigh),
            static_cast<float>(outLow),
            static_cast<float>(outHigh),
            s.ModbusProtocol,
            s.ModbusParity,
            s.ModbusBaudRate,
            s.ModbusAddress};
}

float scaleOf(SettingField f, const SettingsValues& v) {
    switch (f) {
    case SettingField::InputLow:
        return v.inputLow;
    case SettingField::InputHigh:
        return v.inputHigh;
    case SettingField::OutputLow:
        return v.outputLow;
    case SettingField::OutputHigh:
        return v.outputHigh;
    default:
        return 0;
    }
}

std::uint8_t codeOf(SettingField f, const SettingsValues& v) {
    switch (f) {
    case SettingField::InputType:
        return v.inputType;
    case SettingField::OutputType:
        return v.outputType;
    case SettingField::ModbusProtocol:
        return v.modbusProtocol;
    case SettingField::ModbusParity:
        return v.modbusParity;
    case SettingField::ModbusBaudRate:
        return v.modbusBaudRate;
    case SettingField::ModbusAddress:
        return v.modbusAddress;
    default:
        return 0;
    }
}

bool isScale(SettingField f) {
    return f == SettingField::InputLow || f == SettingField::InputHigh || f == SettingField::OutputLow ||
           f == SettingField::OutputHigh;
}

double outputLimit(bool voltage) {
    return voltage ? 10.5 : 22.0;
}

bool isInput(SettingField f) {
    return f == SettingField::InputLow || f == SettingField::InputHigh;
}

template <std::size_t N>
std::string listText(const std::array<std::string_view, N>& list, std::uint8_t code) {
    return code < N ? std::string(list[code]) : std::to_string(code);
}
} // namespace

std::string allowedText(SettingField f, const SettingsValues& v) {
    if (isInput(f)) {
        const bool voltage = v.inputType == ins::kTypeVoltage;
        const double limit = inputLimit(voltage ? 1 : 0);
        return formatInputEdit(-limit) + " ... " + formatInputEdit(limit) + (voltage ? " V" : " mA");
    }
    if (f == SettingField::OutputLow || f == SettingField::OutputHigh) {
        const bool voltage = v.outputType == ins::kTypeVoltage;
        return formatOutputEdit(0.0) + " ... " + formatOutputEdit(outputLimit(voltage)) +
               (voltage ? " V" : " mA");
    }
    return {};
}

SettingsValues valuesOf(const ins::Request& q) {
    return settingsOf(q, q.EditInputLow, q.EditInputHigh, q.EditOutputLow, q.EditOutputHigh);
}

SettingsValues valuesOf(const ins::Reply& r) {
    return settingsOf(r, r.DeviceInputLow, r.DeviceInputHigh, r.DeviceOutputLow, r.DeviceOutputHigh);
}

std::vector<SettingField> changedSettings(const SettingsValues& edited, const SettingsValues& stored) {
    std::vector<SettingField> out;
    for (int i = 0; i < kSettingFieldCount; ++i) {
        const auto f = static_cast<SettingField>(i);
        // As singles: the instrument stores exactly the single it receives.
        const bool differs =
            isScale(f) ? scaleOf(f, edited) != scaleOf(f, stored) : codeOf(f, edited) != codeOf(f, stored);
        if (differs) out.push_back(f);
    }
    return out;
}

std::string settingText(SettingField f, const SettingsValues& v) {
    switch (f) {
    case SettingField::InputType:
    case SettingField::OutputType: {
        const std::uint8_t code = codeOf(f, v);
        return code == ins::kTypeCurrent   ? "Current"
               : code == ins::kTypeVoltage ? "Voltage"
                                           : std::to_string(code);
    }
    case SettingField::InputLow:
    case SettingField::InputHigh:
        return formatInputEdit(scaleOf(f, v));
    case SettingField::OutputLow:
    case SettingField::OutputHigh:
        return formatOutputEdit(scaleOf(f, v));
    case SettingField::ModbusProtocol:
        return listText(ins::kModbusProtocols, v.modbusProtocol);
    case SettingField::ModbusParity:
        return listText(ins::kModbusParities, v.modbusParity);
    case SettingField::ModbusBaudRate:
        return listText(ins::kModbusBaudRates, v.modbusBaudRate);
    case SettingField::ModbusAddress:
        return std::to_string(v.modbusAddress);
    }
    return {};
}

std::vector<Suspicion> suspiciousSettings(const EditorState& editor, const SettingsValues& edited,
                                          const SettingsValues& stored, bool analogueOutput) {
    struct Scale {
        SettingField field;
        const std::string& text;
    };
    const Scale scales[] = {{SettingField::InputLow, editor.inputLow},
                            {SettingField::InputHigh, editor.inputHigh},
                            {SettingField::OutputLow, editor.outputLow},
                            {SettingField::OutputHigh, editor.outputHigh}};
    std::vector<Suspicion> out;
    const auto add = [&](SettingField f, SuspicionReason why, std::string newText) {
        out.push_back({f, why, settingText(f, stored), std::move(newText), allowedText(f, edited)});
    };
    bool numbers[4] = {};
    const std::size_t count = analogueOutput ? 4 : 2;
    for (std::size_t i = 0; i < count; ++i) {
        const Scale& s = scales[i];
        double v = 0;
        numbers[i] = parseDecimal(s.text, &v) && std::isfinite(v) && std::fabs(v) <= FLT_MAX;
        if (!numbers[i]) {
            add(s.field, SuspicionReason::NotANumber, s.text);
            continue;
        }
        bool inside = true;
        if (isInput(s.field)) {
            inside = std::fabs(v) <= inputLimit(edited.inputType == ins::kTypeVoltage ? 1 : 0);
        } else {
            inside = v >= 0.0 && v <= outputLimit(edited.outputType == ins::kTypeVoltage);
        }
        if (!inside) add(s.field, SuspicionReason::OutsideType, s.text);
    }
    // A span is judged only between two numbers, as the instrument would receive them.
    // Shown as it would be written, so the engineer confirms the value that goes out.
    if (numbers[0] && numbers[1] && edited.inputLow == edited.inputHigh)
        add(SettingField::InputHigh, SuspicionReason::ZeroSpan, settingText(SettingField::InputHigh, edited));
    if (analogueOutput && numbers[2] && numbers[3] && edited.outputLow == edited.outputHigh)
        add(SettingField::OutputHigh, SuspicionReason::ZeroSpan,
            settingText(SettingField::OutputHigh, edited));
    return out;
}

} // namespace vx::app::tools
