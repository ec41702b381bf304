#include "sim/model.h"

#include "instrument/codes.h"
#include "samples.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace vx::sim;
using namespace vx::instrument;
using std::chrono::milliseconds;

namespace {

ModelConfig quietConfig(double signal) {
    ModelConfig c;
    c.signal.low = c.signal.high = signal;
    c.noiseCounts = 0.0;
    return c;
}

Request baseRequest() {
    return vx::test::sampleRequest();
}

// Drives the model as the poll cycle does, one request every 60 ms.
struct Driver {
    InstrumentModel model;
    milliseconds now{0};
    explicit Driver(const ModelConfig& c, const Memory& m = factoryMemory(0)) : model(c, m) {}
    Reply send(const Request& q) {
        now += milliseconds{60};
        return model.handle(q, now);
    }
    // Polls until the converter's filter has settled on a new signal, as the operator waits.
    Reply settle(const Request& q) {
        for (int i = 0; i < 50; ++i)
            send(q);
        return send(q);
    }
};

} // namespace

TEST(SimModel, FreshInstrumentReportsFactoryStateAndIdentity) {
    ModelConfig c = quietConfig(12.0);
    c.firmwareYear = 2015;
    c.firmwareMonth = 2;
    c.firmwareDay = 27;
    c.variant = kVariantModbus;
    Driver d(c, factoryMemory(kVariantModbus));
    const Reply r = d.send(baseRequest());
    EXPECT_EQ(firmwareVersion(r.FirmwareYear, r.FirmwareMonth, r.FirmwareDay), 20150227u);
    EXPECT_EQ(r.iTypeOfInstrument, kVariantModbus);
    EXPECT_EQ(r.StatusFlags, kStatusInputUncalibrated | kStatusOutputUncalibrated);
    EXPECT_EQ(r.AcknowledgeFlags, 0);
    EXPECT_EQ(r.DataSourceRam1, kSourceFactory);
    EXPECT_EQ(r.DataSourceRam2, kSourceFactory);
    EXPECT_EQ(r.CalibrationYear, 0);
    EXPECT_EQ(r.DeviceInputLow, -25.0);
    EXPECT_EQ(r.DeviceInputHigh, 25.0);
    EXPECT_EQ(r.DeviceOutputHigh, 22.0);
    EXPECT_EQ(r.InputTypeCode, kTypeCurrent);
    EXPECT_EQ(r.ModbusParity, 1);
    EXPECT_EQ(r.ModbusBaudRate, 2);
    EXPECT_EQ(r.uADSamples, kSamplesPerSecond);
    EXPECT_EQ(r.InputRangeIndex, kCurrentRange);
    EXPECT_EQ(r.ReservedSingle, 12.0);
    EXPECT_EQ(factoryMemory(kVariantAnalog).inputLow, 0.0);
}

TEST(SimModel, StoredSettingsReadBackAndUnknownCodesKeepTheStoredValue) {
    Driver d(quietConfig(1.0));
    Request q = baseRequest();
    q.InputTypeCode = kTypeVoltage;
    q.OutputTypeCode = kTypeVoltage;
    q.EditInputLow = -10.0;
    q.EditInputHigh = 0.1;
    q.EditOutputLow = 0.0;
    q.EditOutputHigh = 10.0;
    q.ModbusProtocol = 1;
    q.ModbusParity = 2;
    q.ModbusBaudRate = 5;
    q.ModbusAddress = 247;
    // Without the command nothing is stored.
    Reply r = d.send(q);
    EXPECT_EQ(r.InputTypeCode, kTypeCurrent);
    EXPECT_EQ(r.DeviceInputHigh, 22.0);
    q.CommandFlags = kCmdStoreSettings;
    r = d.send(q);
    EXPECT_EQ(r.AcknowledgeFlags, kCmdStoreSettings);
    EXPECT_EQ(r.InputTypeCode, kTypeVoltage);
    EXPECT_EQ(r.OutputTypeCode, kTypeVoltage);
    EXPECT_EQ(r.DeviceInputLow, -10.0);
    EXPECT_EQ(r.DeviceInputHigh, 0.1);
    EXPECT_EQ(r.DeviceOutputHigh, 10.0);
    EXPECT_EQ(r.ModbusProtocol, 1);
    EXPECT_EQ(r.ModbusParity, 2);
    EXPECT_EQ(r.ModbusBaudRate, 5);
    EXPECT_EQ(r.ModbusAddress, 247);
    EXPECT_TRUE(d.model.takeMemoryDirty());
    EXPECT_FALSE(d.model.takeMemoryDirty());

    q.InputTypeCode = 7;
    q.EditInputLow = std::nan("");
    q.EditOutputHigh = 5.0;
    q.ModbusParity = 3;
    q.ModbusAddress = 248;
    r = d.send(q);
    EXPECT_EQ(r.AcknowledgeFlags, kCmdStoreSettings);
    EXPECT_EQ(r.InputTypeCode, kTypeVoltage);
    EXPECT_EQ(r.DeviceInputLow, -10.0);
    EXPECT_EQ(r.DeviceOutputHigh, 5.0);
    EXPECT_EQ(r.ModbusParity, 2);
    EXPECT_EQ(r.ModbusAddress, 247);
}

