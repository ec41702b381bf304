#include "sim/model.h"

#include "common/pictureformat.h"
#include "common/rounding.h"
#include "instrument/codes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <utility>

namespace vx::sim {
namespace in = vx::instrument;
namespace {

// Measuring path of each input range: channel, CH1 divider level, gain. The configurator's input
// calibration forces exactly these combinations for the pairs of the ranges.
struct RangePath {
    int channel, divider, gain;
};
constexpr std::array<RangePath, in::kInputRangeCount> kRangePaths{
    {{1, 0, 2}, {1, 0, 1}, {1, 1, 1}, {1, 1, 2}, {1, 2, 4}, {1, 2, 1}, {0, 0, 1}}};

constexpr double kFilterWeight = 0.2;
constexpr int kMaxSamplesPerReply = kSamplesPerSecond; // after a long pause only the last second matters

std::uint16_t pwmOf(const OutputCurve& curve, double value) {
    return roundToInt<std::uint16_t>(curve.pwmFor(value));
}

// The four output calibration constants that make this curve pair give 4 mA, 20 mA, 2 V and 10 V.
void storeOutputPoints(const Unit& u, Memory* m) {
    m->out4mA = pwmOf(u.current, 4.0);
    m->out20mA = pwmOf(u.current, 20.0);
    m->out2V = pwmOf(u.voltage, 2.0);
    m->out10V = pwmOf(u.voltage, 10.0);
}

double clamp01(double v) {
    return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0;
}

// Range of a path, and how much more gain the path has than that range's own.
int rangeOfPath(int channel, int divider, int gain, double* ratio) {
    for (std::size_t r = 0; r < kRangePaths.size(); ++r) {
        const RangePath& p = kRangePaths[r];
        if (p.channel == channel && p.gain == gain && (channel == 0 || p.divider == divider)) {
            *ratio = 1.0;
            return static_cast<int>(r);
        }
    }
    const int base = channel == 0 ? 6 : divider == 0 ? 1 : divider == 1 ? 2 : 5;
    *ratio = static_cast<double>(gain) / kRangePaths[base].gain;
    return base;
}

} // namespace

double Signal::valueAt(double seconds) const {
    if (shape == Shape::Constant || periodSeconds <= 0.0) return low;
    const double phase = std::fmod(seconds / periodSeconds, 1.0);
    const double mid = (low + high) / 2.0, half = (high - low) / 2.0;
    if (shape == Shape::Sine) return mid + half * std::sin(2.0 * std::numbers::pi * phase);
    const double tri = phase < 0.5 ? 4.0 * phase - 1.0 : 3.0 - 4.0 * phase; // -1 .. 1 .. -1
    return mid + half * tri;
}

bool parseSignal(std::string_view text, Signal* out) {
    auto number = [](std::string_view t, double* v) { return vx::parseDecimal(t, v) && std::isfinite(*v); };
    Signal s;
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) {
        if (!number(text, &s.low)) return false;
        s.high = s.low;
        *out = s;
        return true;
    }
    const std::string_view shape = text.substr(0, colon);
    if (shape == "sine")
        s.shape = Signal::Shape::Sine;
    else if (shape == "triangle")
        s.shape = Signal::Shape::Triangle;
    else
        return false;
    std::string_view rest = text.substr(colon + 1);
    double v[3];
    for (int i = 0; i < 3; ++i) {
        const auto end = i < 2 ? rest.find(':') : rest.size();
        if (end == std::string_view::npos || !number(rest.substr(0, end), &v[i])) return false;
        rest = i < 2 ? rest.substr(end + 1) : std::string_view{};
    }
    if (v[2] <= 0.0) return false;
    s.low = v[0];
    s.high = v[1];
    s.periodSeconds = v[2];
    *out = s;
    return true;
}

Memory factoryMemory(std::uint8_t variant) {
    Memory m;
    if (variant == in::kVariantModbus) {
        m.inputLow = -25.0;
        m.inputHigh = 25.0;
    }
    m.high.fill(kNominalSpan);
    storeOutputPoints(Unit::nominal(), &m);
    return m;
}

