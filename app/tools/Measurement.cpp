#include "app/tools/Measurement.h"

#include "instrument/codes.h"

namespace vx::app::tools {

namespace ins = vx::instrument;

Measurement measure(const ins::Reply& r) {
    Measurement m;
    // The value travels in volts on the voltage ranges and in milliamperes on the current range.
    m.input = r.InputValue;
    if (const ins::InputRange* range = ins::inputRange(r.InputRangeIndex)) {
        m.inputUnit = r.InputRangeIndex == ins::kCurrentRange ? "mA" : "V";
        m.inputRange = std::string(range->name);
    }
    const auto unitOf = [](std::uint8_t type) {
        return type == ins::kTypeCurrent ? "mA" : type == ins::kTypeVoltage ? "V" : "";
    };
    m.outputUnit = unitOf(r.OutputTypeCode);
    // As the window computes it: the output's share of the configured output scale.
    m.output = r.DeviceOutputLow + (r.DeviceOutputHigh - r.DeviceOutputLow) * r.OutputFraction;
    m.scaleLow = r.DeviceInputLow;
    m.scaleHigh = r.DeviceInputHigh;

    static constexpr std::pair<std::uint8_t, const char*> kFlags[] = {
        {ins::kStatusInputUncalibrated, "input uncalibrated"},
        {ins::kStatusFramError, "FRAM error"},
        {ins::kStatusOutputUncalibrated, "output uncalibrated"},
        {ins::kStatusOutputRangeError, "output range error"},
        {ins::kStatusInputRangeError, "input range error"},
        {ins::kStatusConverterError, "ADC error"},
    };
    for (const auto& [bit, text] : kFlags) {
        if (!(r.StatusFlags & bit)) continue;
        if (!m.statusText.empty()) m.statusText += "; ";
        m.statusText += text;
    }
    if (r.Temperature > -200) m.temperature = r.Temperature;
    m.adRaw0 = r.AdRaw0;
    m.adFiltered0 = r.AdFiltered0;
    m.adRaw1 = r.AdRaw1;
    m.adFiltered1 = r.AdFiltered1;
    return m;
}

} // namespace vx::app::tools
