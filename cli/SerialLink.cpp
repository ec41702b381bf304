// The smallest driver of the link on its existing pieces: the serial port, the receive thread and the
// link engine as a master, with plain timers. No panel, no widgets.
#include "cli/InstrumentLink.h"

#include "link/commthread.h"
#include "link/core/linkengine.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstring>
#include <vector>

namespace vx::cli {
namespace {

class SerialLink final : public InstrumentLink, private mb::LinkHost {
public:
    explicit SerialLink(unsigned replyTimeoutMs) : engine_(*this) {
        for (QTimer* t : {&timeOut_, &delayedSend_}) {
            t->setSingleShot(true);
            t->setTimerType(Qt::PreciseTimer);
        }
        QObject::connect(&timeOut_, &QTimer::timeout,
                         [this] { engine_.timerExpired(mb::LinkTimer::TimeOut); });
        QObject::connect(&delayedSend_, &QTimer::timeout,
                         [this] { engine_.timerExpired(mb::LinkTimer::DelayedSend); });
        engine_.setMBMasterTimeOut(static_cast<std::uint16_t>(std::min(replyTimeoutMs, 65535u)));
        engine_.setMBMasterCommandToSlave(instrument::kExchangeCommand);
        engine_.OnMBMasterEndOfEvent = [this](mb::TMBStatus s, const std::string& text) { ended(s, text); };
    }
    ~SerialLink() override { SerialLink::close(); }

    bool open(const std::string& path, std::uint32_t baud, mb::port::OpenError* err) override {
        close();
        engine_.setMBBaud(mb::baudFromRate(baud));
        engine_.portOpening();
        if (!serial_.open(path, {baud, 8192, 8192}, err)) {
            engine_.portOpenFailed();
            return false;
        }
        thread_ = std::make_unique<TCommThread>(serial_);
        if (const int error = thread_->setUpError()) {
            thread_.reset();
            serial_.close();
            engine_.portOpenFailed();
            *err = mb::port::describeOpenError(path, error);
            return false;
        }
        thread_->connectCallbacks(
            [this](std::span<const std::uint8_t> b) {
                if (open_) engine_.bytesReceived(b.data(), b.size());
            },
            [this](int error) { lost(error); });
        writable_ = std::make_unique<QSocketNotifier>(serial_.fd(), QSocketNotifier::Write);
        writable_->setEnabled(false);
        QObject::connect(writable_.get(), &QSocketNotifier::activated, [this] {
            serial_.flush();
            writable_->setEnabled(serial_.pendingOutput() > 0);
        });
        open_ = true;
        thread_->start();
        engine_.portOpened();
        return true;
    }

    void send(const instrument::Request& request, unsigned delayMs) override {
        if (!open_) return;
        engine_.MBClearTXDataBuffer();
        for (const std::uint8_t b : instrument::encodeRequest(request))
            engine_.MBTXPutByte(b);
        engine_.MBMasterSend(static_cast<std::uint16_t>(delayMs));
    }

    void close() override {
        if (!open_) return;
        open_ = false;
        quiet_ = true; // closing ends a transaction under way; nobody waits for that event
        engine_.portClosing();
        quiet_ = false;
        stopPort();
    }

private:
    void stopPort() {
        thread_->disconnectCallbacks();
        thread_->stop();
        // This may run inside the thread's own hand-over (a loss): delete it later.
        thread_.release()->deleteLater();
        writable_.reset();
        outgoing_.clear();
        serial_.close();
        timeOut_.stop();
        delayedSend_.stop();
    }

    void ended(mb::TMBStatus s, const std::string& text) {
        if (quiet_ || !onEnd) return;
        if (s != mb::stOK) return onEnd(std::nullopt, text);
        const mb::RxFrameBuffer& rx = engine_.rxBuffer();
        onEnd(instrument::decodeReply(std::span(rx.frame() + 3, rx.receivedNumber())), text);
    }

    void lost(int error) {
        if (!open_) return;
        open_ = false;
        quiet_ = true;
        engine_.portClosing();
        quiet_ = false;
        stopPort();
        const std::string why = error ? std::strerror(error) : "the device hung up";
        if (onLost) onLost("the port was lost: " + why + " (unplugged, or the far end closed)");
    }

    // mb::LinkHost
    bool write(const std::uint8_t* data, std::size_t size) override {
        if (!open_) return false;
        outgoing_.insert(outgoing_.end(), data, data + size);
        return true;
    }
    void writesDone() override {
        if (!open_ || outgoing_.empty()) return;
        serial_.write(outgoing_);
        outgoing_.clear();
        if (serial_.pendingOutput() > 0) writable_->setEnabled(true);
    }
    void startTimer(mb::LinkTimer t, unsigned ms) override {
        const int interval = static_cast<int>(std::min(ms, 0x7fffffffu));
        if (t == mb::LinkTimer::TimeOut) timeOut_.start(interval);
        if (t == mb::LinkTimer::DelayedSend) delayedSend_.start(interval);
    }
    void stopTimer(mb::LinkTimer t) override {
        if (t == mb::LinkTimer::TimeOut) timeOut_.stop();
        if (t == mb::LinkTimer::DelayedSend) delayedSend_.stop();
    }

    mb::LinkEngine engine_;
    mb::port::SerialPort serial_;
    std::unique_ptr<TCommThread> thread_;
    std::unique_ptr<QSocketNotifier> writable_;
    std::vector<std::uint8_t> outgoing_;
    QTimer timeOut_, delayedSend_;
    bool open_ = false;
    bool quiet_ = false;
};

} // namespace

std::unique_ptr<InstrumentLink> makeSerialLink(unsigned replyTimeoutMs) {
    return std::make_unique<SerialLink>(replyTimeoutMs);
}

} // namespace vx::cli
