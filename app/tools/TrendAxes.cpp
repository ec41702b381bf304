#include "app/tools/TrendAxes.h"

#include <algorithm>
#include <cmath>

namespace vx::app::tools {

namespace {

// The smallest 1-2-5 step at least `raw`.
double roundStep(double raw) {
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw * (1 - 1e-9)) return m * power;
    return 10 * power;
}

} // namespace

AxisTicks niceAxis(double lo, double hi, int intervals) {
    // Beyond this a float's readings have no round ticks worth drawing; the default is safer.
    constexpr double kLargest = 1e30;
    if (!(lo <= hi) || !std::isfinite(lo) || !std::isfinite(hi) || std::fabs(lo) > kLargest ||
        std::fabs(hi) > kLargest)
        return {};
    intervals = std::clamp(intervals, 1, 20);
    if (hi - lo <= std::max(std::fabs(hi), std::fabs(lo)) * 1e-6) {
        const double room = std::max(std::fabs(hi) * 0.05, 0.5);
        lo -= room;
        hi += room;
    }
    double step = roundStep((hi - lo) / intervals);
    AxisTicks a;
    // Rounding the ends outwards may need one more step than asked; a larger step then keeps the count.
    for (int tries = 0; tries < 3; ++tries) {
        a.step = step;
        a.lo = std::floor(lo / step) * step;
        a.hi = std::ceil(hi / step) * step;
        a.ticks = static_cast<int>(std::lround((a.hi - a.lo) / step)) + 1;
        if (a.ticks <= intervals + 2) break;
        step = roundStep(step * 1.5);
    }
    // No "-0" at an end.
    if (a.lo == 0) a.lo = 0;
    if (a.hi == 0) a.hi = 0;
    return a;
}

bool sharesAxis(const std::string& unitA, const std::string& unitB) {
    return !unitA.empty() && unitA == unitB;
}

} // namespace vx::app::tools
