#pragma once
// The automatic output and input calibrations as state machines without I/O. Their inputs are what
// the bench reports (settled meter readings, fresh converter readings, the procedure's state); their
// outputs are what an engineer would do at the window (set the PWM value, press a check point, press
// Next, press the store button) and what the engineer would do at the bench (set the calibrator).
// Whoever drives them (the window, a test, a benchmark) carries each command out and reports back.
#include "app/ServicePages.h"
#include "instrument/codes.h"
#include "station/scpi.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::station {

// ---------------------------------------------------------------------------------------------------
// Output calibration

// A wizard step that looks for a PWM value, and what the meter must read there.
struct OutputTarget {
    int step;
    Quantity quantity;
    double target;      // amperes or volts
    double nominalFull; // the output at full PWM as designed: the first guess
};
extern const std::array<OutputTarget, 4> kOutputTargets;

struct OutputCommand {
    enum class Kind { SetPwm, Check, Next, Store, Finished, Failed };
    Kind kind = Kind::Failed;
    int pwm = 0;                           // SetPwm
    app::CheckPoint point{};               // Check
    Quantity quantity = Quantity::Current; // what to read after SetPwm or Check
    std::string error;                     // Failed

    OutputCommand() = default;
    OutputCommand(Kind k) : kind(k) {}
};

struct CheckResult {
    app::CheckPoint point;
    double expected = 0, measured = 0;
    double errorPercent = 0; // of the span between the two calibration points
};

class OutputAutoCalibration {
public:
    // checkTolerancePercent: how far a mid-point may be off, in % of its span.
    explicit OutputAutoCalibration(bool store, double checkTolerancePercent = 0.05);

    OutputCommand start();
    // The settled meter reading after the last SetPwm or Check took effect.
    OutputCommand reading(double value);
    // The last Next or Store has been carried out (and, for Store, acknowledged).
    OutputCommand done();

    int step() const { return step_; }         // the wizard's step, 1..7
    int readings() const { return readings_; } // meter readings taken so far
    const std::vector<CheckResult>& checks() const { return checks_; }

private:
    OutputCommand beginStep();
    OutputCommand set(int pwm);
    OutputCommand fail(std::string what);
    const OutputTarget& target() const;

    bool store_;
    double tolerance_;
    int step_ = 1;
    int readings_ = 0;
    enum class Phase { Secant, Refine, Final, Check, Idle } phase_ = Phase::Idle;
    int pwm_ = 0;
    std::optional<std::pair<int, double>> previous_; // secant: the other point
    std::pair<int, double> best_{0, 0.0};
    int dir_ = 1;
    double slopeSign_ = 1.0;
    double countStep_ = 0.0; // output change per count, as the secant saw it
    int iterations_ = 0;
    std::vector<CheckResult> checks_;
};

// ---------------------------------------------------------------------------------------------------
// Input calibration

// What the calibrator applies. Off leaves the inputs open; Short is 0 V applied (inputs joined).
struct SourceSetting {
    enum class Kind { Off, Short, Voltage, Current };
    Kind kind = Kind::Off;
    double value = 0.0; // volts or amperes
    bool operator==(const SourceSetting&) const = default;
};
// The setting a step's texts ask for: the instruction says what to connect, a full-scale heading ends
// in the reference ("0,2 V", "20 mA"). Refused (nothing, *error set) when the texts say nothing known
// or the level lies beyond the range's end: a source is never asked for more than the step allows.
std::optional<SourceSetting> sourceForStep(std::string_view heading, std::string_view instruction,
                                           const instrument::InputRange& range, std::string* error);
// The fourteen steps' settings, derived from the procedure's own texts.
const std::array<std::optional<SourceSetting>, app::kInputCalibrationSteps>& inputSignalTable();

struct InputCommand {
    enum class Kind { Source, Wait, Next, Store, Finished, Failed };
    Kind kind = Kind::Failed;
    SourceSetting source; // Source
    int channel = 1;      // Wait: the reading to deliver, 0 AdFiltered0, 1 AdFiltered1
    std::string error;    // Failed

    InputCommand() = default;
    InputCommand(Kind k, SourceSetting s = {}) : kind(k), source(s) {}
};

class InputAutoCalibration {
public:
    // settleCounts: two fresh readings in a row this close count as settled; maxReadings bounds the
    // wait for it.
    explicit InputAutoCalibration(bool store, std::int32_t settleCounts = 400, int maxReadings = 40);

    // The procedure shows a step (its InCalStep after a tick: a waiting state, or 0 after the closing).
    InputCommand shown(int inCalStep);
    // The source was set as asked.
    InputCommand sourceSet();
    // A fresh reading of the step's channel (one taken from a reply to a request sent after the
    // step's forcing and the source were in place).
    InputCommand reading(std::int32_t counts);
    // The store was acknowledged.
    InputCommand stored();

    int stepIndex() const { return index_; } // 0..13, 14 when closing

private:
    InputCommand fail(std::string what);

    bool store_;
    std::int32_t settle_;
    int maxReadings_;
    int index_ = -1;
    bool closing_ = false;
    std::optional<std::int32_t> last_;
    int count_ = 0;
};

} // namespace vx::station
