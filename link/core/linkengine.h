#pragma once
// The link's protocol engine: frame buffers, decoder, the master transaction engine, the responder,
// monitor and pipe modes, counters and statistics. It has no I/O and no clock of its own: inputs arrive
// as calls (bytes received, a timer expired, the port opened or closed) and it acts through LinkHost.
// Everything runs on one thread.
#include "framebuffers.h"
#include "framedecoder.h"
#include "linkhost.h"
#include "mbtypes.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace mb {

class LinkEngine {
public:
    explicit LinkEngine(LinkHost& host) : host_(host) {}
    LinkEngine(const LinkEngine&) = delete;
    LinkEngine& operator=(const LinkEngine&) = delete;

    // ---- Events (called only when set) ----
    std::function<void(TMBStatus, const std::string&)> OnMBMasterEndOfEvent;
    std::function<void(TMBStatusNow, const std::string&)> OnMBStatusNowChanged;
    std::function<void(bool)> OnMBBusyChanged;
    std::function<void(std::uint8_t command, bool queryMode, std::uint16_t receivedDataNumber)>
        OnMBSlaveReceivedCommand;
    std::function<void(std::uint16_t receivedDataNumber)> OnMBDiagnosticReceivedAFrame;
    std::function<void(std::uint16_t receivedBytesNumber)> OnMBReceivedAByte;
    std::function<void(const std::string& receivedString)> OnMBReceivedAString;

    // ---- Inputs from the host ----
    void bytesReceived(const std::uint8_t* data, std::size_t size);
    void timerExpired(LinkTimer t);
    // Opening is split around the real open: portOpening() before it, then portOpened() or
    // portOpenFailed(). portClosing() is the closing sequence (the host then closes the port).
    void portOpening();
    void portOpened();
    void portOpenFailed() { portClosing(); }
    void portClosing();

    // ---- Transmit buffer ----
    void MBClearTXDataBuffer() { tx_.clear(); }
    void MBTXPutByte(std::uint8_t v) { tx_.putByte(v); }
    void MBTXPutWord(std::uint16_t v) { tx_.putWord(v); }
    void MBTXPutDWord(std::uint32_t v) { tx_.putDWord(v); }
    void MBTXPutSingle(float v) { tx_.putSingle(v); }
    void MBTXPutString(std::string_view s) { tx_.putString(s); }
    std::uint16_t MBMBTXDataBufferIndex() const { return tx_.index(); }
    void setMBMBTXDataBufferIndex(unsigned i) { tx_.setIndex(i); }
    std::uint16_t MBDataNumberToSend() const { return tx_.dataNumber(); }
    void setMBDataNumberToSend(unsigned n) { tx_.setDataNumber(n); }
    const TxFrameBuffer& txBuffer() const { return tx_; }

    // ---- Receive buffer ----
    std::uint8_t MBRXGetByte() { return rx_.getByte(); }
    std::uint16_t MBRXGetWord() { return rx_.getWord(); }
    std::uint32_t MBRXGetDWord() { return rx_.getDWord(); }
    std::int32_t MBRXGetLongInt() { return rx_.getLongInt(); }
    float MBRXGetSingle() { return rx_.getSingle(); }
    std::uint16_t MBMBRXDataBufferIndex() const { return rx_.index(); }
    void setMBMBRXDataBufferIndex(unsigned i) { rx_.setIndex(i); }
    std::uint16_t MBReceivedDataNumber() const { return rx_.receivedNumber(); }
    const RxFrameBuffer& rxBuffer() const { return rx_; }

    // ---- Receive accumulator ----
    std::uint16_t MBNumberOfReceivedBytes() const { return decoder_.count(); }
    bool MBRxBufferFull() const { return decoder_.full(); }
    // Empties the accumulator without touching the live state: how a byte-mode user starts afresh.
    void MBResetReceiver() { decoder_.reset(); }

