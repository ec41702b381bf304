#pragma once
// TCommThread: the receive side of an open port. It only waits for bytes or for its stop event and
// hands every batch to the GUI thread, where the decoder, the engine and every event run. The hand-over
// is synchronous (the thread waits until the GUI thread has taken the batch) but can always be
// abandoned by the stop event, so closing never waits on a GUI thread that is itself waiting.
#include "link/bytechannel.h"

#include <QThread>

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

class TCommThread : public QThread {
    Q_OBJECT
public:
    using ReceiveCallback = std::function<void(std::span<const std::uint8_t> bytes)>;
    // The device is gone (hang-up, I/O error); error is the errno or 0. The thread has ended its loop.
    using LostCallback = std::function<void(int error)>;

    // The callbacks run in the thread of `gui`; if `gui` is destroyed, pending hand-overs are dropped.
    TCommThread(mb::port::ByteChannel& channel, QObject* gui);
    ~TCommThread() override;

    // GUI thread. Connect before start(); a disconnected hand-over that is still queued does nothing.
    void connectCallbacks(ReceiveCallback onReceive, LostCallback onLost);
    void disconnectCallbacks();
    // GUI thread: disconnects, signals the stop event and waits for the thread to end.
    void stop();

protected:
    void run() override;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
    mb::port::ByteChannel& channel_;
    QObject* gui_;
    int stopFd_ = -1;
};
