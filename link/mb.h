#pragma once
// TMB: the serial link component. A group box carrying its own panel (lamps, counters, port list,
// Open/Close, baud box) over one port session (link/portsession.h), which owns the port, the receive
// thread and the link engine. The panel only builds its controls, binds them to the session and keeps
// the component's published names.
#include "link/portsession.h"

#include <QGroupBox>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

class QAction;
class QComboBox;
class QFontMetrics;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTimer;
class TMBClickLabel;
class TMBShape;

class TMB : public QGroupBox {
    Q_OBJECT
public:
    explicit TMB(QWidget* parent = nullptr);
    ~TMB() override;

    // ---- Events (called only when set; no sender argument) ----
    std::function<void(mb::TMBStatus MBStatus, const std::string& MBStatusString)> OnMBMasterEndOfEvent;
    std::function<void(bool MBbPortOpen)> OnMBPortOpenedOrClosed;

    // ---- Port ----
    QString Port() const { return session_.port(); }
    void setPort(const QString& p) { session_.setPort(p); }
    // The port the user last picked or opened, as its by-id link where it has one. A port that is
    // missing from the list does not replace it.
    QString MBLastUsedPort() const { return session_.lastUsedPort(); }
    void setMBLastUsedPort(const QString& p) { session_.setLastUsedPort(p); }
    mb::TMBBaud MBBaud() const { return engine_.MBBaud(); }
    void setMBBaud(mb::TMBBaud b);
    std::uint32_t WinQSizeIn() const { return session_.queueIn(); }
    void setWinQSizeIn(std::uint32_t n) { session_.setQueueIn(n); }
    std::uint32_t WinQSizeOut() const { return session_.queueOut(); }
    void setWinQSizeOut(std::uint32_t n) { session_.setQueueOut(n); }
    bool MBRefreshListOnStartup() const { return session_.refreshOnStartup(); }
    void setMBRefreshListOnStartup(bool v) { session_.setRefreshOnStartup(v); }
    bool MBPortOpen() const { return engine_.MBPortOpen(); }
    bool MBThereWasOpenEvent() const { return session_.thereWasOpenEvent(); }
    void setMBThereWasOpenEvent(bool v) { session_.setThereWasOpenEvent(v); }
    // Closes the port as the Close button would, and stops waiting for a lost one to return; nothing
    // happens while it is closed.
    void MBClosePort() { session_.close(); }
    // Opens `port` (a path or a by-id link) as a user would: selects it in the list (refreshing the
    // list first if it is not there) and presses Open. Returns whether the port is open afterwards.
    bool MBOpenPort(const QString& port) { return session_.openPort(port); }
    // Asks for a network address to open (the port list's context menu has it; a window may offer it
    // in a menu too). Enabled while the port is closed.
    QAction* MBAddressAction() const { return addressAction_; }
    // Rebuilds the port list as the Refresh button does.
    void MBRefreshPortList() { session_.refreshPortList(); }
    // Why the last open failed or the device was lost, for an engineer (also the port lamp's tooltip);
    // empty after a successful open.
    QString MBPortErrorText() const { return session_.portErrorText(); }
    // The lost port the link waits for, to reopen it when it returns (the Open button stays down);
    // empty when not waiting.
    QString MBWaitingForPort() const { return session_.waitingForPort(); }
    // A scan for the holders of busy ports is under way (off the window's thread).
    bool MBScanningHolders() const { return session_.scanningHolders(); }
    // The port list as shown, row by row.
    const std::vector<mb::port::PortEntry>& MBPortEntries() const { return session_.portEntries(); }
    // The port's channel: the demo's simulator, the recent network addresses, the connect's bound.
    mb::port::AnyPort& MBChannel() { return session_.channel(); }

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
    // The port session behind the panel: its life's events (opened, closed, lost, reconnected).
    TPortSession& session() { return session_; }
    const TPortSession& session() const { return session_; }
    // Where the port notice goes, in the parent's coordinates, when the panel's owner has controls
    // right below the panel: the notice then lies in that free area and the panel keeps its size.
    void setNoticeArea(const QRect& area);

private:
    void buildPanel();
    void bindSession();
    void deferredSetUp();
    void showPortList();
    void showChosenRow(int row);
    void showLifeState();
    void showBaud();
    void showStatusLamp();
    void showPortLamp();
    void showNotice();
    static constexpr int kFlashMs = 100;
    void flash(QLabel* lamp, QTimer* timer, std::chrono::steady_clock::time_point& litAt);
    void lampsOff();

    // A member rather than a child: it stops its link before the panel's controls are deleted.
    TPortSession session_;
    mb::LinkEngine& engine_ = session_.engine();
    bool baudEditVisible_ = true;

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
    QAction* addressAction_;
    TMBShape* portLamp_;
    QPushButton* openButton_;
    QPushButton* refreshButton_;
    QLabel* lastStatus_;
    QLabel* bitsPerSecond_;
    QComboBox* baudBox_;
    QLabel* notice_;   // below the panel: why the port is not open, waiting, reconnected
    QRect noticeArea_; // empty: right below the panel, which grows for it
};

namespace mb {
// `text` broken into at most `maxLines` lines of at most `width` pixels, only at spaces: a word too
// wide for a line (a long port name) is elided in its middle, and what does not fit in the last line
// is elided at its end.
QStringList noticeLines(const QString& text, const QFontMetrics& metrics, int width, int maxLines);
} // namespace mb