Memory calibratedMemory(const Unit& unit, std::uint8_t variant, std::uint16_t year, std::uint8_t month,
                        std::uint8_t day) {
    Memory m = factoryMemory(variant);
    for (std::size_t r = 0; r < in::kInputRangeCount; ++r) {
        const int range = static_cast<int>(r);
        m.low[r] = roundToInt<std::int32_t>(unit.inputCounts(range, 0.0));
        m.high[r] = roundToInt<std::int32_t>(unit.inputCounts(range, in::kInputRanges[r].referenceValue));
    }
    storeOutputPoints(unit, &m);
    m.inputCalibrated = m.outputCalibrated = true;
    m.calibrationYear = year;
    m.calibrationMonth = month;
    m.calibrationDay = day;
    return m;
}

InstrumentModel::InstrumentModel(const ModelConfig& config, const Memory& memory, bool framError)
    : config_(config), unit_(Unit::fromSeed(config.seed)), output_(unit_.outputAt(0)), memory_(memory),
      framError_(framError), random_(config.seed) {
    restart();
    restarts_ = 0; // power-up is not a restart
}

bool InstrumentModel::takeMemoryDirty() {
    return std::exchange(dirty_, false);
}

void InstrumentModel::setSignal(const Signal& signal) {
    config_.signal = signal;
    restartFilters();
}

void InstrumentModel::restartFilters() {
    for (Channel& c : channels_)
        c.primed = false;
}

void InstrumentModel::restart() {
    ++restarts_;
    restartFilters();
    const bool fram = memory_.written && !framError_;
    sourceRam1_ = fram ? in::kSourceFram1 : in::kSourceFactory;
    sourceRam2_ = fram ? in::kSourceFram2 : in::kSourceFactory;
}

void InstrumentModel::advanceTime(std::chrono::milliseconds now) {
    if (!started_) {
        started_ = true;
        origin_ = last_ = now;
        sampleDebt_ = 1.0;
        return;
    }
    const auto elapsed = std::max(now - last_, std::chrono::milliseconds{0});
    last_ = std::max(now, last_);
    memory_.workingMs += static_cast<std::uint64_t>(elapsed.count());
    sampleDebt_ = std::min(sampleDebt_ + elapsed.count() * kSamplesPerSecond / 1000.0,
                           static_cast<double>(kMaxSamplesPerReply));
}

void InstrumentModel::carryOut(const in::Request& q) {
    const std::uint8_t cmd = q.CommandFlags;
    // Clearing first, so a store in the same request is not wiped after being acknowledged.
    if (cmd & in::kCmdClearFramRestart) {
        memory_ = factoryMemory(config_.variant);
        framError_ = false;
        dirty_ = true;
    }
    auto stamp = [&] {
        memory_.calibrationYear = q.Year;
        memory_.calibrationMonth = q.Month;
        memory_.calibrationDay = q.Day;
    };
    if (cmd & in::kCmdStoreInputCalibration) {
        memory_.low = q.Low;
        memory_.high = q.High;
        memory_.inputCalibrated = true;
        stamp();
    }
    if (cmd & in::kCmdStoreOutputCalibration) {
        memory_.out4mA = q.uOut4mA;
        memory_.out20mA = q.uOut20mA;
        memory_.out2V = q.uOut2V;
        memory_.out10V = q.uOut10V;
        memory_.outputCalibrated = true;
        stamp();
    }
    if (cmd & in::kCmdStoreSettings) {
        // Codes the instrument does not know and non-finite scale values keep what was stored.
        auto type = [](std::uint8_t code, std::uint8_t& into) {
            if (code == in::kTypeCurrent || code == in::kTypeVoltage) into = code;
        };
        auto real = [](double v, double& into) {
            if (std::isfinite(v)) into = v;
        };
        auto code = [](std::uint8_t v, std::size_t count, std::uint8_t& into) {
            if (v < count) into = v;
        };
        type(q.InputTypeCode, memory_.inputType);
        type(q.OutputTypeCode, memory_.outputType);
        real(q.EditInputLow, memory_.inputLow);
        real(q.EditInputHigh, memory_.inputHigh);
        real(q.EditOutputLow, memory_.outputLow);
        real(q.EditOutputHigh, memory_.outputHigh);
        code(q.ModbusProtocol, in::kModbusProtocols.size(), memory_.modbusProtocol);
        code(q.ModbusParity, in::kModbusParities.size(), memory_.modbusParity);
        code(q.ModbusBaudRate, in::kModbusBaudRates.size(), memory_.modbusBaudRate);
        code(q.ModbusAddress, in::kModbusAddressCount, memory_.modbusAddress);
    }
    if (cmd & (in::kCmdStoreInputCalibration | in::kCmdStoreOutputCalibration | in::kCmdStoreSettings)) {
        memory_.written = true;
        framError_ = false;
        dirty_ = true;
    }
    if (cmd & (in::kCmdRestart | in::kCmdClearFramRestart)) restart();
    if (cmd & in::kCmdClearTemperatureMinMax) memory_.temperatureRecorded = false;
}

