#pragma once
// The tool's sub-commands over one session, each giving one result: an exit status, a JSON object
// (stdout with --json) and the same in lines for a reader (stdout otherwise), plus a diagnostic for
// standard error when something went wrong.
#include "cli/Arguments.h"
#include "cli/InstrumentLink.h"

#include <QJsonObject>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vx::cli {

inline constexpr int kOutputVersion = 1;

struct Result {
    Exit status = Exit::Ok;
    QJsonObject object;             // the command's own fields
    std::vector<std::string> lines; // for a reader
    std::string error;              // for standard error; empty on success
};

// Lines that a command streams while it runs (watch), already formatted for the chosen output.
using Emit = std::function<void(const std::string& line)>;

class Session;

// Runs the command. `makeLink` makes the link to the instrument; `sessionReady` is told the session as
// soon as it exists (so a termination signal can reach it).
using LinkMaker = std::function<std::unique_ptr<InstrumentLink>()>;
Result runCommand(const Arguments& args, const LinkMaker& makeLink, const Emit& print,
                  const std::function<void(Session*)>& sessionReady);

// The versioned object that --json prints for a result.
QJsonObject resultObject(const Arguments& args, const Result& r);

// Shared by the commands.
struct Outcome;
QString qs(std::string_view s);
// A real as the single it travelled as, in its shortest form, so 0.1 is not 0.100000001490116.
QJsonValue number(double v);
Result failed(Exit status, std::string error);
Result fromOutcome(const Outcome& o);

} // namespace vx::cli
