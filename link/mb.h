#pragma once
// TMB: the serial link component. A group box carrying its own panel (lamps, counters, port list,
// Open/Close, baud box) that owns one serial port, runs the link protocol engine on it in the GUI
// thread and receives through its TCommThread while the port is open.
#include "link/core/linkengine.h"
#include "link/portdiscovery.h"
#include "link/portopen.h"
#include "link/serialport_posix.h"

#include <QGroupBox>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QSocketNotifier;
class QTimer;
class TCommThread;
class TMBClickLabel;
class TMBShape;
class TNetReconnect;
class TPortWatch;
class TPreciseTimer;

class TMB : public QGroupBox, private mb::LinkHost {
    Q_OBJECT
public:
    explicit TMB(QWidget* parent = nullptr);
    ~TMB() override;

    // ---- Events (called only when set; no sender argument) ----
    std::function<void(mb::TMBStatus MBStatus, const std::string& MBStatusString)> OnMBMasterEndOfEvent;
    std::function<void(bool MBbPortOpen)> OnMBPortOpenedOrClosed;

    // ---- Port ----
    QString Port() const { return port_; }
    void setPort(const QString& p) { port_ = p; }
    // The port the user last picked or opened, as its by-id link where it has one. A port that is
    // missing from the list does not replace it.
    QString MBLastUsedPort() const { return lastUsedPort_; }
    void setMBLastUsedPort(const QString& p) { lastUsedPort_ = p; }
    mb::TMBBaud MBBaud() const { return engine_.MBBaud(); }
    void setMBBaud(mb::TMBBaud b);
    std::uint32_t WinQSizeIn() const { return queueIn_; }
    void setWinQSizeIn(std::uint32_t n) { queueIn_ = n; }
    std::uint32_t WinQSizeOut() const { return queueOut_; }
    void setWinQSizeOut(std::uint32_t n) { queueOut_ = n; }
    bool MBRefreshListOnStartup() const { return refreshOnStartup_; }
    void setMBRefreshListOnStartup(bool v) { refreshOnStartup_ = v; }
    bool MBPortOpen() const { return engine_.MBPortOpen(); }
    bool MBThereWasOpenEvent() const { return thereWasOpenEvent_; }
    void setMBThereWasOpenEvent(bool v) { thereWasOpenEvent_ = v; }
    // Closes the port as the Close button would, and stops waiting for a lost one to return; nothing
    // happens while it is closed.
    void MBClosePort();
    // Opens `port` (a path or a by-id link) as a user would: selects it in the list (refreshing the
    // list first if it is not there) and presses Open. Returns whether the port is open afterwards.
    bool MBOpenPort(const QString& port);
    // Rebuilds the port list as the Refresh button does.
    void MBRefreshPortList();
    // Why the last open failed or the device was lost, for an engineer (also the port lamp's tooltip);
    // empty after a successful open.
    QString MBPortErrorText() const { return portError_; }
    // The lost port the link waits for, to reopen it when it returns (the Open button stays down);
    // empty when not waiting.
    QString MBWaitingForPort() const { return waitingFor_; }
    // The port's channel: the demo's simulator, the recent network addresses, the connect's bound.
    mb::port::AnyPort& MBChannel() { return serial_; }
    // The port list as shown, row by row.
    const std::vector<mb::port::PortEntry>& MBPortEntries() const { return entries_; }

    // ---- Panel ----
    bool MBBaudEditVisible() const { return baudEditVisible_; }
    void setMBBaudEditVisible(bool v);
    std::uint32_t MBSpeed() const { return engine_.MBSpeed(); }
    std::uint32_t MBSpeedMax() const { return engine_.MBSpeedMax(); }

