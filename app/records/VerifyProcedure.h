#pragma once
// One verification check as a small machine without a window: the points of the plan in order, the
// value the engineer or the reading gate supplies for each, and the points recorded. The output check
// is fed the reference meter's reading (the unit drives the nominal); the input check is fed the
// unit's reading once the engineer has applied the nominal signal and a fresh, settled reply holds it.
#include "app/FreshReading.h"
#include "instrument/exchange.h"
#include "records/run.h"

#include <cmath>
#include <optional>
#include <vector>

namespace vx::app::records {
namespace rec = vx::records;

// The reading gate behind the input check. Fresh by the window's one rule (FreshReading): a good reply to
// a request sent after the engineer confirmed the signal, carrying the forcing in force with the point's
// range, and reporting that path. Settled here: two fresh replies in a row, without a range error, that
// agree to within maxStep (percent of the range's span).
class SettledReading {
public:
    explicit SettledReading(double maxStepPercent = 0.002) : maxStep_(maxStepPercent) {}
    // path: what the window forces besides the range; the range forced is the point's.
    void arm(const rec::CheckPoint& point, ForceSelection path) {
        point_ = point;
        last_.reset();
        path.range = point.range + 1;
        fresh_.expect(path); // the request under way went out before the signal was applied
    }
    void disarm() { point_.reset(); }
    bool armed() const { return point_.has_value(); }
    void requestSent(const instrument::Request& q) { fresh_.requestSent(q); }
    void failed() {
        fresh_.failed();
        last_.reset();
    }
    std::optional<double> offer(const instrument::Reply& r, bool rangeError) {
        fresh_.replied(r);
        if (!point_) return std::nullopt;
        if (!fresh_.reading() || rangeError || !std::isfinite(r.InputValue)) {
            last_.reset();
            return std::nullopt;
        }
        const std::optional<double> previous = last_;
        last_ = r.InputValue;
        if (!previous || std::fabs(r.InputValue - *previous) > maxStep_ / 100 * point_->span)
            return std::nullopt;
        point_.reset();
        return r.InputValue;
    }

private:
    double maxStep_;
    std::optional<rec::CheckPoint> point_;
    FreshReading fresh_;
    std::optional<double> last_;
};

class VerifyProcedure {
public:
    void start(rec::Phase phase, std::vector<rec::CheckPoint> plan) {
        phase_ = phase;
        plan_ = std::move(plan);
        next_ = 0;
    }
    void stop() { plan_.clear(), next_ = 0; }
    bool running() const { return next_ < plan_.size(); }
    bool output() const { return running() && plan_[next_].range < 0; }
    const rec::CheckPoint* current() const { return running() ? &plan_[next_] : nullptr; }
    std::size_t index() const { return next_; }
    std::size_t size() const { return plan_.size(); }
    rec::Phase phase() const { return phase_; }
    // The value for the current point: the meter's reading on the output, the unit's on the input.
    std::optional<rec::Point> take(double value, const rec::Tolerances& t, const rec::DecisionRule& rule) {
        if (!running() || !std::isfinite(value)) return std::nullopt;
        const rec::CheckPoint& c = plan_[next_++];
        return c.range < 0 ? rec::makePoint(phase_, c, value, c.nominal, t, rule)
                           : rec::makePoint(phase_, c, c.nominal, value, t, rule);
    }

private:
    rec::Phase phase_ = rec::Phase::AsFound;
    std::vector<rec::CheckPoint> plan_;
    std::size_t next_ = 0;
};

} // namespace vx::app::records
