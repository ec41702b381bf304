#pragma once
// The one seam between the command-line tool and the port: open a port, send one exchange request,
// hear how it ended. Everything above it (the commands, their safety and output) is independent of how
// the bytes travel, so the tool can move onto the shared port session by replacing the one class
// behind this interface.
#include "instrument/exchange.h"
#include "link/serialport_posix.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace vx::cli {

class InstrumentLink {
public:
    virtual ~InstrumentLink() = default;

    // Opens the port at the bit rate; on failure nothing stays open and err says why.
    virtual bool open(const std::string& path, std::uint32_t baud, mb::port::OpenError* err) = 0;
    // Sends the request after delayMs; exactly one end event follows unless the link is closed first.
    virtual void send(const instrument::Request& request, unsigned delayMs) = 0;
    // Closes the port; a transaction under way ends without an event.
    virtual void close() = 0;

    // A transaction ended: the decoded reply, or none with a reason; `answered` when the instrument
    // answered with an error rather than not at all.
    std::function<void(const std::optional<instrument::Reply>& reply, bool answered,
                       const std::string& failure)>
        onEnd;
    // The device went away (unplugged, far end closed); the link is closed.
    std::function<void(const std::string& reason)> onLost;
};

// The link of this build: the shared port session as a master. replyTimeoutMs is the engine's
// time-out per attempt.
std::unique_ptr<InstrumentLink> makeSerialLink(unsigned replyTimeoutMs);

} // namespace vx::cli
