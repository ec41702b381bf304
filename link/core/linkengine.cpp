#include "linkengine.h"

#include "common/pictureformat.h"
#include "common/rounding.h"
#include "linecode.h"

#include <algorithm>

namespace mb {

namespace {

bool isSlaveMode(TMBMode m) {
    return m == modeSlave || m == modeASCIISlave;
}
bool isMasterMode(TMBMode m) {
    return m == modeMaster || m == modeASCIIMaster;
}

// Handlers are copied before the call so one may replace itself while it runs.
template <typename F, typename... Args> void raise(const F& f, Args&&... args) {
    if (f) {
        F copy = f;
        copy(std::forward<Args>(args)...);
    }
}

std::string speedPart(std::uint32_t v) {
    if (v >= 1000) return vx::formatPicture(v / 1000.0, "0.0") + "k";
    return vx::formatPicture(v, "0");
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Small state setters

void LinkEngine::setStatusNow(TMBStatusNow s) {
    if (s == statusNow_) return;
    statusNow_ = s;
    statusNowString_ = statusNowText(s);
    raise(OnMBStatusNowChanged, statusNow_, statusNowString_);
}

void LinkEngine::setBusy(bool b) {
    if (b == busy_) return;
    busy_ = b;
    raise(OnMBBusyChanged, b);
}

void LinkEngine::setStatus(TMBStatus s, std::uint8_t slaveError) {
    status_ = s;
    statusString_ = statusText(s, slaveError);
    lastStatusLine_ = "Last status: " + statusString_;
    statusLamp_ = statusLampColour(s);
    host_.statusShown(status_, statusString_);
}

void LinkEngine::endOfEvent() {
    // Copies: a handler that starts the next transaction at once may change the status.
    const TMBStatus s = status_;
    const std::string text = statusString_;
    raise(OnMBMasterEndOfEvent, s, text);
}

void LinkEngine::showAttempt(std::uint8_t n) {
    attemptShown_ = n;
    tryNumberMax_ = std::max(tryNumberMax_, n);
    host_.attemptShown(n);
}

void LinkEngine::lampsReset() {
    statusLamp_ = LampColour::Neutral;
    host_.lampsReset();
}

void LinkEngine::startTimer(LinkTimer t, unsigned ms) {
    timerRunning_[static_cast<int>(t)] = true;
    host_.startTimer(t, ms);
}

void LinkEngine::stopTimer(LinkTimer t) {
    timerRunning_[static_cast<int>(t)] = false;
    host_.stopTimer(t);
}

// ---------------------------------------------------------------------------------------------------
// Property writes

void LinkEngine::setMBMasterAddressToSlave(unsigned a) {
    // Only the ASCII master uses a full address byte; the framed protocol has four address bits.
    masterAddress_ =
        static_cast<std::uint8_t>(mode_ == modeASCIIMaster ? std::min(a, 255u) : std::min(a, 15u));
}

void LinkEngine::setMBMasterMaxTryNumber(unsigned n) {
    maxTry_ = static_cast<std::uint8_t>(std::clamp(n, 1u, 5u));
}

void LinkEngine::setMBSlaveOwnAddress(unsigned a) {
    slaveAddress_ = static_cast<std::uint8_t>(std::clamp(a, 1u, 15u));
}
void LinkEngine::setMBSlaveVerYear(unsigned y) {
    verYear_ = static_cast<std::uint16_t>(std::clamp(y, 2000u, 2100u));
}
void LinkEngine::setMBSlaveVerMonth(unsigned m) {
    verMonth_ = static_cast<std::uint8_t>(std::clamp(m, 1u, 12u));
}
void LinkEngine::setMBSlaveVerDay(unsigned d) {
    verDay_ = static_cast<std::uint8_t>(std::clamp(d, 1u, 31u));
}

void LinkEngine::setMBMode(TMBMode m) {
    const bool changed = m != mode_;
    if (changed) {
        // What the old mode had under way means nothing to the new one: a master retry would otherwise
        // go out from a responder, or a byte pipe would start with the last reply in its accumulator.
        stopTimer(LinkTimer::TimeOut);
        stopTimer(LinkTimer::DelayedSend);
        replyPending_ = false;
        stringArmed_ = false;
        decoder_.reset();
    }
    mode_ = m;
    setBusy(isMasterMode(m) ? !portOpen_ : true);
    if (!changed) return;
    tryNumberMax_ = 0;
    txFrames_ = 0;
    rxFrames_ = 0;
    host_.countersChanged();
    setStatus(stOK);
    setStatusNow(m == modeSlave ? stnWaitingForCommand : stnReady);
    lampsReset();
    showAttempt(0);
    lowest_ = speed_;
    speedMax_ = speed_;
    updateSpeedLabel();
    host_.modeChanged();
}

std::uint32_t LinkEngine::lineTimeMs(std::size_t dataBytes, std::uint32_t baud) {
    if (baud == 0) baud = 9600;
    // Two characters per frame byte, ten bits per character.
    const double ms = static_cast<double>(dataBytes + 5) * (1.0 / baud * 10 * 2 * 1000);
    return vx::roundToInt<std::uint32_t>(ms) + 1;
}

std::string LinkEngine::bitsPerSecondText() const {
    return vx::formatPicture(baudRate_, "# ### ##0") + " bits / second";
}

// ---------------------------------------------------------------------------------------------------
// Port

void LinkEngine::portOpening() {
    setStatusNow(isSlaveMode(mode_) ? stnWaitingForCommand : stnReady);
    setBusy(!(isMasterMode(mode_) || mode_ == modeByte || mode_ == modeString));
    portOpen_ = true;
    setStatus(stOK);
}

void LinkEngine::portOpened() {
    restartStatisticsPeriod();
}

void LinkEngine::portClosing() {
    const bool wasBusy = busy_;
    stopTimer(LinkTimer::TimeOut);
    if (replyPending_) {
        // A reply held back for the responder's delay answers a request of this session only.
        replyPending_ = false;
        stopTimer(LinkTimer::DelayedSend);
    }
    portOpen_ = false;
    lampsReset();
    tryNumberMax_ = 0;
    showAttempt(0);
    setBusy(true);
    setStatusNow(stnPortError);
    setStatus(stClosedPort);
    updateSpeedLabel();
    if (isMasterMode(mode_) && wasBusy) endOfEvent();
}

// ---------------------------------------------------------------------------------------------------
// Sending

void LinkEngine::MBMasterSend(std::uint16_t delayMs) {
    stopTimer(LinkTimer::DelayedSend);
    if (delayMs == 0)
        startTransaction();
    else
        startTimer(LinkTimer::DelayedSend, delayMs);
}

void LinkEngine::sendFailed() {
    host_.txLampOff();
    setStatusNow(stnPortError);
    setStatus(stClosedPort);
    setBusy(true);
}

bool LinkEngine::sendFrame(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2) {
    if (!portOpen_) {
        sendFailed();
        return false;
    }
    const std::size_t n = tx_.buildFrame(b0, b1, b2);
    const std::uint8_t* f = tx_.frame();
    for (std::size_t k = 0; k < n; ++k) {
        const auto chars = encodeByte(f[k], positionInFrame(k, n));
        if (!host_.write(chars.data(), chars.size())) {
            sendFailed();
            return false;
        }
        host_.flashTx();
    }
    host_.writesDone();
    return true;
}

bool LinkEngine::sendRaw() {
    if (!portOpen_) {
        sendFailed();
        return false;
    }
    for (unsigned k = 1; k <= tx_.dataNumber(); ++k) {
        const std::uint8_t b = tx_.data(k);
        if (!host_.write(&b, 1)) {
            sendFailed();
            return false;
        }
        host_.flashTx();
    }
    host_.writesDone();
    return true;
}

void LinkEngine::endAtOnce() {
    setStatusNow(stnReady);
    setBusy(false);
    setStatus(stOK);
    endOfEvent();
}

void LinkEngine::startTransaction() {
    stopTimer(LinkTimer::TimeOut);
    setBusy(true);
    switch (mode_) {
    case modeSlave:
    case modeASCIIMaster:
    case modeASCIISlave:
        return;
    case modeDiagnostic:
        ++requestsStarted_;
        if (!sendFrame(masterHeaderByte(), masterId_, masterCommand_)) return endOfEvent();
        ++txFrames_;
        host_.countersChanged();
        tryNumber_ = 1;
        return endAtOnce();
    case modeByte:
        if (!sendRaw()) return endOfEvent();
        txFrames_ += tx_.dataNumber();
        host_.countersChanged();
        return endAtOnce();
    case modeString:
        decoder_.reset();
        stringArmed_ = true;
        if (!sendRaw()) return endOfEvent();
        ++txFrames_;
        host_.countersChanged();
        return endAtOnce();
    case modeMaster:
        ++requestsStarted_;
        break;
    }

    if (!sendFrame(masterHeaderByte(), masterId_, masterCommand_)) return endOfEvent();
    setStatusNow(stnSending);
    ++txFrames_;
    host_.countersChanged();
    tryNumber_ = 1;
    showAttempt(1);
    if (masterAddress_ == 0) return endAtOnce(); // broadcast: nobody answers
    setStatusNow(stnWaitingForAnswer);
    timeOfSending_ = lineTimeMs(tx_.dataNumber(), baudRate_);
    timeOutInterval_ = timeOfSending_ + masterTimeOut_;
    startTimer(LinkTimer::TimeOut, timeOutInterval_);
    decoder_.reset();
}

void LinkEngine::timerExpired(LinkTimer t) {
    if (t == LinkTimer::Statistics) {
        statisticsTick(); // periodic, running from the component's creation
        return;
    }
    if (!timerRunning_[static_cast<int>(t)]) return; // a single-shot tick that raced its stop
    switch (t) {
    case LinkTimer::Statistics:
        return;
    case LinkTimer::DelayedSend:
        stopTimer(t);
        if (mode_ == modeMaster)
            startTransaction();
        else if (mode_ == modeSlave && replyPending_)
            sendSlaveReply();
        return;
    case LinkTimer::TimeOut:
        stopTimer(t);
        if (mode_ != modeMaster) return;
        if (tryNumber_ < maxTry_) {
            ++tryNumber_;
            showAttempt(tryNumber_);
            // A retry that cannot be written ends the transaction here, as a first attempt does; waiting
            // for the port to be closed would leave the application without an answer.
            if (!sendFrame(masterHeaderByte(), masterId_, masterCommand_)) return endOfEvent();
            setStatusNow(stnSending);
            startTimer(LinkTimer::TimeOut, timeOutInterval_);
            setStatusNow(stnWaitingForAnswer);
        } else {
            setStatusNow(stnTimeOut);
            setBusy(false);
            setStatus(stTimeOut);
            endOfEvent();
        }
        return;
    }
}

// ---------------------------------------------------------------------------------------------------
// Receiving

void LinkEngine::bytesReceived(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || data == nullptr || !portOpen_) return;
    switch (mode_) {
    case modeMaster:
    case modeSlave:
    case modeDiagnostic:
        return decodeFramed(data, size);
    case modeByte:
        return receiveBytes(data, size);
    case modeString:
        return receiveString(data, size);
    case modeASCIIMaster:
    case modeASCIISlave:
        return; // no receiver
    }
}

void LinkEngine::resetReceive() {
    decoder_.reset();
    if (mode_ == modeMaster)
        setStatusNow(stnWaitingForAnswer);
    else if (mode_ == modeSlave)
        setStatusNow(stnWaitingForCommand);
}

bool LinkEngine::startAllowed(std::uint8_t b) const {
    switch (mode_) {
    case modeMaster:
        return (b & 0x80) && (b & 0x0F) == masterAddress_;
    case modeSlave:
        return !(b & 0x80) && ((b & 0x0F) == slaveAddress_ || (b & 0x0F) == 0);
    default:
        return true; // the monitor takes every frame
    }
}

void LinkEngine::decodeFramed(const std::uint8_t* data, std::size_t size) {
    const TMBMode mode = mode_;
    const std::uint32_t requests = requestsStarted_;
    for (std::size_t k = 0; k < size; ++k) {
        // A handler may have closed the port or changed the mode; or it sent a request, and the rest of
        // this hand-over, which arrived before that request went out, is no answer to it.
        if (!portOpen_ || mode_ != mode || requestsStarted_ != requests) return;
        FrameDecoder::Step step = decoder_.feed(data[k]);
        if (step == FrameDecoder::Step::None) continue;
        if (step == FrameDecoder::Step::Start) {
            const std::uint8_t b = decoder_.startByte();
            if (!startAllowed(b)) {
                resetReceive();
                continue;
            }
            decoder_.start(b);
            setStatusNow(stnReceiving);
            step = decoder_.endAfterStart();
            if (step == FrameDecoder::Step::None) continue;
        }
        if (step == FrameDecoder::Step::Reset) {
            if (decoder_.count() > 0) ++badFrames_; // a frame was under way; lone end characters are noise
            resetReceive();
            continue;
        }
        frameAccepted();
    }
}

void LinkEngine::frameAccepted() {
    switch (mode_) {
    case modeMaster:
        return masterAccepted();
    case modeSlave:
        return slaveAccepted();
    case modeDiagnostic:
        return diagnosticAccepted();
    default:
        return;
    }
}

void LinkEngine::masterAccepted() {
    host_.flashRx();
    stopTimer(LinkTimer::TimeOut);
    rx_.acceptFrame(decoder_.frame(), decoder_.count());
    const std::uint8_t s = rx_.frame()[2];
    if (s > 128) {
        setStatus(stSlaveError, s);
    } else {
        ++rxFrames_;
        ++framesThisSecond_;
        setStatus(stOK);
    }
    setStatusNow(stnReady);
    setBusy(false);
    endOfEvent();
}

void LinkEngine::diagnosticAccepted() {
    host_.flashRx();
    rx_.acceptFrame(decoder_.frame(), decoder_.count());
    ++rxFrames_;
    ++framesThisSecond_;
    setStatus(stOK);
    setStatusNow(stnReady);
    raise(OnMBDiagnosticReceivedAFrame, rx_.receivedNumber());
    if (mode_ == modeDiagnostic) decoder_.reset();
}

void LinkEngine::slaveAccepted() {
    tx_.clear();
    slaveError_ = 0;
    host_.flashRx();
    rx_.acceptFrame(decoder_.frame(), decoder_.count());
    setStatusNow(stnReceivedCommand);
    const std::uint8_t address = rx_.frame()[0];
    const std::uint8_t id = rx_.frame()[1];
    const std::uint8_t command = rx_.frame()[2];
    bool counterRestart = false;
    if (id != 0 && id != slaveId_) {
        slaveError_ = 129;
    } else if (command == 0 || command == 128) {
        // An empty reply acknowledges.
    } else if (command == 129) {
        tx_.putWord(2015);
        tx_.putByte(1);
        tx_.putByte(29);
        tx_.putWord(verYear_);
        tx_.putByte(verMonth_);
        tx_.putByte(verDay_);
        tx_.putString(slaveName_);
    } else if (command == 130) {
        if (rx_.getByte() == 1) {
            tx_.putDWord(0);
            counterRestart = true;
        } else {
            tx_.putDWord(rxFrames_ + 1);
        }
    } else if (command > 130) {
        slaveError_ = 130;
    } else {
        raise(OnMBSlaveReceivedCommand, command, (address & 0x40) != 0, rx_.receivedNumber());
        if (mode_ != modeSlave || !portOpen_) return;
    }

    if (slaveError_ >= 128) {
        setStatus(stSlaveError, slaveError_);
    } else {
        rxFrames_ = counterRestart ? 0 : rxFrames_ + 1;
        host_.countersChanged();
        ++framesThisSecond_;
        setStatus(stOK);
    }
    if ((address & 0x0F) == 0) return; // broadcast: processed, not answered
    setStatusNow(stnSending);
    if (slaveDelay_ == 0) {
        sendSlaveReply();
    } else {
        replyPending_ = true;
        startTimer(LinkTimer::DelayedSend, slaveDelay_);
    }
}

void LinkEngine::sendSlaveReply() {
    replyPending_ = false;
    if (!sendFrame(static_cast<std::uint8_t>(slaveAddress_ | 0x80), slaveId_, slaveError_)) return;
    setStatusNow(stnReady);
    resetReceive();
}

void LinkEngine::receiveBytes(const std::uint8_t* data, std::size_t size) {
    rxFrames_ += static_cast<std::uint32_t>(size);
    host_.countersChanged();
    for (std::size_t k = 0; k < size; ++k) {
        const std::uint16_t before = decoder_.count();
        decoder_.append(data[k]);
        if (decoder_.count() != before) rx_.storeRawAt(decoder_.count(), data[k]);
        host_.flashRx();
        ++framesThisSecond_;
    }
    rx_.setReceivedNumber(decoder_.count());
    setStatus(stOK);
    setStatusNow(stnReady);
    raise(OnMBReceivedAByte, rx_.receivedNumber());
}

void LinkEngine::receiveString(const std::uint8_t* data, std::size_t size) {
    for (std::size_t k = 0; k < size && stringArmed_; ++k) {
        decoder_.append(data[k]);
        if (data[k] != stopByte_) continue;
        stringArmed_ = false;
        rx_.storeRaw(decoder_.frame(), decoder_.count());
        host_.flashRx();
        ++rxFrames_;
        ++framesThisSecond_;
        setStatus(stOK);
        setStatusNow(stnReady);
        raise(OnMBReceivedAString,
              std::string(reinterpret_cast<const char*>(decoder_.frame()), decoder_.count()));
        // The rest of this hand-over arrived before any send the handler made: it is no answer to it.
        return;
    }
}

// ---------------------------------------------------------------------------------------------------
// Statistics

bool LinkEngine::statisticsTick() {
    if (!setUpDone_) {
        setUpDone_ = true;
        return true;
    }
    speed_ = portOpen_ ? framesThisSecond_ : 0;
    framesThisSecond_ = 0;
    updateSpeedLabel();
    return false;
}

void LinkEngine::updateSpeedLabel() {
    if (portOpen_) {
        lowest_ = std::min(lowest_, speed_);
        speedMax_ = std::max(speedMax_, speed_);
    }
    host_.speedChanged();
}

std::string LinkEngine::speedText() const {
    std::string s = speedPart(speed_) + " frames / sec [" + speedPart(lowest_);
    if (lowest_ != speedMax_) {
        s += '-';
        s += speedPart(speedMax_);
    }
    s += ']';
    return s;
}

void LinkEngine::resetStatistics() {
    tryNumberMax_ = 0;
    showAttempt(0);
    txFrames_ = 0;
    rxFrames_ = 0;
    host_.countersChanged();
    lampsReset();
    lowest_ = speed_;
    speedMax_ = speed_;
    updateSpeedLabel();
    restartStatisticsPeriod();
}

void LinkEngine::restartStatisticsPeriod() {
    stopTimer(LinkTimer::Statistics);
    framesThisSecond_ = 0;
    startTimer(LinkTimer::Statistics, 1000);
}

std::string LinkEngine::counterText(std::uint32_t n) const {
    return vx::formatPicture(n, "# ### ### ##0") + " " + unitWord();
}

std::string LinkEngine::caption() const {
    return std::string(modeCaptionPrefix(mode_)) + vx::formatPicture(2015, "0000") + "-" +
           vx::formatPicture(1, "00") + "-" + vx::formatPicture(29, "00");
}

} // namespace mb