InstrumentModel::Path InstrumentModel::pathOf(int range) const {
    const RangePath& p = kRangePaths[range];
    return {p.channel, p.divider, p.gain};
}

void InstrumentModel::resolvePaths(const in::Request& q, double signal, Path* active, int* range,
                                   double* gainRatio) const {
    int base = static_cast<int>(in::kCurrentRange);
    if (memory_.inputType == in::kTypeVoltage) {
        base = 5;
        for (int r = 0; r < 5; ++r) {
            if (std::fabs(signal) <= in::kInputRanges[r].limit) {
                base = r;
                break;
            }
        }
    }
    if ((q.RangeForceCode & in::kForceOn) && (q.RangeForceCode & 0x7F) < in::kInputRangeCount)
        base = q.RangeForceCode & 0x7F;
    Path p = pathOf(base);
    if ((q.DividerForceCode & in::kForceOn) && (q.DividerForceCode & 0x7F) <= 2)
        p.divider = q.DividerForceCode & 0x7F;
    const unsigned gain = q.GainForceCode & in::kGainForceGainMask;
    if ((q.GainForceCode & in::kForceOn) && std::has_single_bit(gain)) {
        p.channel = (q.GainForceCode & in::kGainForceCh1) ? 1 : 0;
        p.gain = static_cast<int>(gain);
    }
    *active = p;
    *range = rangeOfPath(p.channel, p.divider, p.gain, gainRatio);
}

double InstrumentModel::trueCounts(const Path& path, double signal) const {
    double ratio = 1.0;
    const int r = rangeOfPath(path.channel, path.divider, path.gain, &ratio);
    // A stronger gain than the range's own multiplies the signal, not the offset behind it.
    const double counts =
        unit_.inputOffsets[r] + (unit_.inputCounts(r, signal) - unit_.inputOffsets[r]) * ratio;
    return std::clamp(counts, -double{kFullScaleCounts}, double{kFullScaleCounts});
}

