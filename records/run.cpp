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

std::optional<Reference> referenceFromIdentity(std::string_view identity) {
    std::vector<std::string> fields;
    for (std::size_t start = 0;;) {
        const std::size_t comma = identity.find(',', start);
        std::string_view f = identity.substr(start, comma == std::string_view::npos ? comma : comma - start);
        while (!f.empty() && std::isspace(static_cast<unsigned char>(f.front())))
            f.remove_prefix(1);
        while (!f.empty() && std::isspace(static_cast<unsigned char>(f.back())))
            f.remove_suffix(1);
        fields.emplace_back(f);
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (fields.size() < 3 || fields[1].empty() || fields[2].empty()) return std::nullopt;
    Reference r;
    r.model = fields[0].empty() ? fields[1] : fields[0] + " " + fields[1];
    r.serial = fields[2];
    return r;
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
