#include "app/CommandGuard.h"

namespace vx::app {

CommandRelease CommandGuard::portOpened() {
    open_ = true;
    answering_ = false;
    return CommandRelease::PortOpened;
}

CommandRelease CommandGuard::portClosed() {
    open_ = false;
    answering_ = false;
    return CommandRelease::PortClosed;
}

CommandRelease CommandGuard::transactionEnded(Outcome outcome) {
    if (!open_) return CommandRelease::None;
    switch (outcome) {
    case Outcome::Reply:
        answering_ = true;
        return CommandRelease::None;
    case Outcome::BadAnswer:
        // Something answered, just not well: the same unit is still there; the command is repeated.
        return CommandRelease::None;
    case Outcome::NoReply:
        // Every try went unanswered: the unit may have been unplugged from a port that stays open,
        // and whatever answers next may be another one.
        answering_ = false;
        return CommandRelease::Silent;
    }
    return CommandRelease::None;
}

} // namespace vx::app
