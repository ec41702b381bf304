#include "records/verification.h"

#include "instrument/codes.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vx::records {
namespace in = vx::instrument;
namespace {
constexpr std::array<std::string_view, kQuantityCount> kQuantityKeys{"output_current", "output_voltage",
                                                                     "input_mv", "input_v", "input_ma"};
constexpr std::array<std::string_view, 3> kVerdictKeys{"pass", "fail", "invalid"};
constexpr std::string_view kGuardBand = "guard-band ";

std::optional<double> parseNumber(std::string_view s) {
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}
} // namespace

std::string_view quantityKey(Quantity q) {
    return kQuantityKeys[static_cast<std::size_t>(q)];
}

std::optional<Quantity> quantityFromKey(std::string_view key) {
    const auto it = std::find(kQuantityKeys.begin(), kQuantityKeys.end(), key);
    if (it == kQuantityKeys.end()) return std::nullopt;
    return static_cast<Quantity>(it - kQuantityKeys.begin());
}

std::string_view verdictKey(Verdict v) {
    return kVerdictKeys[static_cast<std::size_t>(v)];
}

std::optional<Verdict> verdictFromKey(std::string_view key) {
    const auto it = std::find(kVerdictKeys.begin(), kVerdictKeys.end(), key);
    if (it == kVerdictKeys.end()) return std::nullopt;
    return static_cast<Verdict>(it - kVerdictKeys.begin());
}

std::string ruleText(const DecisionRule& rule) {
    if (rule.kind == DecisionRule::Kind::Simple) return "simple";
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, rule.guardBand);
    return std::string(kGuardBand) + std::string(buf, r.ptr);
}

std::optional<DecisionRule> parseRule(std::string_view text) {
    if (text == "simple") return DecisionRule{};
    if (!text.starts_with(kGuardBand)) return std::nullopt;
    const auto band = parseNumber(text.substr(kGuardBand.size()));
    if (!band || *band < 0) return std::nullopt;
    return DecisionRule{DecisionRule::Kind::GuardBand, *band};
}

Evaluation evaluate(double expected, double measured, double span, double tolerance,
                    const DecisionRule& rule) {
    Evaluation e;
    const double band = rule.kind == DecisionRule::Kind::GuardBand ? rule.guardBand : 0.0;
    if (!std::isfinite(expected) || !std::isfinite(measured) || !std::isfinite(span) || !(span > 0) ||
        !std::isfinite(tolerance) || !(tolerance >= 0) || !std::isfinite(band) || !(band >= 0))
        return e;
    e.errorPercent = (measured - expected) / span * 100.0;
    if (!std::isfinite(e.errorPercent)) {
        e.errorPercent = 0;
        return e;
    }
    e.limit = std::max(tolerance - band, 0.0);
    // A point exactly on the limit passes; the slack only absorbs the division's last-bit noise.
    e.verdict = std::fabs(e.errorPercent) <= e.limit * (1 + 1e-9) ? Verdict::Pass : Verdict::Fail;
    return e;
}

std::vector<CheckPoint> outputPlan(std::uint8_t outputTypeCode, double low, double high) {
    const bool voltage = outputTypeCode == in::kTypeVoltage;
    const double span = high - low;
    if (!std::isfinite(span) || !(span > 0)) return {};
    std::vector<CheckPoint> plan;
    for (int percent = 0; percent <= 100; percent += 25)
        plan.push_back({voltage ? Quantity::OutputVoltage : Quantity::OutputCurrent, -1, percent,
                        low + span * percent / 100.0, span, voltage ? "V" : "mA"});
    return plan;
}

std::vector<CheckPoint> inputPlan(std::uint8_t inputTypeCode, double low, double high) {
    std::size_t first = in::kCurrentRange, last = in::kCurrentRange;
    if (inputTypeCode == in::kTypeVoltage) {
        // The instrument measures on the smallest range that holds the signal, so a scale reaching
        // |x| uses every voltage range up to the one holding x.
        const double reach = std::max(std::fabs(low), std::fabs(high));
        first = 0;
        last = in::kCurrentRange - 1;
        for (std::size_t r = 0; r < in::kCurrentRange; ++r)
            if (std::isfinite(reach) && reach <= in::kInputRanges[r].limit) {
                last = r;
                break;
            }
    }
    std::vector<CheckPoint> plan;
    for (std::size_t r = first; r <= last; ++r) {
        const in::InputRange& range = in::kInputRanges[r];
        const Quantity q = r == in::kCurrentRange ? Quantity::InputCurrent
                           : r < 2                ? Quantity::InputMillivolt
                                                  : Quantity::InputVolt;
        for (int percent : {-100, 0, 50, 100})
            plan.push_back({q, static_cast<int>(r), percent, range.referenceValue * percent / 100.0,
                            2 * range.limit, r == in::kCurrentRange ? "mA" : "V"});
    }
    return plan;
}

} // namespace vx::records
