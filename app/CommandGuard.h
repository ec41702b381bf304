#pragma once
// Which command bits a request may carry, and when a pressed command has to come back up, without a
// window or a port: the window (or any other front end) reports the port's events and each
// transaction's outcome, and asks before every request.
//
// A command is meant for the unit that is answering now. So nothing is carried on a connection before
// it has given one good reply; every port event (open, close, loss, automatic reconnect) and a link
// that goes silent withdraws what was pending; and a command pressed while nothing answers is refused.
#include <cstdint>

namespace vx::app {

// Why commands were withdrawn or refused, for the window to say so.
enum class CommandRelease {
    None,
    PortOpened, // a new connection: what was pressed before belongs to no unit on it
    PortClosed, // closed or lost
    Silent,     // the link went unanswered
    NoAnswer    // pressed while no instrument answers
};

class CommandGuard {
public:
    // Each return the release to apply to every command that is down (None: nothing to release).
    CommandRelease portOpened();
    CommandRelease portClosed();
    // One transaction's outcome: a good reply, an answer that was not one (a slave error), or none.
    enum class Outcome { Reply, BadAnswer, NoReply };
    CommandRelease transactionEnded(Outcome outcome);

    // Whether a command pressed now may stay down.
    bool answering() const { return open_ && answering_; }
    // The bits the next request may carry of those pressed.
    std::uint8_t allowed(std::uint8_t pressed) const { return answering() ? pressed : 0; }

private:
    bool open_ = false;
    bool answering_ = false; // a good reply on this connection, and no silence since
};

} // namespace vx::app
