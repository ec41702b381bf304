#include "app/Exchange.h"

#include "common/pictureformat.h"
#include "instrument/codes.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace vx::app {

namespace ins = vx::instrument;

Date localToday() {
    const std::time_t now = std::time(nullptr);
    std::tm t{};
    if (!localtime_r(&now, &t)) return {};
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

namespace {
constexpr double kFullScale = 8388607.0;

double clampByMagnitude(double v, double limit) {
    if (std::fabs(v) > limit) return v < 0 ? -limit : limit;
    return v;
}

double numberOr(const std::string& text, double fallback) {
    double v = fallback;
    return parseDecimal(text, &v) ? v : fallback;
}

// The request carries the output scale as singles: a value beyond their range would arrive as
// infinity, so it counts as no number at all.
double outputScaleOr(const std::string& text, double fallback) {
    const double v = numberOr(text, fallback);
    return std::fabs(v) <= std::numeric_limits<float>::max() ? v : fallback;
}

std::uint8_t itemCode(int item, std::uint8_t base, std::uint8_t reported) {
    return item >= 0 ? static_cast<std::uint8_t>(item + base) : reported;
}

std::string decimal(long long v) {
    return std::to_string(v);
}

ChannelView presentChannel(std::int32_t raw, std::int32_t filtered, ChannelStats& s) {
    ChannelView v;
    v.raw = formatPicture(raw, "0 000 000");
    v.rawBar = raw / kFullScale;
    v.filtered = formatPicture(filtered, "0 000 000");
    v.filteredBar = filtered / kFullScale;
    if (filtered < s.min) s.min = filtered;
    if (filtered > s.max) s.max = filtered;
    // 64 bits: the spread of two 32-bit readings does not fit in 32.
    const double span = std::fabs(static_cast<double>(s.max) - static_cast<double>(s.min));
    v.min = formatPicture(s.min, "# ### ##0");
    v.max = formatPicture(s.max, "# ### ##0");
    v.delta = formatPicture(span, "# ### ##0");
    // No spread yet means no movement worth a bar.
    v.deltaBar =
        span > 0 ? std::fabs(static_cast<double>(filtered) - static_cast<double>(s.prev)) / span : 0.0;
    s.prev = filtered;
    return v;
}

std::string dateText(unsigned year, unsigned month, unsigned day) {
    return formatPicture(year, "0000") + "-" + formatPicture(month, "00") + "-" + formatPicture(day, "00");
}
} // namespace

double inputLimit(int inputType) {
    return inputType == 0 ? 25.0 : 125.0;
}

ScaleValues deriveScaleValues(const EditorState& e) {
    ScaleValues s;
    const double limit = inputLimit(e.inputType);
    s.inputLow = clampByMagnitude(numberOr(e.inputLow, 4.0), limit);
    s.inputHigh = clampByMagnitude(numberOr(e.inputHigh, 20.0), limit);
    s.outputLow = outputScaleOr(e.outputLow, 4.0);
    s.outputHigh = outputScaleOr(e.outputHigh, 20.0);
    return s;
}

ins::Request buildRequestFields(const RequestInputs& in) {
    ins::Request r;
    r.uPWMForce = in.uPWMForce;
    r.CommandFlags = in.commandFlags;
    r.Low = in.low;
    r.High = in.high;
    r.uOut4mA = static_cast<std::uint16_t>(in.uOut4mA & 0xFFFF);
    r.uOut20mA = static_cast<std::uint16_t>(in.uOut20mA & 0xFFFF);
    r.uOut2V = static_cast<std::uint16_t>(in.uOut2V & 0xFFFF);
    r.uOut10V = static_cast<std::uint16_t>(in.uOut10V & 0xFFFF);
    r.Year = static_cast<std::uint16_t>(in.today.year);
    r.Month = static_cast<std::uint8_t>(in.today.month);
    r.Day = static_cast<std::uint8_t>(in.today.day);
    r.DirectControl = in.outputCheckPageActive ? 255 : 0;
    r.OutputCheckPercent = static_cast<std::uint8_t>((in.outputCheckPosition * 5) & 0xFF);
    r.GainForceCode = ins::gainForceCode(in.gainForceItem, in.gainForceChannel == 1);
    r.DividerForceCode = ins::dividerForceCode(in.dividerForceItem);
    r.InputTypeCode = itemCode(in.editor.inputType, ins::kTypeCurrent, in.reported.inputType);
    r.OutputTypeCode = itemCode(in.editor.outputType, ins::kTypeCurrent, in.reported.outputType);
    const ScaleValues s = deriveScaleValues(in.editor);
    r.EditInputLow = s.inputLow;
    r.EditInputHigh = s.inputHigh;
    r.EditOutputLow = s.outputLow;
    r.EditOutputHigh = s.outputHigh;
    r.Reserved = 0.0;
    r.RangeForceCode = ins::rangeForceCode(in.rangeForceItem);
    r.ModbusProtocol = itemCode(in.editor.modbusProtocol, 0, in.reported.modbusProtocol);
    r.ModbusParity = itemCode(in.editor.modbusParity, 0, in.reported.modbusParity);
    r.ModbusBaudRate = itemCode(in.editor.modbusBaudRate, 0, in.reported.modbusBaudRate);
    r.ModbusAddress = itemCode(in.editor.modbusAddress, 0, in.reported.modbusAddress);
    return r;
}

ReplyView presentReply(const ins::Reply& r, ChannelStats& ch0, ChannelStats& ch1,
                       const LanguageWords& words) {
    ReplyView v;
    v.firmwareVersion = ins::firmwareVersion(r.FirmwareYear, r.FirmwareMonth, r.FirmwareDay);
    v.firmwareText = "V" + dateText(r.FirmwareYear, r.FirmwareMonth, r.FirmwareDay);

    v.ch0 = presentChannel(r.AdRaw0, r.AdFiltered0, ch0);
    v.ch1 = presentChannel(r.AdRaw1, r.AdFiltered1, ch1);
    v.ram1Source = std::string(ins::dataSourceText(r.DataSourceRam1));
    v.ram2Source = std::string(ins::dataSourceText(r.DataSourceRam2));
    v.gainCh0 = formatPicture(r.GainCh0, "0");
    v.gainCh1 = formatPicture(r.GainCh1, "0");

    v.framError = r.StatusFlags & ins::kStatusFramError;
    v.inputUncalibrated = r.StatusFlags & ins::kStatusInputUncalibrated;
    v.outputUncalibrated = r.StatusFlags & ins::kStatusOutputUncalibrated;
    v.converterError = r.StatusFlags & ins::kStatusConverterError;
    v.inputRangeError = r.StatusFlags & ins::kStatusInputRangeError;
    v.outputRangeError = r.StatusFlags & ins::kStatusOutputRangeError;

    if (const ins::InputRange* range = ins::inputRange(r.InputRangeIndex)) {
        v.inputValue = v.inputUncalibrated ? std::string("Uncalibrated!")
                                           : formatPicture(r.InputValue * range->multiplier, range->pattern) +
                                                 " " + std::string(range->displayUnit);
        v.inputRangeName = std::string(range->name);
        v.inputTerminal = std::string(range->terminal);
        v.inputPicture = r.InputRangeIndex <= 2   ? InputPicture::Terminals79
                         : r.InputRangeIndex <= 5 ? InputPicture::Terminals710
                                                  : InputPicture::Terminals78;
    } else {
        // A range this program does not know: say so rather than guess a unit or a terminal.
        v.inputValue =
            v.inputUncalibrated ? std::string("Uncalibrated!") : formatPicture(r.InputValue, "0.000");
        v.inputRangeName = "? (" + decimal(r.InputRangeIndex) + ")";
        v.inputTerminal = "IN+: ?";
        v.inputPicture = InputPicture::None;
    }

    std::string unit;
    if (r.OutputTypeCode == ins::kTypeCurrent) {
        v.outputRangeName = "0 ... +22 mA";
        v.outputPlus = "OUT+: terminal 6 (+Iout)";
        v.outputMinus = "OUT-: terminal 5 (-Iout)";
        v.voltageOutputPicture = false;
        unit = "mA";
    } else if (r.OutputTypeCode == ins::kTypeVoltage) {
        v.outputRangeName = "0 ... +10.5 V";
        v.outputPlus = "OUT+: terminal 4 (+Uout)";
        v.outputMinus = "OUT-: terminal 3 (-Uout)";
        v.voltageOutputPicture = true;
        unit = "V";
    }
    if (v.outputUncalibrated) {
        v.outputValue = "Uncalibrated!";
    } else {
        const double out = r.DeviceOutputLow + (r.DeviceOutputHigh - r.DeviceOutputLow) * r.OutputFraction;
        v.outputValue = formatPicture(out, "0.000") + " " + unit;
    }

    v.workingTime = formatPicture(r.WorkingMinutes / 60, "0") + words.hours +
                    formatPicture(r.WorkingMinutes % 60, "00") + words.minutes;
    v.calibrationDate =
        r.CalibrationYear != 0 ? dateText(r.CalibrationYear, r.CalibrationMonth, r.CalibrationDay) : "?";
    v.temperature = r.Temperature > -200 ? formatPicture(r.Temperature, "0.0") : "--.-";
    v.temperatureMin = formatPicture(r.TemperatureMin, "0.0");
    v.temperatureMax = formatPicture(r.TemperatureMax, "0.0");
    v.samples = decimal(r.uADSamples);
    v.errorNumber = decimal(r.ErrorNumber);
    v.pwmBar = r.PwmValue / 65535.0;
    v.pwm = formatPicture(r.PwmValue, "## ##0");
    v.divider = decimal(r.uDivider);
    v.scaleBar = r.ScaleFraction;
    v.typeOfInstrument = decimal(r.iTypeOfInstrument);
    return v;
}

std::string formatInputEdit(double value) {
    const double a = std::fabs(value);
    const char* pattern = a <= 0.5 ? "##0.00000" : a <= 2.5 ? "0.0000" : a <= 50 ? "#0.000" : "##0.00";
    return formatPicture(value, pattern);
}

std::string formatOutputEdit(double value) {
    return formatPicture(value, "#0.000");
}

std::string reformatInputEdit(const std::string& text) {
    return formatInputEdit(numberOr(text, 0.0));
}
std::string reformatOutputEdit(const std::string& text) {
    return formatOutputEdit(outputScaleOr(text, 0.0));
}

EditorState editorFromReply(const ins::Reply& r) {
    const auto item = [](int code, int base, int count) {
        return code >= base && code < base + count ? code - base : -1;
    };
    EditorState e;
    e.inputType = item(r.InputTypeCode, ins::kTypeCurrent, 2);
    e.outputType = item(r.OutputTypeCode, ins::kTypeCurrent, 2);
    e.inputLow = formatInputEdit(r.DeviceInputLow);
    e.inputHigh = formatInputEdit(r.DeviceInputHigh);
    e.outputLow = formatOutputEdit(r.DeviceOutputLow);
    e.outputHigh = formatOutputEdit(r.DeviceOutputHigh);
    e.modbusProtocol = item(r.ModbusProtocol, 0, static_cast<int>(ins::kModbusProtocols.size()));
    e.modbusParity = item(r.ModbusParity, 0, static_cast<int>(ins::kModbusParities.size()));
    e.modbusBaudRate = item(r.ModbusBaudRate, 0, static_cast<int>(ins::kModbusBaudRates.size()));
    e.modbusAddress = item(r.ModbusAddress, 0, ins::kModbusAddressCount);
    return e;
}

EditorState factoryDefaults(const EditorState& current, int variant) {
    EditorState e = current;
    e.inputType = 0;
    e.outputType = 0;
    if (variant == ins::kVariantAnalog) {
        e.inputLow = reformatInputEdit("0");
        e.inputHigh = reformatInputEdit("22");
        e.outputLow = reformatOutputEdit("0");
        e.outputHigh = "22";
    } else if (variant == ins::kVariantModbus) {
        e.inputLow = reformatInputEdit("-25");
        e.inputHigh = reformatInputEdit("25");
        e.outputLow = reformatOutputEdit("0");
        e.outputHigh = "22";
    }
    e.outputHigh = reformatOutputEdit(e.outputHigh);
    e.modbusProtocol = 0;
    e.modbusParity = 1;
    e.modbusBaudRate = 2;
    e.modbusAddress = 0;
    return e;
}

std::vector<std::string> firmwareMismatchLines(const std::string& language, std::uint32_t version) {
    const std::string x = ins::firmwareVersionText(version);
    const std::string lo = ins::firmwareVersionText(ins::kFirmwareMin);
    const std::string hi = ins::firmwareVersionText(ins::kFirmwareMax);
    if (language == "english")
        return {"The firmware of instrument is " + x,   "",
                "This configuration software",          "can handle firmware versions",
                lo + " ... " + hi + " only.",           "",
                "Use the appropriate software version", "istead of this software."};
    if (language == "magyar")
        return {"A készülékben lévő förmver verziószáma: " + x,
                "",
                "Ez a beállító program a",
                lo + " ... " + hi,
                "förmverű készülékek beállítására alkalmas.",
                "",
                "E program helyett használja a",
                "megfelelő verziószámú programot!"};
    return {};
}

} // namespace vx::app