TEST(SimModel, CalibrationStoresClearTheUncalibratedBitsAndDateTheCalibration) {
    Driver d(quietConfig(4.0));
    Request q = baseRequest();
    q.CommandFlags = kCmdStoreInputCalibration;
    Reply r = d.send(q);
    EXPECT_EQ(r.AcknowledgeFlags, kCmdStoreInputCalibration);
    EXPECT_EQ(r.StatusFlags & (kStatusInputUncalibrated | kStatusOutputUncalibrated),
              kStatusOutputUncalibrated);
    EXPECT_EQ(r.CalibrationYear, 2014);
    EXPECT_EQ(r.CalibrationMonth, 3);
    EXPECT_EQ(r.CalibrationDay, 15);
    q.CommandFlags = kCmdStoreOutputCalibration;
    q.uOut4mA = 11000;
    q.uOut20mA = 54000;
    r = d.send(q);
    EXPECT_EQ(r.AcknowledgeFlags, kCmdStoreOutputCalibration);
    EXPECT_EQ(r.StatusFlags & (kStatusInputUncalibrated | kStatusOutputUncalibrated), 0);
    EXPECT_EQ(d.model.memory().out4mA, 11000);
    EXPECT_EQ(d.model.memory().out20mA, 54000);
    // Bits 0 and 2 carry no command and are never acknowledged; several commands at once all are.
    q.CommandFlags = 0xFF & ~kCmdClearFramRestart;
    r = d.send(q);
    EXPECT_EQ(r.AcknowledgeFlags, 0xFF & kCommandMask & ~kCmdClearFramRestart);
}

