#include "cli/Session.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vx::cli {

Session::Session(InstrumentLink& link, unsigned timeoutMs) : link_(link), timeoutMs_(timeoutMs) {
    deadline_.setSingleShot(true);
    QObject::connect(&deadline_, &QTimer::timeout, [this] {
        if (loop_) loop_->quit();
    });
    link_.onEnd = [this](const std::optional<instrument::Reply>& reply, bool answered,
                         const std::string& failure) {
        busy_ = false;
        const bool current = sentSerial_ == wantedSerial_;
        using O = app::CommandGuard::Outcome;
        const app::CommandRelease release = guard_.transactionEnded(reply      ? O::Reply
                                                                    : answered ? O::BadAnswer
                                                                               : O::NoReply);
        if (release != app::CommandRelease::None && waiting_ && wanted_.CommandFlags) {
            withdrawn_ = true;
            failure_ = "the command was withdrawn: no reply (" + failure + ")";
            if (loop_) loop_->quit();
            return;
        }
        if (reply) {
            haveReply_ = true;
            last_ = *reply;
            // A reply to a request sent before the one wanted now shows stale state: not an answer.
            if (waiting_ && current) got_ = reply;
        } else {
            failure_ = failure;
        }
        if (got_) {
            if (loop_) loop_->quit();
        } else if (waiting_ && deadline_.isActive()) {
            sendNow();
        }
    };
    link_.onLost = [this](const std::string& reason) {
        // Commands end with the connection: whatever was pressed is not carried into another one.
        guard_.portClosed();
        open_ = busy_ = haveReply_ = forced_ = false;
        lost_ = true;
        failure_ = reason;
        if (loop_) loop_->quit();
    };
}

Session::~Session() {
    link_.onEnd = nullptr;
    link_.onLost = nullptr;
    link_.close();
}

bool Session::open(const std::string& path, std::uint32_t baud, mb::port::OpenError* err) {
    open_ = link_.open(path, baud, err);
    if (open_) guard_.portOpened();
    sentOnce_ = haveReply_ = lost_ = false;
    return open_;
}

Outcome Session::exchange(app::RequestInputs in, bool keepEditor, unsigned timeoutMs) {
    // The PC's date, as the window sends it (the unit dates a stored calibration with it).
    in.today = app::localToday();
    if (!keepEditor && haveReply_) {
        in.editor = app::editorFromReply(last_);
        in.reported = {last_.InputTypeCode, last_.OutputTypeCode, last_.ModbusProtocol,
                       last_.ModbusParity,  last_.ModbusBaudRate, last_.ModbusAddress};
    }
    return request(app::buildRequestFields(in), timeoutMs);
}

Outcome Session::request(const instrument::Request& q, unsigned timeoutMs) {
    wanted_ = q;
    ++wantedSerial_;
    got_.reset();
    if (!open_ || lost_) return {Waited::Lost, {}, failure_.empty() ? "the port is not open" : failure_};
    if (interrupted_) return {Waited::Interrupted, {}, "interrupted"};
    failure_.clear();
    withdrawn_ = false;
    waiting_ = true;
    deadline_.start(static_cast<int>(timeoutMs ? timeoutMs : timeoutMs_));
    if (!busy_) sendNow();
    QEventLoop loop;
    loop_ = &loop;
    if (!got_ && !lost_ && !interrupted_ && !withdrawn_) loop.exec();
    loop_ = nullptr;
    waiting_ = false;
    deadline_.stop();
    if (got_) return {Waited::Reply, *got_, {}};
    if (lost_) return {Waited::Lost, {}, failure_};
    if (withdrawn_) return {Waited::Withdrawn, {}, failure_};
    if (interrupted_) return {Waited::Interrupted, {}, "interrupted"};
    return {Waited::TimedOut, {}, failure_.empty() ? "no reply" : "no reply (" + failure_ + ")"};
}

void Session::sendNow() {
    instrument::Request q = wanted_;
    q.CommandFlags = guard_.allowed(q.CommandFlags);
    // The test page's forcing counts too: the unit keeps the last request's path until the next one.
    forced_ = q.DirectControl != 0 || q.uPWMForce != 0 || q.GainForceCode != 0 || q.DividerForceCode != 0 ||
              q.RangeForceCode != 0;
    sentSerial_ = wantedSerial_;
    busy_ = true;
    // The poll cycle's pause between transactions; the first request goes at once, though never from
    // inside this call, so a send that fails at once cannot call back into it.
    link_.send(q, sentOnce_ ? 50 : 1);
    sentOnce_ = true;
}

void Session::close() {
    if (open_ && forced_) {
        // Even after Ctrl-C the unit is left unforced: one plain request, bounded by the time-out.
        interrupted_ = false;
        read();
    }
    open_ = false;
    guard_.portClosed();
    link_.close();
}

void Session::interrupt() {
    interrupted_ = true;
    if (onInterrupt) onInterrupt();
    if (loop_) loop_->quit();
}

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}
} // namespace

void onTerminationSignal(std::function<void()> handler) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [handler = std::move(handler)] {
        char buf[16];
        while (::read(signalPipe[0], buf, sizeof buf) > 0) {
        }
        handler();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

} // namespace vx::cli
