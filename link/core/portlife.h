#pragma once
// The life of the link's port as one table: which event moves it from which state to which. The port
// session asks the table before it acts, so an event that makes no sense in the current state (a second
// Open, a device lost while closed, a port appearing nobody waits for) changes nothing.
#include <cstdint>
#include <optional>

namespace mb::port {

enum class LifeState : std::uint8_t {
    Closed,       // no port, no receive thread
    Opening,      // the user's open under way
    Open,         // the link runs on the port
    LostWaiting,  // the device went away; the link waits for the same device to return
    Reconnecting, // it is back and being opened again
};

enum class LifeEvent : std::uint8_t {
    OpenAsked,    // Open pressed, or a program asked for a port
    Opened,       // the port and its receive thread are up
    OpenFailed,   // the port could not be opened (or not yet, while reconnecting)
    DeviceLost,   // hang-up or error on an open port that can come back as itself
    DeviceGone,   // the same, for a port nothing can recognise again: closed for good
    PortAppeared, // the awaited port is listed and free again
    CloseAsked,   // Close pressed, or a program closed the port
};

inline constexpr int kLifeStateCount = 5;
inline constexpr int kLifeEventCount = 7;

// The state `event` leads to from `from`; nothing when the event is ignored there.
std::optional<LifeState> nextLifeState(LifeState from, LifeEvent event);

const char* lifeStateName(LifeState s);
const char* lifeEventName(LifeEvent e);

} // namespace mb::port