void InstrumentModel::sample(double signal, const Path& active) {
    // The idle channel keeps measuring its open or shorted input; CH1 idles on the smallest range but
    // shows a forced divider.
    std::array<Path, 2> paths{Path{0, 0, 1}, pathOf(0)};
    paths[active.channel] = active;
    if (active.channel == 0) paths[1].divider = active.divider;
    bool changed = false;
    for (int c = 0; c < 2; ++c) {
        if (channels_[c].path != paths[c]) {
            channels_[c].path = paths[c];
            channels_[c].primed = false; // the converter restarts its filter on a path change
        }
        changed = changed || !channels_[c].primed;
    }
    int samples = static_cast<int>(sampleDebt_);
    if (samples == 0 && changed) samples = 1;
    sampleDebt_ = std::max(0.0, sampleDebt_ - samples);
    for (int i = 0; i < samples; ++i) {
        for (int c = 0; c < 2; ++c) {
            Channel& ch = channels_[c];
            const double v = c == active.channel ? signal : 0.0;
            const double raw = std::clamp(trueCounts(ch.path, v) + noise_(random_) * config_.noiseCounts,
                                          -double{kFullScaleCounts}, double{kFullScaleCounts});
            ch.raw = std::round(raw);
            ch.filtered = ch.primed ? ch.filtered + (ch.raw - ch.filtered) * kFilterWeight : ch.raw;
            ch.primed = true;
        }
    }
}

double InstrumentModel::toInputValue(int range, double counts, double gainRatio) const {
    // The stored pair always applies (the factory data holds the nominal one), so an uncalibrated
    // unit reads off by its own errors. A pair without a span cannot scale anything: nominal then.
    double low = 0.0, high = kNominalSpan;
    if (memory_.high[range] != memory_.low[range]) {
        low = memory_.low[range];
        high = memory_.high[range];
    }
    return (counts - low) / (high - low) * in::kInputRanges[range].referenceValue / gainRatio;
}

double InstrumentModel::pwmFor(double value) const {
    const bool voltage = memory_.outputType == in::kTypeVoltage;
    const double lowValue = voltage ? 2.0 : 4.0, highValue = voltage ? 10.0 : 20.0;
    double lowPwm = voltage ? memory_.out2V : memory_.out4mA;
    double highPwm = voltage ? memory_.out10V : memory_.out20mA;
    if (lowPwm == highPwm) {
        const OutputCurve& nominal = voltage ? Unit::nominal().voltage : Unit::nominal().current;
        lowPwm = pwmOf(nominal, lowValue);
        highPwm = pwmOf(nominal, highValue);
    }
    return lowPwm + (value - lowValue) * (highPwm - lowPwm) / (highValue - lowValue);
}

double InstrumentModel::outputFromPwm(double pwm) const {
    const double a = pwmFor(0.0), b = pwmFor(1.0); // the calibration line is straight
    return (pwm - a) / (b - a);
}

double InstrumentModel::measureTemperature() {
    if (config_.temperature <= -200.0) return -250.0;
    const double t = std::chrono::duration<double>(last_ - origin_).count();
    return config_.temperature + 1.5 * std::sin(2.0 * std::numbers::pi * t / 240.0) + 0.03 * noise_(random_);
}

