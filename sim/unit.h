#pragma once
// One simulated unit's own analogue characteristics, which its calibration has to correct: the input
// front end's offset and gain per range, and the output stage's true PWM-to-output curves. Every
// unit differs a little from nominal, derived deterministically from its seed.
#include "instrument/codes.h"

#include <array>
#include <cstdint>

namespace vx::sim {

// The converter scaling the units are built around (see instrument/codes.h).
inline constexpr std::int32_t kNominalSpan = instrument::kNominalCalibrationSpan;
inline constexpr std::int32_t kFullScaleCounts = instrument::kConverterFullScale;

// The output stage: nominally PWM full scale gives 24 mA on the current output and 12 V on the
// voltage output; both are driven by the same PWM and limited by their drivers.
inline constexpr double kNominalFullScaleMa = 24.0;
inline constexpr double kNominalFullScaleV = 12.0;
inline constexpr double kOutputLimitMa = 22.0;
inline constexpr double kOutputLimitV = 10.5;

// What the output terminals carry at one PWM word, as a meter reads them.
struct OutputLevel {
    std::uint16_t pwm = 0;
    double currentMa = 0.0;
    double voltageV = 0.0;
};

// A straight PWM-to-output line, limited to 0 .. limit.
struct OutputCurve {
    double offset = 0.0;    // output at PWM 0 (the stage gives 0 where this is below 0)
    double fullScale = 0.0; // output change from PWM 0 to PWM 65535
    double limit = 0.0;
    double at(double pwm) const;
    // The PWM (fractional, unlimited) at which the line gives value.
    double pwmFor(double value) const;
};

struct Unit {
    std::array<double, instrument::kInputRangeCount> inputOffsets{};    // counts
    std::array<double, instrument::kInputRangeCount> inputGainErrors{}; // relative
    OutputCurve current{0.0, kNominalFullScaleMa, kOutputLimitMa};      // mA
    OutputCurve voltage{0.0, kNominalFullScaleV, kOutputLimitV};        // V

    // A unit exactly as designed.
    static Unit nominal() { return {}; }
    // A unit as built: every offset and gain a little off, the same for the same seed.
    static Unit fromSeed(std::uint32_t seed);

    // Converter counts of a range's own path with signal applied, before the converter's limits.
    double inputCounts(int range, double signal) const;
    OutputLevel outputAt(std::uint16_t pwm) const;
};

} // namespace vx::sim
