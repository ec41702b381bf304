#pragma once
// One verification check as a small machine without a window: the points of the plan in order, the
// value the engineer or the reading gate supplies for each, and the points recorded. The output check
// is fed the reference meter's reading (the unit drives the nominal); the input check is fed the
// unit's reading once the engineer has applied the nominal signal and a fresh, settled reply holds it.
#include "instrument/exchange.h"
#include "records/run.h"

#include <cmath>
#include <optional>
#include <vector>

namespace vx::app::records {
namespace rec = vx::records;

// The reading gate behind the input check: a value is taken only from a reply to a request sent after
// the engineer confirmed the signal (the first reply after the confirmation may answer an older
// request), on the range the point is for, without a range error, once two such replies agree to
// within maxStep (percent of the range's span).
class SettledReading {
public:
    explicit SettledReading(double maxStepPercent = 0.002) : maxStep_(maxStepPercent) {}
    void arm(const rec::CheckPoint& point) {
        point_ = point;
        replies_ = 0;
        last_.reset();
    }
    void disarm() { point_.reset(); }
    bool armed() const { return point_.has_value(); }
    std::optional<double> offer(const instrument::Reply& r, bool rangeError) {
        if (!point_ || ++replies_ < 2) return std::nullopt;
        if (r.InputRangeIndex != point_->range || rangeError || !std::isfinite(r.InputValue)) {
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
    int replies_ = 0;
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
