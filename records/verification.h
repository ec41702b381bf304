#pragma once
// The arithmetic of a verification run, without Qt and without I/O: which points a check visits, the
// error of each in percent of span, the tolerance of its signal type and the verdict under the
// decision rule. The database, the certificates and the window all take their numbers from here.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::records {

// Signal types with a tolerance of their own.
enum class Quantity { OutputCurrent, OutputVoltage, InputMillivolt, InputVolt, InputCurrent };
inline constexpr std::size_t kQuantityCount = 5;
// "output_current", "output_voltage", "input_mv", "input_v", "input_ma": the profile's keys, the JSON's
// names.
std::string_view quantityKey(Quantity q);
std::optional<Quantity> quantityFromKey(std::string_view key);

// Tolerances in percent of span. The defaults are the product's data-sheet accuracy: the output to
// 0.1 % of its scale, every input range to 0.05 % of its span (-limit .. +limit).
struct Tolerances {
    std::array<double, kQuantityCount> percent{0.1, 0.1, 0.05, 0.05, 0.05};
    double of(Quantity q) const { return percent[static_cast<std::size_t>(q)]; }
};

// Simple acceptance: a point passes when its error is within the tolerance. Guarded acceptance: within
// the tolerance less the guard band (both in percent of span), so a point near the limit fails rather
// than pass on the strength of the reference's own uncertainty.
struct DecisionRule {
    enum class Kind { Simple, GuardBand };
    Kind kind = Kind::Simple;
    double guardBand = 0.0; // percent of span, used by GuardBand only
    bool operator==(const DecisionRule&) const = default;
};
// "simple" or "guard-band 0.02" (percent of span); nullopt for anything else.
std::string ruleText(const DecisionRule& rule);
std::optional<DecisionRule> parseRule(std::string_view text);

enum class Verdict { Pass, Fail, Invalid };
std::string_view verdictKey(Verdict v); // "pass", "fail", "invalid"
std::optional<Verdict> verdictFromKey(std::string_view key);

struct Evaluation {
    double errorPercent = 0.0; // (measured - expected) / span * 100: positive when the unit is high
    double limit = 0.0;        // the acceptance limit the error was held against
    Verdict verdict = Verdict::Invalid;
    bool operator==(const Evaluation&) const = default;
};
// Invalid for a span that is not above 0, a tolerance below 0 or any number that is not finite.
Evaluation evaluate(double expected, double measured, double span, double tolerance,
                    const DecisionRule& rule);

// One point a check visits.
struct CheckPoint {
    Quantity quantity = Quantity::OutputCurrent;
    int range = -1;       // input range index (InputRangeIndex), -1 on the output
    int percent = 0;      // output: of the configured scale; input: of the range's reference signal
    double nominal = 0.0; // output: what the unit is told to drive; input: the signal to apply
    double span = 0.0;    // of the scale or the range, in the unit below
    std::string unit;     // "mA", "V"
    bool operator==(const CheckPoint&) const = default;
};
// Five points (0, 25, 50, 75, 100 %) over the configured output scale; none for a scale without span.
std::vector<CheckPoint> outputPlan(std::uint8_t outputTypeCode, double low, double high);
// For each input range a signal of the configured scale goes through: -100, 0, 50 and 100 % of the
// range's reference signal. A current input uses the current range only.
std::vector<CheckPoint> inputPlan(std::uint8_t inputTypeCode, double low, double high);

} // namespace vx::records
