#include "app/CalibrationChecks.h"

#include "instrument/codes.h"

namespace vx::app {

namespace {
constexpr SpanBand bandAround(std::int32_t nominal) {
    return {nominal, nominal - nominal / 5, nominal + nominal / 5};
}
constexpr SpanBand kNominalBand = bandAround(instrument::kNominalCalibrationSpan);
} // namespace

// Every range's reference is scaled to the same nominal span, so the pairs share one band.
const std::array<SpanBand, instrument::kCalibrationPairs> kInputSpanBands{
    {kNominalBand, kNominalBand, kNominalBand, kNominalBand, kNominalBand, kNominalBand, kNominalBand}};

std::vector<OutputOrderProblem> implausibleOutputConstants(const OutputCalibrationValues& v) {
    std::vector<OutputOrderProblem> out;
    if (v.out4mA >= v.out20mA) out.push_back({"uOut4mA", v.out4mA, "uOut20mA", v.out20mA});
    if (v.out2V >= v.out10V) out.push_back({"uOut2V", v.out2V, "uOut10V", v.out10V});
    return out;
}

std::vector<InputSpanProblem> implausibleInputConstants(const CalibrationValues& low,
                                                        const CalibrationValues& high) {
    std::vector<InputSpanProblem> out;
    for (std::size_t k = 0; k < kInputSpanBands.size(); ++k) {
        // 64 bits: two extreme 32-bit readings have a span beyond 32.
        const std::int64_t span = std::int64_t{high[k]} - std::int64_t{low[k]};
        const SpanBand& band = kInputSpanBands[k];
        if (span < band.min || span > band.max)
            out.push_back({static_cast<int>(k) + 1, low[k], high[k], span, band});
    }
    return out;
}

} // namespace vx::app
