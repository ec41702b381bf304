#pragma once
// TCommThread: the receive side of an open port. It only waits for bytes or for its stop event and
// hands every batch to the GUI thread, where the decoder, the engine and every event run. The hand-over
// is synchronous (the thread waits until the GUI thread has taken the batch) but can always be
// abandoned by the stop event, so closing never waits on a GUI thread that is itself waiting.
//
// The hand-over uses no Qt cross-thread call: the batch sits in a slot under a mutex and an eventfd,
// watched by a socket notifier in the GUI thread, says it is there. A second eventfd tells the thread
// the batch was taken. Nothing else is shared.
#include "link/bytechannel.h"

#include <QThread>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

class QSocketNotifier;

class TCommThread : public QThread {
    Q_OBJECT
public:
    using ReceiveCallback = std::function<void(std::span<const std::uint8_t> bytes)>;
    // The device is gone (hang-up, I/O error, or the wait itself failed); error is the errno or 0. The
    // thread has ended its loop.
    using LostCallback = std::function<void(int error)>;

    // Create in the GUI thread; the callbacks run there.
    explicit TCommThread(mb::port::ByteChannel& channel, QObject* parent = nullptr);
    ~TCommThread() override;
    // The errno that kept the thread's events from being made (the process is out of descriptors), or
    // 0. Such a thread must not be started: nothing could stop it or hear from it.
    int setUpError() const { return setUpError_; }

    // GUI thread. Connect before start(); after disconnecting, a batch already waiting is dropped.
    void connectCallbacks(ReceiveCallback onReceive, LostCallback onLost);
    void disconnectCallbacks();
    // GUI thread: disconnects, signals the stop event and waits for the thread to end. May be called
    // from inside a callback; the thread object must then outlive the callback (delete it later).
    void stop();
    // While the receive callback runs: when the batch it was given was read from the port.
    std::chrono::steady_clock::time_point batchTime() const { return batchTime_; }

protected:
    void run() override;

private:
    void handOver(); // GUI thread, when the wake event fires

    mb::port::ByteChannel& channel_;
    int stopFd_ = -1; // GUI -> thread: end now
    int wakeFd_ = -1; // thread -> GUI: a batch or a loss waits in the slot
    int doneFd_ = -1; // GUI -> thread: the batch was taken
    int setUpError_ = 0;
    QSocketNotifier* wakeNotifier_ = nullptr;

    std::mutex slotMutex_;
    std::vector<std::uint8_t> slot_;
    std::chrono::steady_clock::time_point slotTime_{};
    bool slotLost_ = false;
    int slotError_ = 0;

    bool connected_ = false; // GUI thread only
    std::chrono::steady_clock::time_point batchTime_{};
    ReceiveCallback onReceive_;
    LostCallback onLost_;
};
