#include "records/run.h"

#include "instrument/codes.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

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

UnitInfo unitFromReply(const instrument::Reply& r, std::string serial) {
    UnitInfo u;
    u.serial = std::move(serial);
    u.variant = std::string(instrument::variantCaption(r.iTypeOfInstrument));
    u.firmware = instrument::firmwareVersionText(
        instrument::firmwareVersion(r.FirmwareYear, r.FirmwareMonth, r.FirmwareDay));
    const std::chrono::year_month_day date{std::chrono::year(r.CalibrationYear),
                                           std::chrono::month(r.CalibrationMonth),
                                           std::chrono::day(r.CalibrationDay)};
    if (r.CalibrationYear != 0 && date.ok()) {
        char text[16];
        std::snprintf(text, sizeof text, "%04u-%02u-%02u", unsigned{r.CalibrationYear},
                      unsigned{r.CalibrationMonth}, unsigned{r.CalibrationDay});
        u.calibrationDate = text;
    }
    u.workingMinutes = r.WorkingMinutes;
    // -200 °C or below is the unit's way of saying it has no reading.
    const auto temperature = [](double t) { return t > -200 ? std::optional(t) : std::nullopt; };
    u.temperature = temperature(r.Temperature);
    u.temperatureMin = temperature(r.TemperatureMin);
    u.temperatureMax = temperature(r.TemperatureMax);
    return u;
}

std::string Run::certificateRefusal(const std::string& onDate) const {
    if (trial) return {};
    if (engineer.empty()) return "The engineer's name is missing.";
    if (references.empty()) return "No reference instrument is named.";
    for (const Reference& r : references)
        if (referenceExpired(r, onDate))
            return "Reference " + r.model + " (" + r.serial + ") was due on " + r.dueDate +
                   "; it cannot be used for a certificate.";
    return {};
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
