#pragma once
// Whether a set of calibration constants can be right, before it is stored in an instrument: the
// output's PWM values in the order their targets require, and each input pair's span near the
// nominal converter scaling of its range. Without a window; the window asks before storing a set
// that fails.
#include "app/ServicePages.h"

#include <array>
#include <cstdint>
#include <vector>

namespace vx::app {

// Two output values whose targets are ordered (4 mA below 20 mA, 2 V below 10 V) but whose values
// are not.
struct OutputOrderProblem {
    const char* lowName; // "uOut4mA"
    int low;
    const char* highName; // "uOut20mA"
    int high;
};
std::vector<OutputOrderProblem> implausibleOutputConstants(const OutputCalibrationValues& v);

// The spans (High - Low, converter counts) a pair may have: its range's reference gives the nominal
// span on a unit as designed, and real front ends stay well within a fifth of it; a wrong reference
// (the neighbouring range's), a missing one or swapped leads lands far outside.
struct SpanBand {
    std::int32_t nominal, min, max;
};
extern const std::array<SpanBand, instrument::kCalibrationPairs> kInputSpanBands;

struct InputSpanProblem {
    int pair; // 1..7
    std::int32_t low, high;
    std::int64_t span;
    SpanBand band;
};
std::vector<InputSpanProblem> implausibleInputConstants(const CalibrationValues& low,
                                                        const CalibrationValues& high);

} // namespace vx::app
