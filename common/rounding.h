#pragma once
// Rounding of real numbers to integers: nearest, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
// Values that are not finite become 0 and values beyond the target range saturate, so no caller
// can reach an undefined conversion.
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace vx {

inline double roundHalfEven(double v) {
    if (!std::isfinite(v)) return 0.0;
    const double r = std::round(v);
    // std::round takes halves away from zero; step back where that lands on an odd neighbour.
    if (std::fabs(v - std::trunc(v)) == 0.5 && std::fmod(r, 2.0) != 0.0) return r - std::copysign(1.0, v);
    return r;
}

template <typename Int = int>
Int roundToInt(double v) {
    const double r = roundHalfEven(v);
    if (r <= static_cast<double>(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
    if (r >= static_cast<double>(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
    return static_cast<Int>(r);
}

} // namespace vx