TEST(SimModel, RestartAndFramClear) {
    Driver d(quietConfig(4.0));
    Request q = baseRequest();
    q.CommandFlags = kCmdStoreSettings | kCmdStoreInputCalibration;
    q.EditInputHigh = 30.0;
    d.send(q);
    q.CommandFlags = kCmdRestart;
    Reply r = d.send(q);
    EXPECT_EQ(r.AcknowledgeFlags, kCmdRestart);
    EXPECT_EQ(r.ReservedByte, 1);
    EXPECT_EQ(r.DataSourceRam1, kSourceFram1);
    EXPECT_EQ(r.DataSourceRam2, kSourceFram2);
    EXPECT_EQ(r.DeviceInputHigh, 30.0);

    d.now += milliseconds{120'000};
    q.CommandFlags = kCmdClearFramRestart;
    r = d.send(q);
    EXPECT_EQ(r.AcknowledgeFlags, kCmdClearFramRestart);
    EXPECT_EQ(r.ReservedByte, 2);
    EXPECT_EQ(r.DataSourceRam1, kSourceFactory);
    EXPECT_EQ(r.DeviceInputHigh, 22.0);
    EXPECT_EQ(r.CalibrationYear, 0);
    EXPECT_EQ(r.WorkingMinutes, 0u);
    EXPECT_NE(r.StatusFlags & kStatusInputUncalibrated, 0);
    EXPECT_EQ(d.model.memory(), [&] {
        Memory m = factoryMemory(0);
        m.temperatureRecorded = true;
        m.temperatureMin = d.model.memory().temperatureMin;
        m.temperatureMax = d.model.memory().temperatureMax;
        return m;
    }());
    EXPECT_TRUE(d.model.takeMemoryDirty());
}

TEST(SimModel, WorkingMinutesAndTemperatureMinimumAndMaximum) {
    ModelConfig c = quietConfig(4.0);
    c.noiseCounts = 40.0;
    Memory m = factoryMemory(0);
    m.workingMs = 59'000;
    InstrumentModel model(c, m);
    Request q = baseRequest();
    Reply r = model.handle(q, milliseconds{5'000});
    EXPECT_EQ(r.WorkingMinutes, 0u);
    r = model.handle(q, milliseconds{6'000});
    EXPECT_EQ(r.WorkingMinutes, 1u);
    double lowest = 1e9, highest = -1e9;
    for (int s = 0; s <= 240; s += 10) { // the board temperature drifts over a few minutes
        r = model.handle(q, milliseconds{6'000 + s * 1000});
        lowest = std::min(lowest, r.Temperature);
        highest = std::max(highest, r.Temperature);
        EXPECT_LE(r.TemperatureMin, r.Temperature);
        EXPECT_GE(r.TemperatureMax, r.Temperature);
    }
    EXPECT_EQ(r.WorkingMinutes, 5u);
    EXPECT_GT(highest - lowest, 1.0);
    EXPECT_LE(r.TemperatureMin, lowest);
    EXPECT_GE(r.TemperatureMax, highest);
    q.CommandFlags = kCmdClearTemperatureMinMax;
    r = model.handle(q, milliseconds{250'000});
    EXPECT_EQ(r.AcknowledgeFlags, kCmdClearTemperatureMinMax);
    EXPECT_EQ(r.TemperatureMin, r.Temperature);
    EXPECT_EQ(r.TemperatureMax, r.Temperature);

    c.temperature = -250.0; // no sensor
    InstrumentModel bare(c, m);
    EXPECT_LE(bare.handle(q, milliseconds{0}).Temperature, -200.0);
}

TEST(SimModel, ForcingCodesShowInGainsDividerAndRange) {
    Driver d(quietConfig(0.3));
    Request q = baseRequest();
    q.GainForceCode = gainForceCode(4, true); // Au = 8 on CH1
    q.DividerForceCode = dividerForceCode(3);
    Reply r = d.send(q);
    EXPECT_EQ(r.GainCh1, 8);
    EXPECT_EQ(r.GainCh0, 1);
    EXPECT_EQ(r.uDivider, 2);
    EXPECT_EQ(r.InputRangeIndex, 5); // the maximum division's own range, at eight times its gain
    // Each range the input calibration forces through channel, divider and gain is recognised.
    const struct {
        int channel, divider, gain, range;
    } steps[] = {{1, 1, 2, 0}, {1, 1, 1, 1}, {1, 2, 1, 2}, {1, 2, 2, 3},
                 {1, 3, 3, 4}, {1, 3, 1, 5}, {0, 3, 1, 6}};
    for (const auto& s : steps) {
        q.GainForceCode = gainForceCode(s.gain, s.channel == 1);
        q.DividerForceCode = dividerForceCode(s.divider);
        r = d.send(q);
        EXPECT_EQ(r.InputRangeIndex, s.range) << s.range;
        EXPECT_EQ(s.channel == 1 ? r.GainCh1 : r.GainCh0, 1 << (s.gain - 1)) << s.range;
        EXPECT_EQ(r.uDivider, s.divider - 1) << s.range;
    }
    q.GainForceCode = 0;
    q.DividerForceCode = 0;
    q.RangeForceCode = rangeForceCode(4); // "10 V"
    r = d.send(q);
    EXPECT_EQ(r.InputRangeIndex, 3);
    EXPECT_EQ(r.GainCh1, 2);
    EXPECT_EQ(r.uDivider, 1);
    q.RangeForceCode = 0x87; // no such range: forcing is ignored
    r = d.send(q);
    EXPECT_EQ(r.InputRangeIndex, kCurrentRange);
}

TEST(SimModel, CalibratedInputMatchesTheSignalAndTheStoredScale) {
    // Take the calibration pairs as the configurator's procedure does: shorted input, then the
    // reference, on each range's forced path.
    Driver d(quietConfig(0.0));
    Request q = baseRequest();
    for (std::size_t k = 0; k < kCalibrationPairs; ++k) {
        q.RangeForceCode = rangeForceCode(static_cast<int>(k) + 1);
        d.model.setSignal(Signal{Signal::Shape::Constant, 0.0, 0.0, 1.0});
        Reply r = d.settle(q);
        q.Low[k] = k == kCurrentRange ? r.AdFiltered0 : r.AdFiltered1;
        const double ref = kInputRanges[k].referenceValue;
        d.model.setSignal(Signal{Signal::Shape::Constant, ref, ref, 1.0});
        r = d.settle(q);
        q.High[k] = k == kCurrentRange ? r.AdFiltered0 : r.AdFiltered1;
    }
    // A unit calibrated at the factory holds exactly what the procedure measures.
    const Memory factory = calibratedMemory(d.model.unit(), kVariantAnalog, 2014, 10, 6);
    for (std::size_t k = 0; k < kCalibrationPairs; ++k) {
        EXPECT_NEAR(factory.low[k], q.Low[k], 1) << k;
        EXPECT_NEAR(factory.high[k], q.High[k], 1) << k;
    }
    EXPECT_TRUE(factory.inputCalibrated && factory.outputCalibrated);
    EXPECT_EQ(factory.calibrationYear, 2014);
    q.RangeForceCode = 0;
    d.model.setSignal(Signal{Signal::Shape::Constant, 12.0, 12.0, 1.0});
    const Reply before = d.settle(q);
    EXPECT_GT(std::fabs(before.InputValue - 12.0), 0.01); // this unit reads off until calibrated
    q.CommandFlags = kCmdStoreInputCalibration | kCmdStoreSettings;
    Reply r = d.send(q);
    EXPECT_NEAR(r.InputValue, 12.0, 1e-5);
    EXPECT_NEAR(r.ScaleFraction, (12.0 - 4.0) / 16.0, 1e-6);
    EXPECT_NEAR(r.OutputFraction, r.ScaleFraction, 1e-12);
    EXPECT_EQ(r.StatusFlags & kStatusInputRangeError, 0);

    q.CommandFlags = kCmdStoreSettings;
    q.InputTypeCode = kTypeVoltage;
    q.EditInputLow = -10.0;
    q.EditInputHigh = 10.0;
    const struct {
        double volts;
        int range;
    } autoRanges[] = {{0.15, 0}, {-0.4, 1}, {2.0, 2}, {7.5, 3}, {-45.0, 4}, {100.0, 5}};
    for (const auto& a : autoRanges) {
        d.model.setSignal(Signal{Signal::Shape::Constant, a.volts, a.volts, 1.0});
        r = d.settle(q);
        EXPECT_EQ(r.InputRangeIndex, a.range) << a.volts;
        EXPECT_NEAR(r.InputValue, a.volts, std::fabs(a.volts) * 1e-5) << a.volts;
        EXPECT_EQ(r.StatusFlags & kStatusInputRangeError, 0) << a.volts;
    }
    EXPECT_EQ(r.ScaleFraction, 1.0); // beyond the scale end the bar stays full
    d.model.setSignal(Signal{Signal::Shape::Constant, 130.0, 130.0, 1.0});
    r = d.send(q);
    EXPECT_NE(r.StatusFlags & kStatusInputRangeError, 0);
}

TEST(SimModel, OutputFollowsForcedPwmOutputCheckOrTheInput) {
    Driver d(quietConfig(12.0));
    Request q = baseRequest();
    q.CommandFlags = kCmdStoreSettings | kCmdStoreOutputCalibration;
    q.uOut4mA = 10000;
    q.uOut20mA = 50000;
    d.send(q);
    q.CommandFlags = 0;
    q.uPWMForce = 30000; // 12 mA by this calibration
    Reply r = d.send(q);
    EXPECT_EQ(r.PwmValue, 30000);
    EXPECT_NEAR(r.OutputFraction, 0.5, 1e-9);
    q.uPWMForce = 0;
    q.DirectControl = 255;
    q.OutputCheckPercent = 100;
    r = d.send(q);
    EXPECT_EQ(r.OutputFraction, 1.0);
    EXPECT_EQ(r.PwmValue, 50000);
    q.OutputCheckPercent = 25;
    r = d.send(q);
    EXPECT_EQ(r.PwmValue, 20000);
    q.DirectControl = 0;
    r = d.send(q);
    EXPECT_NEAR(r.OutputFraction, r.ScaleFraction, 1e-12);
    q.DirectControl = 255;
    q.OutputCheckPercent = 200; // beyond 100 % the output check stops at the scale end
    EXPECT_EQ(d.send(q).OutputFraction, 1.0);
}

TEST(SimModel, NoisyConverterFiltersAndStaysDeterministicPerSeed) {
    ModelConfig c = quietConfig(10.0);
    c.noiseCounts = 200.0;
    Driver a(c), b(c);
    double rawSpread = 0, filteredSpread = 0;
    Reply prev = a.send(baseRequest());
    EXPECT_EQ(b.send(baseRequest()), prev);
    for (int i = 0; i < 40; ++i) {
        const Reply r = a.send(baseRequest());
        EXPECT_EQ(b.send(baseRequest()), r);
        rawSpread += std::abs(r.AdRaw0 - prev.AdRaw0);
        filteredSpread += std::abs(r.AdFiltered0 - prev.AdFiltered0);
        prev = r;
    }
    EXPECT_GT(rawSpread, 0.0);
    EXPECT_LT(filteredSpread, rawSpread / 2);
}

TEST(SimModel, SignalShapesAndTheirOptionText) {
    Signal s;
    EXPECT_TRUE(parseSignal("12.5", &s));
    EXPECT_EQ(s.valueAt(100.0), 12.5);
    EXPECT_TRUE(parseSignal("sine:4:20:10", &s));
    EXPECT_NEAR(s.valueAt(0.0), 12.0, 1e-9);
    EXPECT_NEAR(s.valueAt(2.5), 20.0, 1e-9);
    EXPECT_TRUE(parseSignal("triangle:-1:1:4", &s));
    EXPECT_NEAR(s.valueAt(0.0), -1.0, 1e-9);
    EXPECT_NEAR(s.valueAt(2.0), 1.0, 1e-9);
    EXPECT_NEAR(s.valueAt(3.0), 0.0, 1e-9);
    for (const char* bad :
         {"", "x", "sine:4:20", "sine:4:20:0", "square:0:1:1", "sine:a:1:1", "nan", "sine:1:2:3:4"})
        EXPECT_FALSE(parseSignal(bad, &s)) << bad;
}

TEST(SimModel, OutputFollowsTheUnitsTrueCurvesAndItsTruePointsCalibrateIt) {
    for (std::uint32_t seed : {2207u, 1u, 90210u}) {
        SCOPED_TRACE(seed);
        ModelConfig c = quietConfig(12.0);
        c.seed = seed;
        Driver d(c);
        const Unit& unit = d.model.unit();
        const Memory truth = calibratedMemory(unit, kVariantAnalog, 2014, 10, 6);
        const Memory nominal = factoryMemory(kVariantAnalog);
        for (auto point : {&Memory::out4mA, &Memory::out20mA, &Memory::out2V, &Memory::out10V})
            EXPECT_GT(std::abs(truth.*point - nominal.*point), 100);

        // A forced PWM drives both terminals through the true curves, within the drivers' limits.
        Request q = baseRequest();
        for (std::uint16_t pwm : {1, 30000, 65535}) {
            q.uPWMForce = pwm;
            EXPECT_EQ(d.send(q).PwmValue, pwm);
            EXPECT_EQ(d.model.output().pwm, pwm);
            EXPECT_EQ(d.model.output().currentMa, unit.current.at(pwm));
            EXPECT_EQ(d.model.output().voltageV, unit.voltage.at(pwm));
        }
        EXPECT_EQ(d.model.output().currentMa, kOutputLimitMa);
        EXPECT_EQ(d.model.output().voltageV, kOutputLimitV);

        // The output check at 0..100 % of the scale misses before the store and hits after it.
        const struct {
            std::uint8_t type;
            double low, high;
            double OutputLevel::*terminal;
        } outputs[] = {{kTypeCurrent, 4.0, 20.0, &OutputLevel::currentMa},
                       {kTypeVoltage, 2.0, 10.0, &OutputLevel::voltageV}};
        q.uPWMForce = 0;
        q.DirectControl = 255;
        for (const auto& o : outputs) {
            auto worstError = [&] {
                double worst = 0.0;
                for (std::uint8_t percent = 0; percent <= 100; percent += 25) {
                    q.OutputCheckPercent = percent;
                    d.send(q);
                    const double want = o.low + (o.high - o.low) * percent / 100.0;
                    worst = std::max(worst, std::fabs(d.model.output().*o.terminal - want));
                }
                return worst / (o.high - o.low);
            };
            q.CommandFlags = kCmdStoreSettings | kCmdClearFramRestart; // back to nominal constants
            q.OutputTypeCode = o.type;
            q.EditOutputLow = o.low;
            q.EditOutputHigh = o.high;
            EXPECT_NE(d.send(q).StatusFlags & kStatusOutputUncalibrated, 0);
            q.CommandFlags = 0;
            EXPECT_GT(worstError(), 0.001);
            q.CommandFlags = kCmdStoreOutputCalibration;
            q.uOut4mA = truth.out4mA;
            q.uOut20mA = truth.out20mA;
            q.uOut2V = truth.out2V;
            q.uOut10V = truth.out10V;
            const Reply r = d.send(q);
            EXPECT_EQ(r.AcknowledgeFlags, kCmdStoreOutputCalibration);
            EXPECT_EQ(r.StatusFlags & kStatusOutputUncalibrated, 0);
            q.CommandFlags = 0;
            EXPECT_LT(worstError(), 0.001);
        }
    }
}

TEST(SimModel, InputReadsOffUntilTheReadingsOfTheForcedPathsAreStored) {
    // The configurator's input calibration forces, per pair: channel, divider item, gain item.
    const struct {
        bool ch1;
        int divider, gain;
    } pairs[kCalibrationPairs] = {{true, 1, 2}, {true, 1, 1}, {true, 2, 1}, {true, 2, 2},
                                  {true, 3, 3}, {true, 3, 1}, {false, 3, 1}};
    for (std::uint32_t seed : {2207u, 5u}) {
        SCOPED_TRACE(seed);
        ModelConfig c; // with the converter's noise
        c.seed = seed;
        Driver d(c);
        Request q = baseRequest();
        auto apply = [&](double v) { d.model.setSignal(Signal{Signal::Shape::Constant, v, v, 1.0}); };
        auto measure = [&](std::size_t range, double v) {
            q.RangeForceCode = rangeForceCode(static_cast<int>(range) + 1);
            apply(v);
            return d.settle(q).InputValue;
        };
        for (std::size_t k = 0; k < kCalibrationPairs; ++k) {
            const double ref = kInputRanges[k].referenceValue;
            EXPECT_GT(std::fabs(measure(k, ref) - ref), 0.001 * ref) << k;
        }
        q.RangeForceCode = 0;
        for (std::size_t k = 0; k < kCalibrationPairs; ++k) {
            q.GainForceCode = gainForceCode(pairs[k].gain, pairs[k].ch1);
            q.DividerForceCode = dividerForceCode(pairs[k].divider);
            apply(0.0);
            Reply r = d.settle(q);
            EXPECT_EQ(r.InputRangeIndex, k);
            q.Low[k] = pairs[k].ch1 ? r.AdFiltered1 : r.AdFiltered0;
            apply(kInputRanges[k].referenceValue);
            r = d.settle(q);
            q.High[k] = pairs[k].ch1 ? r.AdFiltered1 : r.AdFiltered0;
        }
        q.GainForceCode = q.DividerForceCode = 0;
        q.CommandFlags = kCmdStoreInputCalibration;
        const Reply stored = d.send(q);
        EXPECT_EQ(stored.AcknowledgeFlags, kCmdStoreInputCalibration);
        EXPECT_EQ(stored.StatusFlags & kStatusInputUncalibrated, 0);
        q.CommandFlags = 0;
        for (std::size_t k = 0; k < kCalibrationPairs; ++k) {
            const double ref = kInputRanges[k].referenceValue;
            for (double share : {-0.9, 0.05, 0.95})
                EXPECT_NEAR(measure(k, share * ref), share * ref, 0.0005 * ref) << k << " at " << share;
        }
    }
}
