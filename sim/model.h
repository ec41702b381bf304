#pragma once
// A model of the VX2207 instrument as the configurator sees it through the exchange: settings and
// calibration memory, the command handshake, forced output and test forcing, a measured signal with
// converter noise, this unit's own input and output errors, temperatures and working time. Pure: time comes
// in as an argument, noise from a seeded generator, so tests drive it with explicit requests and explicit
// time.
#include "instrument/exchange.h"
#include "sim/unit.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>

namespace vx::sim {

// The measured input, in the unit of the range in use (volts, milliamperes on the current range).
struct Signal {
    enum class Shape { Constant, Sine, Triangle };
    Shape shape = Shape::Constant;
    double low = 12.0; // the constant value, or the waveform's bottom
    double high = 12.0;
    double periodSeconds = 20.0;

    double valueAt(double seconds) const;
};
// "12.5", "sine:LOW:HIGH:PERIOD" or "triangle:LOW:HIGH:PERIOD" (period in seconds, above 0).
bool parseSignal(std::string_view text, Signal* out);

struct ModelConfig {
    std::uint16_t firmwareYear = 2014;
    std::uint8_t firmwareMonth = 10;
    std::uint8_t firmwareDay = 6;
    std::uint8_t variant = 0; // iTypeOfInstrument
    Signal signal;
    double noiseCounts = 40.0; // standard deviation of the converter noise
    double temperature = 24.0; // around which the board temperature drifts; -200 or less: no sensor
    std::uint32_t seed = 2207; // of the noise, and of this unit's own errors (Unit::fromSeed)
};

// What the instrument keeps in its FRAM, and so what --state keeps between runs.
struct Memory {
    std::uint8_t inputType = 100;
    std::uint8_t outputType = 100;
    double inputLow = 0.0;
    double inputHigh = 22.0;
    double outputLow = 0.0;
    double outputHigh = 22.0;
    std::uint8_t modbusProtocol = 0;
    std::uint8_t modbusParity = 1;
    std::uint8_t modbusBaudRate = 2;
    std::uint8_t modbusAddress = 0;
    bool inputCalibrated = false;
    bool outputCalibrated = false;
    std::array<std::int32_t, instrument::kCalibrationPairs> low{};
    std::array<std::int32_t, instrument::kCalibrationPairs> high{};
    std::uint16_t out4mA = 0;
    std::uint16_t out20mA = 0;
    std::uint16_t out2V = 0;
    std::uint16_t out10V = 0;
    std::uint16_t calibrationYear = 0;
    std::uint8_t calibrationMonth = 0;
    std::uint8_t calibrationDay = 0;
    bool temperatureRecorded = false;
    double temperatureMin = 0.0;
    double temperatureMax = 0.0;
    std::uint64_t workingMs = 0;
    bool written = false; // something was stored since the last FRAM clear (else factory data is in use)

    bool operator==(const Memory&) const = default;
};
// The factory state of a variant: scale defaults as the configurator's factory button sets them,
// nominal calibration constants, nothing recorded.
Memory factoryMemory(std::uint8_t variant);
// The factory state after the maker's calibration: the unit's true input and output constants
// stored, calibration dated year-month-day.
Memory calibratedMemory(const Unit& unit, std::uint8_t variant, std::uint16_t year, std::uint8_t month,
                        std::uint8_t day);

inline constexpr std::uint16_t kSamplesPerSecond = 50;

class InstrumentModel {
public:
    // framError: the memory could not be read back (a broken state file); reported until the FRAM
    // is cleared or written again.
    InstrumentModel(const ModelConfig& config, const Memory& memory, bool framError = false);

    // Carries out one request at monotonic time now and builds the reply.
    instrument::Reply handle(const instrument::Request& request, std::chrono::milliseconds now);

    // The signal now applied to the input (the operator switching the calibrator). The converter
    // takes such a step as it takes a path change: it restarts its filter, so without noise the
    // next reply's filtered readings already hold the new signal.
    void setSignal(const Signal& signal);
    const Memory& memory() const { return memory_; }
    const Unit& unit() const { return unit_; }
    // What the output terminals carry since the last reply (PWM 0 before the first).
    const OutputLevel& output() const { return output_; }
    // True once after each change that should be saved at once (stores, FRAM clear).
    bool takeMemoryDirty();
    unsigned restarts() const { return restarts_; }

private:
    struct Path {
        int channel = 1; // 0 = current input, 1 = voltage input
        int divider = 0; // CH1 divider level 0..2
        int gain = 1;
        bool operator==(const Path&) const = default;
    };
    struct Channel {
        Path path;
        double raw = 0.0;
        double filtered = 0.0;
        bool primed = false;
    };

    void advanceTime(std::chrono::milliseconds now);
    void carryOut(const instrument::Request& request);
    void restart();
    Path pathOf(int range) const;
    void resolvePaths(const instrument::Request& request, double signal, Path* active, int* range,
                      double* gainRatio) const;
    double trueCounts(const Path& path, double signal) const;
    void restartFilters();
    void sample(double signal, const Path& active);
    double toInputValue(int range, double counts, double gainRatio) const;
    double pwmFor(double outputValue) const;
    double outputFromPwm(double pwm) const;
    double measureTemperature();

    ModelConfig config_;
    Unit unit_;
    OutputLevel output_;
    Memory memory_;
    bool framError_ = false;
    bool dirty_ = false;
    unsigned restarts_ = 0;
    std::uint8_t sourceRam1_ = 0;
    std::uint8_t sourceRam2_ = 0;
    std::mt19937 random_;
    std::normal_distribution<double> noise_{0.0, 1.0};
    bool started_ = false;
    std::chrono::milliseconds last_{0};
    std::chrono::milliseconds origin_{0};
    double sampleDebt_ = 0.0; // converter samples due but not yet taken
    std::array<Channel, 2> channels_{};
};

} // namespace vx::sim
