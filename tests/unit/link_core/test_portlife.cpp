#include "portlife.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mb::port {
namespace {

using S = LifeState;
using E = LifeEvent;

// A port's life told as a story: each event with the state it must leave the port in. An event that
// does not apply leaves the state as it was.
TEST(PortLife, StoriesOfAPort) {
    struct Step {
        E event;
        S after;
    };
    struct Story {
        const char* name;
        std::vector<Step> steps;
    };
    const Story stories[] = {
        {"open and close", {{E::OpenAsked, S::Opening}, {E::Opened, S::Open}, {E::CloseAsked, S::Closed}}},
        {"busy port", {{E::OpenAsked, S::Opening}, {E::OpenFailed, S::Closed}, {E::Opened, S::Closed}}},
        {"unplugged, back after one early try",
         {{E::OpenAsked, S::Opening},
          {E::Opened, S::Open},
          {E::DeviceLost, S::LostWaiting},
          {E::PortAppeared, S::Reconnecting},
          {E::OpenFailed, S::LostWaiting},
          {E::PortAppeared, S::Reconnecting},
          {E::Opened, S::Open}}},
        {"given up while waiting",
         {{E::OpenAsked, S::Opening},
          {E::Opened, S::Open},
          {E::DeviceLost, S::LostWaiting},
          {E::CloseAsked, S::Closed},
          {E::PortAppeared, S::Closed}}},
        {"a port nothing can recognise",
         {{E::OpenAsked, S::Opening}, {E::Opened, S::Open}, {E::DeviceGone, S::Closed}}},
        {"nonsense ignored",
         {{E::Opened, S::Closed},
          {E::DeviceLost, S::Closed},
          {E::CloseAsked, S::Closed},
          {E::OpenAsked, S::Opening},
          {E::OpenAsked, S::Opening},
          {E::PortAppeared, S::Opening},
          {E::Opened, S::Open},
          {E::OpenAsked, S::Open},
          {E::PortAppeared, S::Open},
          {E::OpenFailed, S::Open}}},
    };
    for (const Story& story : stories) {
        S state = S::Closed;
        for (const Step& step : story.steps) {
            const std::string where =
                std::string(story.name) + ": " + lifeEventName(step.event) + " in " + lifeStateName(state);
            state = nextLifeState(state, step.event).value_or(state);
            EXPECT_EQ(state, step.after) << where << " led to " << lifeStateName(state);
        }
    }
}

// Whatever happened, Close ends in closed, and only Open leaves it.
TEST(PortLife, CloseAlwaysWorksAndOnlyOpenLeavesClosed) {
    for (int s = 1; s < kLifeStateCount; ++s)
        EXPECT_EQ(nextLifeState(static_cast<S>(s), E::CloseAsked), S::Closed)
            << lifeStateName(static_cast<S>(s));
    for (int e = 0; e < kLifeEventCount; ++e) {
        const auto next = nextLifeState(S::Closed, static_cast<E>(e));
        EXPECT_EQ(next.has_value(), static_cast<E>(e) == E::OpenAsked) << lifeEventName(static_cast<E>(e));
    }
}

} // namespace
} // namespace mb::port
