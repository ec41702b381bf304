#pragma once
// What the link engine needs from the world around it: a port to write to, timers, and a panel to show
// its state on. The Qt component, the simulator and the tests each implement it.
#include "mbtypes.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace mb {

enum class LinkTimer : std::uint8_t {
    TimeOut,     // reply time-out, single shot
    DelayedSend, // delayed send and responder reply delay, single shot
    Statistics   // the one-second statistics period, periodic
};

class LinkHost {
public:
    virtual ~LinkHost() = default;

    // Queues the bytes for the port as one write. False when the port is not open or the write failed.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // A send has written all its bytes. A host that gathers the writes of one frame into a single
    // system call hands them to the port here; the line sees the same characters in the same order.
    virtual void writesDone() {}
    // Starting a running timer restarts it with the new interval.
    virtual void startTimer(LinkTimer t, unsigned ms) = 0;
    virtual void stopTimer(LinkTimer t) = 0;

    // Panel effects; a host without a panel leaves them empty.
    virtual void flashTx() {} // Tx lamp on, off again 100 ms after the last flash
    virtual void flashRx() {} // Rx lamp likewise
    virtual void txLampOff() {}
    virtual void lampsReset() {} // Tx, Rx and status lamps back to neutral (the port lamp too while closed)
    virtual void statusShown(TMBStatus /*status*/, const std::string& /*text*/) {} // last-status line, lamp
    virtual void attemptShown(std::uint8_t /*attempt*/) {}
    virtual void countersChanged() {}
    virtual void speedChanged() {}
    virtual void modeChanged() {} // caption, unit word and attempt indicator follow the mode
};

} // namespace mb
