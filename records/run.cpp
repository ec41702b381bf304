#include "records/run.h"

#include <algorithm>
#include <cctype>

namespace vx::records {

bool referenceExpired(const Reference& r, const std::string& today) {
    const auto isoDate = [](const std::string& s) {
        return s.size() == 10 && s[4] == '-' && s[7] == '-' && std::all_of(s.begin(), s.end(), [](char c) {
                   return std::isdigit(static_cast<unsigned char>(c)) || c == '-';
               });
    };
    // ISO dates compare as text.
    return !isoDate(r.dueDate) || !isoDate(today) || r.dueDate < today;
}

std::string_view phaseKey(Phase p) {
    return p == Phase::AsFound ? "as_found" : "as_left";
}

Point makePoint(Phase phase, const CheckPoint& check, double reference, double instrument,
                const Tolerances& tolerances, const DecisionRule& rule) {
    const bool output = check.range < 0;
    // On the output the unit's value is the nominal it drives and the reference meter shows what it
    // really gives; on the input the reference is the truth and the unit's reading is measured.
    const double expected = output ? instrument : reference;
    const double measured = output ? reference : instrument;
    return {phase, check, reference, instrument,
            evaluate(expected, measured, check.span, tolerances.of(check.quantity), rule)};
}

bool Run::has(Phase p) const {
    return std::any_of(points.begin(), points.end(), [p](const Point& x) { return x.phase == p; });
}

bool Run::passed(Phase p) const {
    return has(p) && std::all_of(points.begin(), points.end(), [p](const Point& x) {
               return x.phase != p || x.result.verdict == Verdict::Pass;
           });
}

} // namespace vx::records
