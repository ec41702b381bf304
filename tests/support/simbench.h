#pragma once
// A simulated bench for the automatic calibration's tests and benchmark: the unit's link as the poll
// cycle drives it (one request every 50 ms through the simulator harness's master) and the simulator's
// SCPI meter and source.
#include "sim/harness.h"
#include "station/benchrun.h"
#include "station/transport.h"

#include <memory>
#include <string>

namespace vx::testing {

class SimUnitLink : public station::UnitLink {
public:
    explicit SimUnitLink(const std::string& device) : master_(device) {}
    std::optional<instrument::Reply> cycle(const instrument::Request& request) override {
        const sim::Outcome o = master_.exchange(request, std::chrono::milliseconds(3000), 50);
        if (o.ended && o.status == mb::stOK) return o.reply;
        error_ = o.ended ? "no good reply (" + o.text + ")" : "no reply";
        return std::nullopt;
    }
    std::string error() const override { return error_; }

private:
    sim::Master master_;
    std::string error_;
};

// An instrument at "tcp:HOST:PORT" or a device path, with `profile`; a transport wrapped by `wrap` when
// given (to unplug it in a test). Null when it cannot be opened.
template <typename Wrap = std::nullptr_t>
std::unique_ptr<station::ScpiInstrument> openInstrument(const std::string& role, const std::string& where,
                                                        Wrap wrap = nullptr,
                                                        station::ScpiProfile profile = {}) {
    station::Endpoint e;
    std::string error;
    if (!station::parseEndpoint(where, &e, &error)) return nullptr;
    e.baud = 115200;
    auto t = station::openTransport(e, std::chrono::milliseconds(2000), &error);
    if (!t) return nullptr;
    if constexpr (!std::is_same_v<Wrap, std::nullptr_t>) t = wrap(std::move(t));
    return std::make_unique<station::ScpiInstrument>(role, std::move(t), std::move(profile));
}

} // namespace vx::testing
