#pragma once
// The maker's service pages without a window: the output calibration wizard (PWM arithmetic, the
// seven steps, Next and Back), the input calibration procedure (fifteen states driven by a tick) and
// the test page's range-to-divider rule. Each procedure is a table of steps plus one function over
// it; the window only binds its controls to what these return.
#include "app/FreshReading.h"
#include "instrument/exchange.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vx::app {

// ---------------------------------------------------------------------------------------------------
// PWM value of the output calibration (0..65535 = 0..100 %)

inline constexpr int kPwmFull = 65535;

// The PWM word a forced output sends for an operator's value: the value, but never 0 (0 would hand
// the output back to the instrument).
std::uint16_t pwmForceOf(int value);
// Whole percent of the PWM scale, halves to even.
int pwmPercent(int value);
// The value a track bar position (0..100) stands for, halves to even.
int pwmFromTrackBar(int position);
// The mid-point of two values, halves to even.
int pwmMidpoint(int a, int b);

// The thirteen adjusting buttons: ten steps that saturate at 0 and 65535, then "0", "F" and "50 %".
struct PwmButton {
    const char* name;
    int delta;                // added to the value (saturating) when no fixed value is set
    std::optional<int> fixed; // the value the button sets
};
extern const std::array<PwmButton, 13> kPwmButtons;
int adjustPwm(int value, const PwmButton& button);

// ---------------------------------------------------------------------------------------------------
// Output calibration wizard

struct OutputCalibrationValues {
    int out4mA = 0, out20mA = kPwmFull, out2V = 0, out10V = kPwmFull;
};

enum class CheckPoint { I4mA, I12mA, I20mA, U2V, U6V, U10V };
int checkPointValue(CheckPoint point, const OutputCalibrationValues& v);

// What a step shows and where it puts the PWM when it is set up.
struct OutputCalibrationStep {
    bool next, back, adjusting, bar, pwmFrame;
    // The value recorded and preset by the step (null on the check and store steps).
    int OutputCalibrationValues::*value;
    const char* valueName; // "uOut4mA = "
    bool separator;        // the step's record starts with a separator line
    // The check point pressed on set-up of a check step.
    std::optional<CheckPoint> checkPoint;
    int backLines; // lines that Back from this step removes (those its Next-into added)
};
inline constexpr int kOutputCalibrationSteps = 7;
// Steps 1..7 at indexes 0..6.
extern const std::array<OutputCalibrationStep, kOutputCalibrationSteps> kOutputCalibrationStepTable;
const OutputCalibrationStep& outputCalibrationStep(int step);

inline constexpr const char* kCalibratedSeparator = "-------------------------------------------";

struct CalibratedLine {
    std::string text;
    bool separator = false; // a separator line goes first
};
// Next on a step (1..6): records the value being sent on a recording step and returns the lines to add;
// the wizard moves on to step + 1.
std::vector<CalibratedLine> outputCalibrationNext(int step, std::uint16_t pwmForce,
                                                  OutputCalibrationValues& v);

// ---------------------------------------------------------------------------------------------------
// Input calibration procedure

struct InputCalibrationRow {
    int state; // display state; the waiting state is state + 1
    ForceSelection force;
    const char* heading; // a full-scale step's heading ends in the range's reference text
    int instruction;     // T1..T8
    int channel;         // reading: 0 AdFiltered0, 1 AdFiltered1
    bool high;           // stored in High (else Low)
    int pair;            // 1..7
    int backTo;          // display state Back leads to; 0 where Back is hidden
};
inline constexpr int kInputCalibrationSteps = 14;
extern const std::array<InputCalibrationRow, kInputCalibrationSteps> kInputCalibrationTable;
inline constexpr int kInCalFirstState = 10;
inline constexpr int kInCalClosingState = 150;

std::string inputCalibrationHeading(const InputCalibrationRow& row);
const char* inputCalibrationInstruction(int number); // T1..T8
extern const char* const kInCalClosingHeading;
extern const char* const kInCalClosingInstruction;

struct InputCalibrationState {
    int step = 0; // InCalStep
    bool nextRequest = false, backRequest = false;
};

// What one tick asks of the window, in the order the window applies it: force selections, texts,
// button visibility, list lines (added before removed).
struct InputCalibrationEffects {
    std::optional<ForceSelection> force;
    std::optional<std::string> heading, instruction;
    std::optional<bool> nextVisible, backVisible, storeVisible;
    std::optional<std::string> addLine;
    bool removeLine = false;
    // Next is pending but there is no fresh reading to take yet (true), or no longer waits (false).
    std::optional<bool> waiting;
};

using CalibrationValues = std::array<std::int32_t, instrument::kCalibrationPairs>;
// One tick of the procedure; stores the fresh reading, if there is one, in low / high. Without one a
// pending Next waits; Back together with Next goes back and takes nothing, so the list and the values
// stay in step.
InputCalibrationEffects inputCalibrationTick(InputCalibrationState& s, const std::optional<Reading>& reading,
                                             CalibrationValues& low, CalibrationValues& high);
// The forcing the procedure sets in its state (display or waiting); none outside a step.
std::optional<ForceSelection> inputCalibrationForcing(int state);

// ---------------------------------------------------------------------------------------------------
// Test page

// The divider item that a "Range Force" item needs; none for "Force Off" (or an unknown item).
std::optional<int> dividerForRange(int rangeItem);

} // namespace vx::app