    // ---- Engine: transmit and receive buffers, master transactions ----
    void MBClearTXDataBuffer() { engine_.MBClearTXDataBuffer(); }
    void MBTXPutByte(std::uint8_t v) { engine_.MBTXPutByte(v); }
    void MBTXPutWord(std::uint16_t v) { engine_.MBTXPutWord(v); }
    void MBTXPutDWord(std::uint32_t v) { engine_.MBTXPutDWord(v); }
    void MBTXPutSingle(float v) { engine_.MBTXPutSingle(v); }
    void MBTXPutString(std::string_view s) { engine_.MBTXPutString(s); }
    // A whole encoded payload in one call (bytes after the ones already in the buffer).
    void MBTXPutBytes(std::span<const std::uint8_t> bytes) {
        for (std::uint8_t b : bytes)
            engine_.MBTXPutByte(b);
    }
    std::uint8_t MBRXGetByte() { return engine_.MBRXGetByte(); }
    std::uint16_t MBRXGetWord() { return engine_.MBRXGetWord(); }
    std::uint32_t MBRXGetDWord() { return engine_.MBRXGetDWord(); }
    std::int32_t MBRXGetLongInt() { return engine_.MBRXGetLongInt(); }
    float MBRXGetSingle() { return engine_.MBRXGetSingle(); }
    std::uint16_t MBReceivedDataNumber() const { return engine_.MBReceivedDataNumber(); }
    void MBMasterSend(std::uint16_t delayMs) { engine_.MBMasterSend(delayMs); }
    std::uint8_t MBMasterCommandToSlave() const { return engine_.MBMasterCommandToSlave(); }
    void setMBMasterCommandToSlave(std::uint8_t v) { engine_.setMBMasterCommandToSlave(v); }
    std::uint8_t MBMasterAddressToSlave() const { return engine_.MBMasterAddressToSlave(); }
    void setMBMasterAddressToSlave(unsigned a) { engine_.setMBMasterAddressToSlave(a); }
    std::uint16_t MBMasterTimeOut() const { return engine_.MBMasterTimeOut(); }
    void setMBMasterTimeOut(std::uint16_t ms) { engine_.setMBMasterTimeOut(ms); }
    std::uint8_t MBMasterMaxTryNumber() const { return engine_.MBMasterMaxTryNumber(); }
    void setMBMasterMaxTryNumber(unsigned n) { engine_.setMBMasterMaxTryNumber(n); }
    std::uint8_t MBMasterTryNumber() const { return engine_.MBMasterTryNumber(); }
    mb::TMBStatus MBStatus() const { return engine_.MBStatus(); }
    const std::string& MBStatusString() const { return engine_.MBStatusString(); }
    mb::TMBStatusNow MBStatusNow() const { return engine_.MBStatusNow(); }
    bool MBBusy() const { return engine_.MBBusy(); }
    std::uint32_t MBNumberOfTxFrames() const { return engine_.MBNumberOfTxFrames(); }
    std::uint32_t MBNumberOfRxFrames() const { return engine_.MBNumberOfRxFrames(); }
    mb::TMBMode MBMode() const { return engine_.MBMode(); }
    void setMBMode(mb::TMBMode m) { engine_.setMBMode(m); }
    // Everything else of the engine (responder settings, other events, buffer indices).
    mb::LinkEngine& engine() { return engine_; }
    const mb::LinkEngine& engine() const { return engine_; }

private:
    // mb::LinkHost
    bool write(const std::uint8_t* data, std::size_t size) override;
    void writesDone() override;
    void startTimer(mb::LinkTimer t, unsigned ms) override;
    void stopTimer(mb::LinkTimer t) override;
    void flashTx() override;
    void flashRx() override;
    void txLampOff() override;
    void lampsReset() override;
    void statusShown(mb::TMBStatus status, const std::string& text) override;
    void attemptShown(std::uint8_t attempt) override;
    void countersChanged() override;
    void speedChanged() override;
    void modeChanged() override;

    void buildPanel();
    void deferredSetUp();
    void rebuildPortList();
    void portsChanged();
    void watchPorts();
    void openClicked(bool down);
    void openSequence();
    void closeSequence();
    bool startLink(const QString& path, mb::port::OpenError* err);
    void stopLink();
    void tryReconnect();
    void stopWaiting();
    void showNotice();
    void afterOpenOrClose(bool wasOpen);
    void bytesArrived(std::span<const std::uint8_t> bytes);
    void deviceLost(int error);
    void showBaud();
    void showStatusLamp();
    void setPortLamp(const QColor& c, const QString& tip);
    static constexpr int kFlashMs = 100;
    void flash(QLabel* lamp, QTimer* timer, std::chrono::steady_clock::time_point& litAt);

    mb::LinkEngine engine_{*this};
    mb::port::AnyPort serial_; // a device, a network port or the demo instrument
    TNetReconnect* netReconnect_;
    std::unique_ptr<TCommThread> thread_;
    QSocketNotifier* writeNotifier_ = nullptr;
    std::vector<std::uint8_t> outgoing_; // the frame being written, handed to the port when complete
    bool linkOpened_ = false;
    TPortWatch* watch_;
    std::vector<mb::port::PortEntry> entries_; // the port list's rows
    // While the engine handles an input (bytes read, a time-out due): when that input happened. A pause
    // asked for meanwhile counts from then, not from whenever the handling (a display) got round to it.
    std::optional<std::chrono::steady_clock::time_point> inputAt_;

    QString port_ = QStringLiteral("COM1");
    QString lastUsedPort_;
    mb::port::PortInfo portInfo_; // the open port: after a loss, what must come back
    QString waitingFor_;          // its remembered name while waiting for it; empty otherwise
    QString portError_;
    QString failureNotice_; // the last failed open or loss in one sentence; cleared by an open
    QString waitNotice_;
    QString reconnectNotice_;
    std::uint32_t queueIn_ = 8192;
    std::uint32_t queueOut_ = 8192;
    bool refreshOnStartup_ = true;
    bool thereWasOpenEvent_ = false;
    bool baudEditVisible_ = true;

    TPreciseTimer* timeOutTimer_;
    TPreciseTimer* delayedSendTimer_;
    QTimer* statisticsTimer_;
    QTimer* txLampTimer_;
    QTimer* rxLampTimer_;
    std::chrono::steady_clock::time_point txLitAt_{}, rxLitAt_{};

    QLabel* txLamp_;
    QLabel* rxLamp_;
    QLabel* txCounter_;
    QLabel* rxCounter_;
    TMBShape* statusLamp_;
    TMBClickLabel* attempt_;
    QLabel* speed_;
    QListWidget* portList_;
    TMBShape* portLamp_;
    QPushButton* openButton_;
    QPushButton* refreshButton_;
    QLabel* lastStatus_;
    QLabel* bitsPerSecond_;
    QComboBox* baudBox_;
    QLabel* notice_;      // below the panel: why the port is not open, waiting, reconnected
    QTimer* noticeTimer_; // how long "reconnected" stays
};
