#include "app/tools/LinkGaps.h"

namespace vx::app::tools {

std::string LinkGaps::failed(Outcome outcome, std::uint8_t slaveError) {
    if (lost_ || outcome == Outcome::Ok) return {};
    lost_ = true;
    return "link lost: " + outcomeText(outcome, slaveError);
}

std::string LinkGaps::replied() {
    if (!lost_) return {};
    lost_ = false;
    return "link back";
}

} // namespace vx::app::tools
