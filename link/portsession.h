#pragma once
// TPortSession: one port and the link on it, without a window. Owns the byte channel, the receive
// thread, the link engine and the port's life (closed, opening, open, lost and waiting, reconnecting:
// see link/core/portlife.h), and publishes what a panel shows as signals. The link panel TMB is one
// view of it; a front end without widgets drives it directly.
#include "link/core/linkengine.h"
#include "link/core/portlife.h"
#include "link/pendingopen.h"
#include "link/portdiscovery.h"
#include "link/portopen.h"
#include "link/serialport_posix.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class QSocketNotifier;
class QTimer;
class TCommThread;
class TPortWatch;
class THolderScan;
class TPreciseTimer;

class TNetReconnect;

class TPortSession : public QObject, private mb::LinkHost {
    Q_OBJECT
public:
    using State = mb::port::LifeState;
    enum class PortLamp : std::uint8_t { Off, Open, Failed };

    explicit TPortSession(QObject* parent = nullptr);
    ~TPortSession() override;

    mb::LinkEngine& engine() { return engine_; }
    const mb::LinkEngine& engine() const { return engine_; }
    State state() const { return state_; }

    // ---- Port settings ----
    QString port() const { return port_; }
    void setPort(const QString& p) { port_ = p; }
    QString lastUsedPort() const { return lastUsedPort_; }
    void setLastUsedPort(const QString& p) { lastUsedPort_ = p; }
    void setBaud(mb::TMBBaud b);
    std::uint32_t queueIn() const { return queueIn_; }
    void setQueueIn(std::uint32_t n) { queueIn_ = n; }
    std::uint32_t queueOut() const { return queueOut_; }
    void setQueueOut(std::uint32_t n) { queueOut_ = n; }
    bool refreshOnStartup() const { return refreshOnStartup_; }
    void setRefreshOnStartup(bool v) { refreshOnStartup_ = v; }
    bool thereWasOpenEvent() const { return thereWasOpenEvent_; }
    void setThereWasOpenEvent(bool v) { thereWasOpenEvent_ = v; }

    // The port's channel: the demo's simulator, the recent network addresses, the connect's bound.
    mb::port::AnyPort& channel() { return serial_; }

    // ---- Port list ----
    const std::vector<mb::port::PortEntry>& portEntries() const { return entries_; }
    // The entry Open would open; -1 when the list is empty.
    int chosenRow() const { return chosen_; }
    // The user picked an entry: it becomes the remembered port.
    void choose(int row);
    // Rebuilds the list as the Refresh button does.
    void refreshPortList();
    // A scan for the holders of busy ports is under way (off this thread).
    bool scanningHolders() const;

    // ---- The port's life ----
    // Opens the chosen entry (the Open button pressed down). A network address is connected off this
    // thread: the session stays Opening until the connect succeeds or fails, and Close cancels it.
    void open();
    // Closes the port, stops waiting for a lost one, or gives up an open under way; nothing happens
    // while closed.
    void close();
    // Someone who must reach the device once more before a close asked for while the port is open (a
    // run that leaves it unforced). It returns true to hold the close and then calls `proceed` once,
    // from the event loop, which closes it; a second Close meanwhile closes at once.
    using CloseHold = std::function<bool(std::function<void()> proceed)>;
    void setCloseHold(CloseHold hold) { closeHold_ = std::move(hold); }
    // Picks `port` (a path or a by-id link; the list is refreshed when it is not there) and opens it,
    // waiting for a network connect to end. Returns whether the port is open afterwards.
    bool openPort(const QString& port);
    // The same without waiting, as a window does: false when the port is neither open nor opening.
    bool beginOpenPort(const QString& port);
    // Opens the device at `path` as given, listed or not (a path from a command line); the list is not
    // consulted. Returns whether the port is open afterwards.
    bool openPath(const QString& path);
    // Why the last open failed or the device was lost; empty after a successful open.
    QString portErrorText() const { return portError_; }
    // The lost port awaited, by its remembered name; empty when not waiting.
    QString waitingForPort() const { return waiting() ? waitingFor_ : QString(); }
    PortLamp portLamp() const { return portLamp_; }
    QString portLampTip() const { return portLampTip_; }

    // One sentence below the panel: why the port is not open, waiting, reconnected. `good` for the
    // reconnected message, `tip` the engineer's version.
    struct Notice {
        QString text, tip;
        bool good = false;
    };
    const Notice& notice() const { return notice_; }

signals:
    void stateChanged(TPortSession::State state);
    // The port's life as seen from outside, each raised once the change is complete (after the
    // engine's own events): a user or program opened it; it was closed on request; the device was lost
    // (whether the session waits for it or not); it came back and the link runs again.
    void opened();
    void closed();
    void lost();
    void reconnected();
    // Raised after every open, close, loss and reconnect, with whether the engine's open state changed.
    void openCloseFinished(bool changed);

