#pragma once
// The trend's value axes: round ends and ticks in 1-2-5 steps, and which quantities share an axis.
// Pure: no Qt.
#include <string>

namespace vx::app::tools {

struct AxisTicks {
    double lo = 0, hi = 1; // multiples of step
    double step = 0.2;     // 1, 2 or 5 times a power of ten
    int ticks = 6;         // lines drawn, both ends included

    bool operator==(const AxisTicks&) const = default;
};

// An axis that holds [lo, hi] with about `intervals` steps between round ends. A single value gets
// room around it; no values (lo > hi) or values that are not finite give 0..1.
AxisTicks niceAxis(double lo, double hi, int intervals = 5);

// Two quantities share one axis when they are in the same, known unit (input and output both in mA).
bool sharesAxis(const std::string& unitA, const std::string& unitB);

} // namespace vx::app::tools
