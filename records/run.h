#pragma once
// One calibration record: the unit as it reported itself, who worked on it, with which references and
// in what room, the points checked before (as found) and after (as left) the calibration, and the
// constants the calibration stored. Plain data, shared by the database, the exports and the window.
#include "instrument/exchange.h"
#include "records/verification.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vx::records {

struct Reference {
    std::string model, serial, certificate;
    std::string dueDate; // ISO date, yyyy-mm-dd
    bool operator==(const Reference&) const = default;
};
// True when the reference's due date lies before today (ISO date). A date that does not parse counts
// as passed: it cannot vouch for anything.
bool referenceExpired(const Reference& r, const std::string& today);
// A bench instrument's *IDN? answer ("maker,model,serial,firmware") as a reference: the maker and the
// model, and the serial. Nothing when it names no model or serial.
std::optional<Reference> referenceFromIdentity(std::string_view identity);

struct UnitInfo {
    std::string serial;
    std::string variant;         // "VX2207 V"
    std::string firmware;        // "V2014-10-06"
    std::string calibrationDate; // as the unit reports it, ISO; empty when never calibrated
    std::uint32_t workingMinutes = 0;
    std::optional<double> temperature, temperatureMin, temperatureMax; // °C
    bool operator==(const UnitInfo&) const = default;
};

// The unit as a reply reports it: variant, firmware, calibration date, working time, temperatures.
UnitInfo unitFromReply(const instrument::Reply& reply, std::string serial);

enum class Phase { AsFound, AsLeft };
std::string_view phaseKey(Phase p); // "as_found", "as_left"

struct Point {
    Phase phase = Phase::AsFound;
    CheckPoint check;
    double reference = 0.0;  // what the reference instrument read or applied
    double instrument = 0.0; // what the unit drove (its nominal) or measured
    Evaluation result;
    bool operator==(const Point&) const = default;
};
// A point from its check and its two values: the error is taken as the unit against the reference.
Point makePoint(Phase phase, const CheckPoint& check, double reference, double instrument,
                const Tolerances& tolerances, const DecisionRule& rule);

// Constants a calibration stored, as the instrument acknowledged them.
struct StoredConstants {
    enum class Kind { Output, Input };
    Kind kind = Kind::Output;
    std::vector<std::int64_t> values; // uOut4mA, uOut20mA, uOut2V, uOut10V, or Low1..7 then High1..7
    std::string acknowledged;         // ISO date and time (UTC) of the acknowledging reply
    bool operator==(const StoredConstants&) const = default;
};

struct Run {
    std::int64_t id = 0;                  // 0 until saved
    std::string certificate;              // unique, given when saved
    std::optional<std::int64_t> replaces; // the record this one corrects
    std::string created;                  // ISO date and time (UTC)
    bool trial = false;                   // a trial run may use overdue references; it is never a certificate
    UnitInfo unit;
    std::string engineer;
    std::optional<double> ambient; // °C
    std::vector<Reference> references;
    DecisionRule rule;
    std::vector<Point> points;
    std::vector<StoredConstants> constants;
    bool operator==(const Run&) const = default;

    bool has(Phase p) const;
    // Why the run cannot stand as a certificate on the ISO date given (no engineer, no reference, a
    // reference overdue); empty when it can, and always for a trial run, which says what it is.
    std::string certificateRefusal(const std::string& onDate) const;
    // Every point passed (and there is at least one).
    bool passed(Phase p) const;
};

} // namespace vx::records
