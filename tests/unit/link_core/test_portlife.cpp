#include "portlife.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mb::port {
namespace {

using S = LifeState;
using E = LifeEvent;

// A port's life told as stories: each event with the state it must leave the port in. An event that
// does not apply leaves the state as it was.
TEST(PortLife, StoriesOfAPort) {
    struct Step {
        E event;
        S after;
    };
    const std::vector<std::pair<const char*, std::vector<Step>>> stories = {
        {"open and close", {{E::OpenAsked, S::Opening}, {E::Opened, S::Open}, {E::CloseAsked, S::Closed}}},
        {"busy port", {{E::OpenAsked, S::Opening}, {E::OpenFailed, S::Closed}, {E::Opened, S::Closed}}},
        {"a connect given up: nothing it ends with counts",
         {{E::OpenAsked, S::Opening},
          {E::DeviceLost, S::Opening},
          {E::CloseAsked, S::Closed},
          {E::Opened, S::Closed},
          {E::OpenFailed, S::Closed}}},
        {"unplugged, back after one early try",
         {{E::OpenAsked, S::Opening},
          {E::Opened, S::Open},
          {E::DeviceLost, S::LostWaiting},
          {E::PortAppeared, S::Reconnecting},
          {E::OpenFailed, S::LostWaiting},
          {E::PortAppeared, S::Reconnecting},
          {E::Opened, S::Open}}},
        {"given up while waiting, then while reopening",
         {{E::OpenAsked, S::Opening},
          {E::Opened, S::Open},
          {E::DeviceLost, S::LostWaiting},
          {E::CloseAsked, S::Closed},
          {E::PortAppeared, S::Closed},
          {E::OpenAsked, S::Opening},
          {E::Opened, S::Open},
          {E::DeviceLost, S::LostWaiting},
          {E::PortAppeared, S::Reconnecting},
          {E::CloseAsked, S::Closed}}},
        {"a port nothing can recognise",
         {{E::OpenAsked, S::Opening}, {E::Opened, S::Open}, {E::DeviceGone, S::Closed}}},
        {"nonsense ignored",
         {{E::Opened, S::Closed},
          {E::OpenFailed, S::Closed},
          {E::DeviceLost, S::Closed},
          {E::DeviceGone, S::Closed},
          {E::PortAppeared, S::Closed},
          {E::CloseAsked, S::Closed},
          {E::OpenAsked, S::Opening},
          {E::OpenAsked, S::Opening},
          {E::PortAppeared, S::Opening},
          {E::CloseAsked, S::Closed},
          {E::OpenAsked, S::Opening},
          {E::Opened, S::Open},
          {E::OpenAsked, S::Open},
          {E::PortAppeared, S::Open},
          {E::OpenFailed, S::Open}}},
    };
    for (const auto& [name, steps] : stories) {
        S state = S::Closed;
        for (const Step& step : steps) {
            const std::string where =
                std::string(name) + ": " + lifeEventName(step.event) + " in " + lifeStateName(state);
            state = nextLifeState(state, step.event).value_or(state);
            EXPECT_EQ(state, step.after) << where << " led to " << lifeStateName(state);
        }
    }
}

} // namespace
} // namespace mb::port
