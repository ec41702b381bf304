#pragma once
// The commands with a reference meter and source on the bench: the verification run, the automatic
// calibration, and the output check read by the meter. The instruments are the station's; the points,
// errors and verdicts are the records'.
#include "cli/Commands.h"
#include "station/scpi.h"

#include <optional>

namespace vx::instrument {
struct Reply;
}

namespace vx::cli {

class Session;

struct Bench {
    std::unique_ptr<station::ScpiInstrument> meter, source; // null where not asked for
};

// Connects the instruments the options name. A bad address or profile is Exit::Usage, one that cannot be
// connected Exit::PortUnavailable.
std::optional<Result> openBench(const Arguments& args, Bench* bench);

Result verify(const Arguments& args, Session& s, const instrument::Reply& first, Bench& bench);
Result calibrate(const Arguments& args, Session& s, const instrument::Reply& first, Bench& bench);

// check with a meter: the reading of a point the unit drives, its error and verdict, into `point`.
// False with the meter's failure in *r.
bool meterPoint(const Arguments& args, Bench& bench, const instrument::Reply& reply, int percent,
                QJsonObject* point, bool* passed, Result* r);

} // namespace vx::cli
