#pragma once
// Where a recording's rows stop and start again: one event row when the replies stop (how the last
// transaction ended) and one when they come back, so a gap in the file explains itself. Pure.
#include "app/tools/Traffic.h"

#include <string>

namespace vx::app::tools {

class LinkGaps {
public:
    // A transaction ended without a reply: the event that marks the loss, empty when it is marked already.
    std::string failed(Outcome outcome, std::uint8_t slaveError);
    // A good reply: the event that marks the return, empty when nothing was lost.
    std::string replied();
    // A new recording starts with the link taken as fine.
    void reset() { lost_ = false; }
    bool lost() const { return lost_; }

private:
    bool lost_ = false;
};

} // namespace vx::app::tools
