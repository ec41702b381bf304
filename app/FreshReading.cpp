#include "app/FreshReading.h"

#include "instrument/codes.h"

namespace vx::app {

namespace ins = vx::instrument;

void FreshReading::expect(const ForceSelection& path) {
    expected_ = path;
    inFlightCarries_ = false; // the request under way was built before this forcing
    reading_.reset();
}

void FreshReading::requestSent(const ins::Request& q) {
    inFlightCarries_ = expected_ &&
                       q.GainForceCode == ins::gainForceCode(expected_->gain, expected_->channel == 1) &&
                       q.DividerForceCode == ins::dividerForceCode(expected_->divider) &&
                       q.RangeForceCode == ins::rangeForceCode(expected_->range);
}

void FreshReading::replied(const ins::Reply& reply) {
    if (expected_ && inFlightCarries_ && reportsPath(reply, *expected_))
        reading_ = Reading{reply.AdFiltered0, reply.AdFiltered1};
    else
        reading_.reset();
}

void FreshReading::failed() {
    inFlightCarries_ = false;
    reading_.reset();
}

bool FreshReading::reportsPath(const ins::Reply& reply, const ForceSelection& path) {
    // Gain item n forces the gain 2^(n-1), divider item n the level n-1, range item n the range n-1. An item
    // that forces nothing leaves the instrument's own choice, which is not checked.
    if (path.gain > 0) {
        const unsigned gain = 1u << (path.gain - 1);
        if ((path.channel == 1 ? reply.GainCh1 : reply.GainCh0) != gain) return false;
    }
    if (path.divider > 0 && reply.uDivider != path.divider - 1) return false;
    if (path.range > 0 && reply.InputRangeIndex != path.range - 1) return false;
    return true;
}

} // namespace vx::app