    void portListChanged();
    void chosenRowChanged(int row);
    void refreshing(bool active); // a user-level refresh begins or ends (busy cursor)
    void portLampChanged();
    void noticeChanged();
    void setUpDue(); // the first statistics tick: time for the panel's deferred set-up
    void baudChanged();

    // The engine's panel effects.
    void txFlashed();
    void rxFlashed();
    void txLampCleared();
    void lampsCleared();
    void statusChanged();
    void attemptChanged(int attempt);
    void countersUpdated();
    void speedUpdated();
    void modeUpdated();

private:
    // mb::LinkHost
    bool write(const std::uint8_t* data, std::size_t size) override;
    void writesDone() override;
    void startTimer(mb::LinkTimer t, unsigned ms) override;
    void stopTimer(mb::LinkTimer t) override;
    void flashTx() override { emit txFlashed(); }
    void flashRx() override { emit rxFlashed(); }
    void txLampOff() override { emit txLampCleared(); }
    void lampsReset() override;
    void statusShown(mb::TMBStatus status, const std::string& text) override;
    void attemptShown(std::uint8_t attempt) override { emit attemptChanged(attempt); }
    void countersChanged() override { emit countersUpdated(); }
    void speedChanged() override { emit speedUpdated(); }
    void modeChanged() override { emit modeUpdated(); }

    // Moves the life on by the table; false (and nothing changes) when the event does not apply.
    bool advance(mb::port::LifeEvent event);
    bool waiting() const { return state_ == State::LostWaiting || state_ == State::Reconnecting; }
    bool linkOpened() const { return thread_ != nullptr; }

    void rebuildPortList();
    void portsChanged();
    void closeSequence(bool wasWaiting);
    void openFinished(const mb::port::PortInfo& chosen, bool wasOpen, const mb::port::OpenError* failed);
    void startPendingOpen(const mb::port::PortInfo& info);
    void connectFinished();
    void dropPendingOpen();
    bool startLink(const QString& path, mb::port::OpenError* err);
    bool startThread(const QString& path, mb::port::OpenError* err);
    void stopLink();
    void tryReconnect();
    void reconnectFinished(const mb::port::PortInfo& back, const mb::port::ProbeResult* failed);
    void stopWaiting();
    void updateNotice();
    void finish(bool wasOpen, void (TPortSession::*outcome)());
    void bytesArrived(std::span<const std::uint8_t> bytes);
    void deviceLost(int error);
    void setPortLamp(PortLamp lamp, const QString& tip);

    mb::LinkEngine engine_{*this};
    State state_ = State::Closed;
    CloseHold closeHold_;
    bool closeHeld_ = false;   // a held close is pending: the next close goes through
    mb::port::AnyPort serial_; // a device, a network port or the demo instrument
    TNetReconnect* netReconnect_;
    mb::port::RoundTrip roundTrip_; // over a network port, shown below the panel
    QString roundTripText_;
    bool onNetwork() const { return mb::port::isNetworkAddress(port_.toStdString()); }
    std::unique_ptr<TCommThread> thread_; // exists while the link runs on the port
    // A network open under way (Opening, or Reconnecting a lost network port) and the entry it opens.
    std::unique_ptr<mb::port::PendingOpen> pendingOpen_;
    QSocketNotifier* pendingNotifier_ = nullptr;
    mb::port::PortInfo pendingInfo_;
    QSocketNotifier* writeNotifier_ = nullptr;
    std::vector<std::uint8_t> outgoing_; // the frame being written, handed to the port when complete
    TPortWatch* watch_;
    THolderScan* holderScan_;
    std::vector<mb::port::PortEntry> entries_;
    int chosen_ = -1;
    // While the engine handles an input (bytes read, a time-out due): when that input happened. A pause
    // asked for meanwhile counts from then, not from whenever the handling (a display) got round to it.
    std::optional<std::chrono::steady_clock::time_point> inputAt_;

    QString port_ = QStringLiteral("COM1");
    QString lastUsedPort_;
    mb::port::PortInfo portInfo_; // the open port: after a loss, what must come back
    QString waitingFor_;          // its remembered name, while waiting for it
    QString portError_;
    QString failureNotice_; // the last failed open or loss in one sentence; cleared by an open
    QString waitNotice_;
    QString reconnectNotice_;
    Notice notice_;
    PortLamp portLamp_ = PortLamp::Off;
    QString portLampTip_;
    std::uint32_t queueIn_ = 8192;
    std::uint32_t queueOut_ = 8192;
    bool refreshOnStartup_ = true;
    bool thereWasOpenEvent_ = false;

    TPreciseTimer* timeOutTimer_;
    TPreciseTimer* delayedSendTimer_;
    QTimer* statisticsTimer_;
    QTimer* noticeTimer_; // how long "reconnected" stays
};
