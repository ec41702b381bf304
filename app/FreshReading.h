#pragma once
// Whether the converter readings of the latest reply may be taken as a calibration (or verification)
// reading of the measuring path that is being forced, without a window.
//
// The rule: a reading counts only when it comes from a good reply that answers a request which
// already carried the forcing the step asks for, and, since the reply also reports the gains, the CH1
// divider and the range in force, only when those match the forcing. A reply to an older request, a failed
// transaction or a closed port leaves no reading until the next good reply to a forcing request.
//
// Use: expect() when a step sets its forcing, requestSent() with every request's forcing codes,
// replied() or failed() at the end of every transaction, and reading() when the operator takes it.
#include "instrument/exchange.h"

#include <cstdint>
#include <optional>

namespace vx::app {

// The measuring path a step forces, as the test page's selections: channel (0 CH0, 1 CH1), divider
// item (0 off, 1..3 levels 0..2), gain item (0 off, 1..6 gains 1..32), range item (0 off, 1..7).
struct ForceSelection {
    int channel = 0, divider = 0, gain = 0, range = 0;
    bool operator==(const ForceSelection&) const = default;
};

struct Reading {
    std::int32_t adFiltered0 = 0, adFiltered1 = 0;
};

class FreshReading {
public:
    // A new step: readings taken so far belong to the previous one.
    void expect(const ForceSelection& path);
    // The forcing codes of the request just sent.
    void requestSent(const instrument::Request& request);
    void replied(const instrument::Reply& reply);
    // A transaction without a good reply, or the port closed.
    void failed();
    // The reading to take now, if there is one.
    const std::optional<Reading>& reading() const { return reading_; }

    // Whether a reply's reported gains, divider and range are those the path forces.
    static bool reportsPath(const instrument::Reply& reply, const ForceSelection& path);

private:
    std::optional<ForceSelection> expected_;
    bool inFlightCarries_ = false; // the request under way carries the expected forcing
    std::optional<Reading> reading_;
};

} // namespace vx::app