in::Reply InstrumentModel::handle(const in::Request& q, std::chrono::milliseconds now) {
    advanceTime(now);
    carryOut(q);
    const double seconds = std::chrono::duration<double>(last_ - origin_).count();
    const double signal = config_.signal.valueAt(seconds);

    Path active;
    int range = 0;
    double ratio = 1.0;
    resolvePaths(q, signal, &active, &range, &ratio);
    sample(signal, active);
    const Channel& measuring = channels_[active.channel];

    in::Reply r;
    r.FirmwareYear = config_.firmwareYear;
    r.FirmwareMonth = config_.firmwareMonth;
    r.FirmwareDay = config_.firmwareDay;
    r.AdRaw0 = roundToInt<std::int32_t>(channels_[0].raw);
    r.AdRaw1 = roundToInt<std::int32_t>(channels_[1].raw);
    r.AdFiltered0 = roundToInt<std::int32_t>(channels_[0].filtered);
    r.AdFiltered1 = roundToInt<std::int32_t>(channels_[1].filtered);
    r.DataSourceRam1 = sourceRam1_;
    r.DataSourceRam2 = sourceRam2_;
    r.ReservedByte = static_cast<std::uint8_t>(restarts_); // restarts since power-up, for diagnosis
    r.AcknowledgeFlags = q.CommandFlags & in::kCommandMask;
    r.GainCh0 = static_cast<std::uint8_t>(channels_[0].path.gain);
    r.GainCh1 = static_cast<std::uint8_t>(channels_[1].path.gain);
    r.uDivider = static_cast<std::uint8_t>(channels_[1].path.divider);

    std::uint8_t status = 0;
    if (!memory_.inputCalibrated) status |= in::kStatusInputUncalibrated;
    if (!memory_.outputCalibrated) status |= in::kStatusOutputUncalibrated;
    if (framError_) status |= in::kStatusFramError;
    if (std::fabs(signal) > in::kInputRanges[range].limit / ratio ||
        std::fabs(measuring.raw) >= kFullScaleCounts)
        status |= in::kStatusInputRangeError;

    r.InputValue = toInputValue(range, measuring.filtered, ratio);
    r.InputRangeIndex = static_cast<std::uint8_t>(range);
    r.InputTypeCode = memory_.inputType;
    r.OutputTypeCode = memory_.outputType;
    const double inSpan = memory_.inputHigh - memory_.inputLow;
    r.ScaleFraction = inSpan != 0.0 ? clamp01((r.InputValue - memory_.inputLow) / inSpan) : 0.0;

    const double outSpan = memory_.outputHigh - memory_.outputLow;
    double pwm = 0.0;
    if (q.uPWMForce != 0) {
        pwm = q.uPWMForce;
        const double value = outputFromPwm(pwm);
        r.OutputFraction = outSpan != 0.0 ? (value - memory_.outputLow) / outSpan : 0.0;
    } else {
        r.OutputFraction =
            q.DirectControl == 255 ? std::min<double>(q.OutputCheckPercent, 100) / 100.0 : r.ScaleFraction;
        const double value = memory_.outputLow + outSpan * r.OutputFraction;
        const double limit = memory_.outputType == in::kTypeVoltage ? kOutputLimitV : kOutputLimitMa;
        pwm = pwmFor(value);
        if (value < 0.0 || value > limit || pwm < 0.0 || pwm > 65535.0) status |= in::kStatusOutputRangeError;
    }
    r.PwmValue = roundToInt<std::uint16_t>(pwm);
    r.StatusFlags = status;
    // Both output terminals follow the PWM through this unit's true curves.
    output_ = unit_.outputAt(r.PwmValue);

    r.WorkingMinutes =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(memory_.workingMs / 60000, UINT32_MAX));
    r.CalibrationYear = memory_.calibrationYear;
    r.CalibrationMonth = memory_.calibrationMonth;
    r.CalibrationDay = memory_.calibrationDay;
    const double temperature = measureTemperature();
    if (temperature > -200.0) {
        if (!memory_.temperatureRecorded) {
            memory_.temperatureRecorded = true;
            memory_.temperatureMin = memory_.temperatureMax = temperature;
        }
        memory_.temperatureMin = std::min(memory_.temperatureMin, temperature);
        memory_.temperatureMax = std::max(memory_.temperatureMax, temperature);
    }
    r.Temperature = temperature;
    r.TemperatureMin = memory_.temperatureRecorded ? memory_.temperatureMin : temperature;
    r.TemperatureMax = memory_.temperatureRecorded ? memory_.temperatureMax : temperature;
    r.uADSamples = kSamplesPerSecond;
    r.ErrorNumber = 0;
    r.DeviceInputLow = memory_.inputLow;
    r.DeviceInputHigh = memory_.inputHigh;
    r.DeviceOutputLow = memory_.outputLow;
    r.DeviceOutputHigh = memory_.outputHigh;
    r.ReservedSingle = signal; // the applied signal itself, for diagnosis
    r.iTypeOfInstrument = config_.variant;
    r.ModbusProtocol = memory_.modbusProtocol;
    r.ModbusParity = memory_.modbusParity;
    r.ModbusBaudRate = memory_.modbusBaudRate;
    r.ModbusAddress = memory_.modbusAddress;
    return r;
}

} // namespace vx::sim
