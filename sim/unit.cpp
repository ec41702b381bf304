#include "sim/unit.h"

#include <algorithm>
#include <cmath>

namespace vx::sim {
namespace in = vx::instrument;
namespace {

// splitmix64: a small generator whose output is the same with every standard library.
class Draws {
public:
    explicit Draws(std::uint32_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // A magnitude in [low, high), positive or negative.
    double deviation(double low, double high) {
        const std::uint64_t x = next();
        const double u = static_cast<double>(x >> 11) * 0x1.0p-53;
        return (x & 1 ? -1.0 : 1.0) * (low + (high - low) * u);
    }

private:
    std::uint64_t state_;
};

// Offset and gain of one output line. They err the same way, so the errors never cancel at a
// calibration point and each of the four calibration PWM values differs from nominal.
OutputCurve outputCurve(Draws& d, double nominalFullScale, double limit) {
    const double gain = d.deviation(0.01, 0.04);
    const double offset = std::copysign(std::fabs(d.deviation(0.005, 0.02)), gain) * nominalFullScale;
    return {offset, nominalFullScale * (1.0 + gain), limit};
}

} // namespace

double OutputCurve::at(double pwm) const {
    const double v = std::clamp(offset + fullScale * pwm / 65535.0, 0.0, limit);
    return v + 0.0; // never -0
}

double OutputCurve::pwmFor(double value) const {
    return (value - offset) / fullScale * 65535.0;
}

Unit Unit::fromSeed(std::uint32_t seed) {
    Draws d(seed);
    Unit u;
    for (std::size_t r = 0; r < in::kInputRangeCount; ++r) {
        u.inputOffsets[r] = std::round(d.deviation(300.0, 2500.0));
        u.inputGainErrors[r] = d.deviation(0.004, 0.015);
    }
    u.current = outputCurve(d, kNominalFullScaleMa, kOutputLimitMa);
    u.voltage = outputCurve(d, kNominalFullScaleV, kOutputLimitV);
    return u;
}

double Unit::inputCounts(int range, double signal) const {
    return inputOffsets[range] +
           signal / in::kInputRanges[range].referenceValue * kNominalSpan * (1.0 + inputGainErrors[range]);
}

OutputLevel Unit::outputAt(std::uint16_t pwm) const {
    return {pwm, current.at(pwm), voltage.at(pwm)};
}

} // namespace vx::sim