    // ---- Master ----
    void MBMasterSend(std::uint16_t delayMs);
    std::uint8_t MBMasterAddressToSlave() const { return masterAddress_; }
    void setMBMasterAddressToSlave(unsigned a);
    std::uint8_t MBMasterIDToSlave() const { return masterId_; }
    void setMBMasterIDToSlave(std::uint8_t v) { masterId_ = v; }
    std::uint8_t MBMasterCommandToSlave() const { return masterCommand_; }
    void setMBMasterCommandToSlave(std::uint8_t v) { masterCommand_ = v; }
    bool MBMasterQueryMode() const { return queryMode_; }
    void setMBMasterQueryMode(bool v) { queryMode_ = v; }
    std::uint16_t MBMasterTimeOut() const { return masterTimeOut_; }
    void setMBMasterTimeOut(std::uint16_t ms) { masterTimeOut_ = ms; }
    std::uint8_t MBMasterMaxTryNumber() const { return maxTry_; }
    void setMBMasterMaxTryNumber(unsigned n);
    std::uint8_t MBMasterTryNumber() const { return tryNumber_; }
    std::uint8_t MBMasterTryNumberMax() const { return tryNumberMax_; }
    // Line time of the last request in ms (wider than 16 bits: long frames at slow rates need it).
    std::uint32_t MBCalculatedTimeOfSending() const { return timeOfSending_; }
    // The line time a request of dataBytes data bytes takes at the given rate.
    static std::uint32_t lineTimeMs(std::size_t dataBytes, std::uint32_t baud);

    // ---- State and outcome ----
    TMBMode MBMode() const { return mode_; }
    void setMBMode(TMBMode m);
    TMBStatus MBStatus() const { return status_; }
    const std::string& MBStatusString() const { return statusString_; }
    TMBStatusNow MBStatusNow() const { return statusNow_; }
    const std::string& MBStatusNowString() const { return statusNowString_; }
    bool MBBusy() const { return busy_; }
    bool MBPortOpen() const { return portOpen_; }
    std::uint32_t MBNumberOfTxFrames() const { return txFrames_; }
    std::uint32_t MBNumberOfRxFrames() const { return rxFrames_; }
    // Framed modes: frames that ended but failed the check (bad CRC, or too short to hold one), since
    // the component was made. Read-only, for monitors; nothing resets it.
    std::uint32_t MBBadFrames() const { return badFrames_; }

    // ---- Line ----
    TMBBaud MBBaud() const { return baudFromRate(baudRate_); }
    void setMBBaud(TMBBaud b) { baudRate_ = baudRate(b); }
    std::uint32_t baudRateValue() const { return baudRate_; }
    // "115 200 bits / second"
    std::string bitsPerSecondText() const;

    // ---- Responder ----
    std::uint8_t MBSlaveOwnAddress() const { return slaveAddress_; }
    void setMBSlaveOwnAddress(unsigned a);
    std::uint8_t MBSlaveID() const { return slaveId_; }
    void setMBSlaveID(std::uint8_t v) { slaveId_ = v; }
    std::uint8_t MBSlaveErrorCode() const { return slaveError_; }
    void setMBSlaveErrorCode(std::uint8_t v) { slaveError_ = v; }
    std::uint16_t MBSlaveVerYear() const { return verYear_; }
    void setMBSlaveVerYear(unsigned y);
    std::uint8_t MBSlaveVerMonth() const { return verMonth_; }
    void setMBSlaveVerMonth(unsigned m);
    std::uint8_t MBSlaveVerDay() const { return verDay_; }
    void setMBSlaveVerDay(unsigned d);
    const std::string& MBSlaveName() const { return slaveName_; }
    void setMBSlaveName(std::string s) { slaveName_ = std::move(s); }
    std::uint16_t MBSlaveDelayTime() const { return slaveDelay_; }
    void setMBSlaveDelayTime(std::uint16_t ms) { slaveDelay_ = ms; }
    std::uint8_t MBStopByteInStringMode() const { return stopByte_; }
    void setMBStopByteInStringMode(std::uint8_t b) { stopByte_ = b; }

