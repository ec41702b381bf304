#pragma once
// One connection to an instrument, driven step by step as a script reads: send a request, wait for the
// reply to that request, up to a deadline. It keeps the rules that protect the instrument whatever a
// command asks: the window's command rule (no command bit before the connection's first good reply, a
// command withdrawn on a loss or when the link goes unanswered) and a forced output released before the
// port closes, also on Ctrl-C.
#include "app/CommandGuard.h"
#include "app/Exchange.h"
#include "cli/InstrumentLink.h"

#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <optional>
#include <string>

namespace vx::cli {

enum class Waited { Reply, TimedOut, Lost, Interrupted, Withdrawn };

struct Outcome {
    Waited how = Waited::TimedOut;
    instrument::Reply reply; // valid for Waited::Reply
    std::string why;         // otherwise: the last failure
};

class Session {
public:
    Session(InstrumentLink& link, unsigned timeoutMs);
    ~Session(); // closes as close() does

    bool open(const std::string& path, std::uint32_t baud, mb::port::OpenError* err);

    // Sends the request these inputs make and waits for the reply to it, resending after failed
    // transactions, until timeoutMs (0: the session's) has passed. A command the rule withdraws ends the
    // wait at once (Waited::Withdrawn): it is not pressed again on whatever answers next. The editor's fields
    // are taken from the last good reply unless `keepEditor`, so no request ever carries settings nobody
    // chose.
    Outcome exchange(app::RequestInputs in, bool keepEditor = false, unsigned timeoutMs = 0);
    // A plain request: no command, no forcing.
    Outcome read() { return exchange({}); }
    // The request as it is (the bench run keeps the window's state itself); the command rule still holds.
    Outcome request(const instrument::Request& q, unsigned timeoutMs = 0);

    // Releases a forced output (one plain exchange, bounded) if the last request forced it, then closes.
    void close();

    // Ctrl-C and termination signals: the wait under way ends with Waited::Interrupted.
    void interrupt();
    bool interrupted() const { return interrupted_; }
    // Told of an interruption as well (a bench run stops at its next step).
    std::function<void()> onInterrupt;
    const instrument::Reply& lastReply() const { return last_; }

private:
    void sendNow();

    InstrumentLink& link_;
    unsigned timeoutMs_;
    QEventLoop* loop_ = nullptr;
    QTimer deadline_;
    app::CommandGuard guard_;
    bool open_ = false, busy_ = false, sentOnce_ = false, haveReply_ = false, forced_ = false;
    bool waiting_ = false, interrupted_ = false, lost_ = false, withdrawn_ = false;
    instrument::Request wanted_;
    std::uint64_t wantedSerial_ = 0, sentSerial_ = 0;
    std::optional<instrument::Reply> got_;
    instrument::Reply last_;
    std::string failure_;
};

// Calls `handler` in the event loop when SIGINT, SIGTERM or SIGHUP arrives (a second one as well).
void onTerminationSignal(std::function<void()> handler);

} // namespace vx::cli
