#pragma once
// The calibration records of the bench commands: the same history, product profile and certificate
// folder as the window's (unless the options name others), a record started from the unit's first
// reply and refused before any run where the window would refuse to save it, and the certificate
// written from a saved record.
#include "cli/Commands.h"
#include "records/history.h"
#include "records/profile.h"

#include <optional>

namespace vx::instrument {
struct Reply;
}

namespace vx::cli {

struct RecordPlan {
    records::Profile profile; // tolerances and decision rule
    records::Run run;         // unit, engineer, references, rule; points and constants come from the run
    std::unique_ptr<records::History> history; // open; none with --no-record
};

// The product profile the options name, else the window's.
records::Profile profileFor(const Arguments& args);

// Loads the profile and, unless --no-record, opens the history and starts the record: a record the
// history would refuse (no engineer or reference, an overdue one) is refused now, before the unit is
// touched (Exit::Usage).
std::optional<RecordPlan> planRecord(const Arguments& args, const instrument::Reply& first, Result* problem);

// Saves the finished run unless --no-record, and puts the record (its points and verdicts, the id and
// certificate number once saved) into the result. A record that cannot be saved is Exit::NotConfirmed.
void finishRecord(const Arguments& args, RecordPlan& plan, Result& r);

// The certificate command: a record from the history as PDF, JSON and CSV.
Result writeCertificate(const Arguments& args);

} // namespace vx::cli
