#include "portlife.h"

#include <array>

namespace mb::port {

namespace {

struct Transition {
    LifeState from;
    LifeEvent event;
    LifeState to;
};

using S = LifeState;
using E = LifeEvent;

constexpr std::array kTable{
    Transition{S::Closed, E::OpenAsked, S::Opening},
    Transition{S::Opening, E::Opened, S::Open},
    Transition{S::Opening, E::OpenFailed, S::Closed},
    Transition{S::Opening, E::CloseAsked, S::Closed},
    Transition{S::Open, E::DeviceLost, S::LostWaiting},
    Transition{S::Open, E::DeviceGone, S::Closed},
    Transition{S::Open, E::CloseAsked, S::Closed},
    Transition{S::LostWaiting, E::PortAppeared, S::Reconnecting},
    Transition{S::LostWaiting, E::CloseAsked, S::Closed},
    Transition{S::Reconnecting, E::Opened, S::Open},
    Transition{S::Reconnecting, E::OpenFailed, S::LostWaiting},
    Transition{S::Reconnecting, E::CloseAsked, S::Closed},
};

} // namespace

std::optional<LifeState> nextLifeState(LifeState from, LifeEvent event) {
    for (const Transition& t : kTable)
        if (t.from == from && t.event == event) return t.to;
    return std::nullopt;
}

const char* lifeStateName(LifeState s) {
    switch (s) {
    case S::Closed:
        return "closed";
    case S::Opening:
        return "opening";
    case S::Open:
        return "open";
    case S::LostWaiting:
        return "lost, waiting";
    case S::Reconnecting:
        return "reconnecting";
    }
    return "?";
}

const char* lifeEventName(LifeEvent e) {
    switch (e) {
    case E::OpenAsked:
        return "open asked";
    case E::Opened:
        return "opened";
    case E::OpenFailed:
        return "open failed";
    case E::DeviceLost:
        return "device lost";
    case E::DeviceGone:
        return "device gone";
    case E::PortAppeared:
        return "port appeared";
    case E::CloseAsked:
        return "close asked";
    }
    return "?";
}

} // namespace mb::port