    // ---- Statistics and panel model ----
    // The statistics timer's tick. Returns true for the first tick, the deferred set-up, which computes
    // no speed (the host then does its own set-up: baud box, port list).
    bool statisticsTick();
    void resetStatistics();
    void restartStatisticsPeriod();
    std::uint32_t MBSpeed() const { return speed_; }
    std::uint32_t MBSpeedMax() const { return speedMax_; }
    std::uint32_t lowestSpeed() const { return lowest_; }
    std::uint32_t framesThisSecond() const { return framesThisSecond_; }
    std::string speedText() const;
    std::string counterText(std::uint32_t n) const; // "12 bytes"
    std::string txCounterText() const { return counterText(txFrames_); }
    std::string rxCounterText() const { return counterText(rxFrames_); }
    std::string caption() const; // "MB Master v2015-01-29"
    const char* unitWord() const { return modeUnitWord(mode_); }
    std::uint8_t attemptShown() const { return attemptShown_; } // the indicator stands at 138 + this
    bool attemptIndicatorVisible() const { return portOpen_ && modeShowsAttempt(mode_); }
    const std::string& lastStatusLine() const { return lastStatusLine_; }
    LampColour statusLamp() const { return statusLamp_; }

private:
    void setStatusNow(TMBStatusNow s);
    void setBusy(bool b);
    void setStatus(TMBStatus s, std::uint8_t slaveError = 0);
    void endOfEvent();
    void showAttempt(std::uint8_t n);
    void lampsReset();
    void updateSpeedLabel();
    void startTimer(LinkTimer t, unsigned ms);
    void stopTimer(LinkTimer t);

    void startTransaction();
    // Builds the frame and writes it two characters per byte. False (with port error state) if the
    // port is closed or a write fails.
    bool sendFrame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2);
    bool sendRaw();
    void sendFailed();
    void endAtOnce(); // ends a transaction that awaits no reply
    std::uint8_t masterHeaderByte() const {
        return static_cast<std::uint8_t>(masterAddress_ | (queryMode_ ? 0x40 : 0));
    }

    void resetReceive();
    void decodeFramed(const std::uint8_t* data, std::size_t size);
    bool startAllowed(std::uint8_t b) const;
    void frameAccepted();
    void masterAccepted();
    void slaveAccepted();
    void diagnosticAccepted();
    void sendSlaveReply();
    void receiveBytes(const std::uint8_t* data, std::size_t size);
    void receiveString(const std::uint8_t* data, std::size_t size);

    LinkHost& host_;
    TxFrameBuffer tx_;
    RxFrameBuffer rx_;
    FrameDecoder decoder_;
    bool timerRunning_[3] = {false, false, false};

    TMBMode mode_ = modeMaster;
    std::uint8_t masterAddress_ = 1;
    std::uint8_t masterId_ = 0;
    std::uint8_t masterCommand_ = 0;
    bool queryMode_ = false;
    std::uint16_t masterTimeOut_ = 1000;
    std::uint8_t maxTry_ = 5;
    std::uint8_t tryNumber_ = 0;
    std::uint8_t tryNumberMax_ = 0;
    std::uint32_t timeOfSending_ = 0;
    std::uint32_t timeOutInterval_ = 0;
    std::uint32_t requestsStarted_ = 0; // master and monitor sends, which end what a hand-over may answer

    TMBStatus status_ = stOK;
    std::string statusString_ = "OK";
    TMBStatusNow statusNow_ = stnPortError;
    std::string statusNowString_ = "Port Error";
    bool busy_ = true;
    bool portOpen_ = false;
    std::uint32_t txFrames_ = 0;
    std::uint32_t rxFrames_ = 0;
    std::uint32_t badFrames_ = 0;
    std::uint32_t baudRate_ = 115200;

    std::uint8_t slaveAddress_ = 1;
    std::uint8_t slaveId_ = 0;
    std::uint8_t slaveError_ = 0;
    std::uint16_t verYear_ = 2015;
    std::uint8_t verMonth_ = 1;
    std::uint8_t verDay_ = 29;
    std::string slaveName_ = "MB Slave";
    std::uint16_t slaveDelay_ = 0;
    bool replyPending_ = false;
    std::uint8_t stopByte_ = 0;
    bool stringArmed_ = false;

    bool setUpDone_ = false;
    std::uint32_t framesThisSecond_ = 0;
    std::uint32_t speed_ = 0;
    std::uint32_t speedMax_ = 0;
    std::uint32_t lowest_ = 0;
    std::uint8_t attemptShown_ = 0;
    std::string lastStatusLine_ = "Last status: Closed Port";
    LampColour statusLamp_ = LampColour::Neutral;
};

} // namespace mb
