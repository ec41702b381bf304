// The link of this build: the port session the window's link panel shows, driven as a master. No panel,
// no widgets.
#include "cli/InstrumentLink.h"

#include "link/portsession.h"

#include <QObject>

#include <cerrno>

namespace vx::cli {
namespace {

class SessionLink final : public InstrumentLink {
public:
    explicit SessionLink(unsigned replyTimeoutMs) {
        session_.setRefreshOnStartup(false); // the list is built when a port is opened, not probed again
        mb::LinkEngine& e = session_.engine();
        e.setMBMasterTimeOut(static_cast<std::uint16_t>(std::min(replyTimeoutMs, 65535u)));
        e.setMBMasterCommandToSlave(instrument::kExchangeCommand);
        e.OnMBMasterEndOfEvent = [this](mb::TMBStatus s, const std::string& text) {
            if (!open_ || !onEnd) return;
            if (s != mb::stOK) return onEnd(std::nullopt, s == mb::stSlaveError, text);
            const mb::RxFrameBuffer& rx = session_.engine().rxBuffer();
            onEnd(instrument::decodeReply(std::span(rx.frame() + 3, rx.receivedNumber())), true, text);
        };
        QObject::connect(&session_, &TPortSession::lost, [this] {
            if (!open_) return;
            open_ = false;
            const std::string why = session_.portErrorText().toStdString();
            session_.close(); // a run of the tool ends with its port: no waiting for the device to return
            if (onLost) onLost(why.empty() ? "the port was lost" : why);
        });
    }
    ~SessionLink() override { SessionLink::close(); }

    bool open(const std::string& path, std::uint32_t baud, mb::port::OpenError* err) override {
        close();
        session_.setBaud(mb::baudFromRate(baud));
        open_ = session_.openPath(QString::fromStdString(path));
        if (!open_) {
            const std::string why = session_.portErrorText().toStdString();
            *err = mb::port::describeOpenError(path, ENOENT);
            if (!why.empty()) {
                err->kind = mb::port::OpenFailure::Other;
                err->reason = why;
            }
        }
        return open_;
    }

    void send(const instrument::Request& request, unsigned delayMs) override {
        mb::LinkEngine& e = session_.engine();
        if (!open_ || !e.MBPortOpen()) return;
        e.MBClearTXDataBuffer();
        for (const std::uint8_t b : instrument::encodeRequest(request))
            e.MBTXPutByte(b);
        e.MBMasterSend(static_cast<std::uint16_t>(delayMs));
    }

    void close() override {
        if (!open_) return;
        open_ = false; // a transaction under way ends with the port; nobody waits for that event
        session_.close();
    }

private:
    TPortSession session_;
    bool open_ = false;
};

} // namespace

std::unique_ptr<InstrumentLink> makeSerialLink(unsigned replyTimeoutMs) {
    return std::make_unique<SessionLink>(replyTimeoutMs);
}

} // namespace vx::cli
