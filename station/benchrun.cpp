#include "station/benchrun.h"

#include "common/pictureformat.h"
#include "instrument/codes.h"

#include <cmath>
#include <thread>

namespace vx::station {
namespace in = vx::instrument;
namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Settling of the converter's filtered reading: two fresh replies this close (in counts).
constexpr std::int32_t kInputSettleCounts = 400;
constexpr int kInputReadings = 40;
// InputValue of a verification point: two fresh replies within this share of the reference.
constexpr double kVerifySettle = 1e-4;

} // namespace

BenchRun::BenchRun(UnitLink& unit, ScpiInstrument& meter, ScpiInstrument& source, RunOptions options)
    : unit_(unit), meter_(meter), source_(source), options_(options) {
    state_.uOut4mA = report_.output.out4mA;
    state_.uOut20mA = report_.output.out20mA;
    state_.uOut2V = report_.output.out2V;
    state_.uOut10V = report_.output.out10V;
}

bool BenchRun::fail(const std::string& what) {
    if (report_.error.empty()) report_.error = what;
    return false;
}

instrument::Request BenchRun::nextRequest() {
    // Today's date, as the window's requests carry it: a store stamps it as the calibration's date.
    state_.today = app::localToday();
    return app::buildRequestFields(state_);
}

std::optional<instrument::Reply> BenchRun::cycle() {
    if (stop_) {
        fail("stopped");
        return std::nullopt;
    }
    const auto t = Clock::now();
    const instrument::Request request = nextRequest();
    fresh_.requestSent(request);
    last_ = unit_.cycle(request);
    report_.times.cycleWait += since(t);
    ++report_.times.cycles;
    if (last_) {
        fresh_.replied(*last_);
    } else {
        fresh_.failed();
        fail("unit: " + unit_.error());
    }
    return last_;
}

bool BenchRun::applyPwm(int value) {
    // The wizard's ApplyPWMValue: the word sent follows the value, never below 1.
    state_.uPWMForce = app::pwmForceOf(value);
    // The meter reads the output once a reply shows the unit drives the new value.
    for (int i = 0; i < 5; ++i) {
        const auto r = cycle();
        if (!r) return false;
        if (r->PwmValue == state_.uPWMForce) return true;
    }
    return fail("unit: does not drive the PWM value " + std::to_string(state_.uPWMForce));
}

std::optional<double> settledReading(ScpiInstrument& meter, Quantity quantity, double relative, int readings,
                                     std::string* error, int* taken) {
    const std::chrono::milliseconds spacing = meter.profile().meterSpacing;
    std::optional<double> previous;
    for (int i = 0; i < readings; ++i) {
        if (previous && spacing.count() > 0) std::this_thread::sleep_for(spacing);
        const auto v = meter.measure(quantity);
        if (taken) ++*taken;
        if (!v) {
            *error = meter.error();
            return std::nullopt;
        }
        if (previous && std::fabs(*v - *previous) <= relative * std::max(std::fabs(*v), 1e-6)) return v;
        previous = v;
    }
    *error = meter.role() + ": the reading does not settle";
    return std::nullopt;
}

bool applySource(ScpiInstrument& source, const SourceSetting& s) {
    switch (s.kind) {
    case SourceSetting::Kind::Off:
        return source.off();
    case SourceSetting::Kind::Short:
        return source.source(Quantity::Voltage, 0.0);
    case SourceSetting::Kind::Voltage:
        return source.source(Quantity::Voltage, s.value);
    case SourceSetting::Kind::Current:
        return source.source(Quantity::Current, s.value);
    }
    return false;
}

std::optional<double> BenchRun::settledMeter(Quantity quantity) {
    ++report_.times.meterPoints;
    const auto t = Clock::now();
    std::string error;
    const auto v = settledReading(meter_, quantity, options_.meterSettle, options_.meterReadings, &error,
                                  &report_.times.meterReadings);
    report_.times.meterWait += since(t);
    if (!v) fail(error);
    return v;
}

bool BenchRun::setSource(const SourceSetting& s) {
    const auto t = Clock::now();
    const bool ok = applySource(source_, s);
    report_.times.sourceWait += since(t);
    ++report_.times.sourceSettings;
    return ok || fail(source_.error());
}

bool BenchRun::runOutput() {
    OutputAutoCalibration machine(false);
    app::OutputCalibrationValues& v = report_.output;
    std::vector<std::string>& lines = report_.outputLines;
    lines.clear(); // step 1's set-up clears the list
    OutputCommand c = machine.start();
    for (;;) {
        using K = OutputCommand::Kind;
        switch (c.kind) {
        case K::SetPwm:
        case K::Check: {
            if (!applyPwm(c.kind == K::SetPwm ? c.pwm : app::checkPointValue(c.point, v))) return false;
            const auto value = settledMeter(c.quantity);
            if (!value) return false;
            c = machine.reading(*value);
            break;
        }
        case K::Next:
            for (const app::CalibratedLine& line :
                 app::outputCalibrationNext(machine.step(), state_.uPWMForce, v)) {
                if (line.separator) lines.push_back(app::kCalibratedSeparator);
                lines.push_back(line.text);
            }
            state_.uOut4mA = v.out4mA;
            state_.uOut20mA = v.out20mA;
            state_.uOut2V = v.out2V;
            state_.uOut10V = v.out10V;
            c = machine.done();
            break;
        case K::Store:
            if (!storeCommand(in::kCmdStoreOutputCalibration)) return false;
            c = machine.done();
            break;
        case K::Finished:
            report_.checks = machine.checks();
            return true;
        case K::Failed:
            return fail(c.error);
        }
    }
}

bool BenchRun::runInput() {
    InputAutoCalibration machine(false, kInputSettleCounts, kInputReadings);
    app::InputCalibrationState s;
    report_.inputLines.clear();
    // The page switch: the analogue output stays forced where the output calibration left it.
    state_.uPWMForce = app::pwmForceOf(state_.uPWMForce);
    s.step = app::kInCalFirstState;
    auto tick = [&] {
        const app::InputCalibrationEffects e =
            app::inputCalibrationTick(s, fresh_.reading(), report_.low, report_.high);
        if (e.force) {
            state_.gainForceChannel = e.force->channel;
            state_.dividerForceItem = e.force->divider;
            state_.gainForceItem = e.force->gain;
            fresh_.expect(*e.force);
        }
        if (e.addLine) report_.inputLines.push_back(*e.addLine);
        if (e.removeLine && !report_.inputLines.empty()) report_.inputLines.pop_back();
        state_.low = report_.low;
        state_.high = report_.high;
    };
    tick();
    InputCommand c = machine.shown(s.step);
    int stale = 0; // replies in a row that could not be taken
    for (;;) {
        using K = InputCommand::Kind;
        switch (c.kind) {
        case K::Source:
            if (!setSource(c.source)) return false;
            c = machine.sourceSet();
            report_.times.waits += c.kind == K::Wait;
            break;
        case K::Wait: {
            // The source is set between cycles, so a reply that is fresh for the forcing is for the
            // source as well.
            if (!cycle()) return false;
            ++report_.times.settleCycles;
            const std::optional<app::Reading>& f = fresh_.reading();
            if (f) {
                stale = 0;
                c = machine.reading(c.channel == 0 ? f->adFiltered0 : f->adFiltered1);
            } else if (++stale > kInputReadings) {
                return fail("unit: the replies do not show the forced measuring path");
            }
            break;
        }
        case K::Next:
            s.nextRequest = true;
            tick(); // takes the reading of the latest reply
            tick(); // shows the next step
            c = machine.shown(s.step);
            break;
        case K::Store:
            if (!storeCommand(in::kCmdStoreInputCalibration)) return false;
            c = machine.stored();
            break;
        case K::Finished:
            return true;
        case K::Failed:
            return fail(c.error);
        }
    }
}

bool BenchRun::storeCommand(std::uint8_t bit) {
    // The store button stays down until the unit echoes its bit.
    state_.commandFlags |= bit;
    for (int i = 0; i < options_.storeCycles; ++i) {
        const auto r = cycle();
        if (!r) return false;
        if (r->AcknowledgeFlags & bit) {
            state_.commandFlags &= static_cast<std::uint8_t>(~bit);
            return true;
        }
    }
    state_.commandFlags &= static_cast<std::uint8_t>(~bit);
    return fail("unit: the store was not acknowledged");
}

bool BenchRun::verifyInputs(std::vector<VerifyPoint>* points) {
    points->clear();
    state_.gainForceItem = state_.gainForceChannel = state_.dividerForceItem = 0;
    for (int r = 0; r < static_cast<int>(in::kInputRangeCount); ++r) {
        const in::InputRange& range = in::kInputRanges[static_cast<std::size_t>(r)];
        const bool current = r == static_cast<int>(in::kCurrentRange);
        state_.rangeForceItem = r + 1;
        state_.dividerForceItem = app::dividerForRange(r + 1).value_or(0);
        fresh_.expect({0, state_.dividerForceItem, 0, state_.rangeForceItem});
        const double ref = range.referenceValue;
        if (!setSource({current ? SourceSetting::Kind::Current : SourceSetting::Kind::Voltage,
                        current ? ref / 1000.0 : ref}))
            return false;
        std::optional<double> previous;
        bool settled = false;
        ++report_.times.waits;
        for (int i = 0; i < kInputReadings && !settled; ++i) {
            const auto reply = cycle();
            if (!reply) return false;
            ++report_.times.settleCycles;
            if (!fresh_.reading()) {
                previous.reset();
                continue;
            }
            if (previous && std::fabs(reply->InputValue - *previous) <= kVerifySettle * ref) {
                points->push_back({r, ref, reply->InputValue, (reply->InputValue - ref) / ref * 100.0});
                settled = true;
            }
            previous = reply->InputValue;
        }
        if (!settled)
            return fail("unit: the reading of range " + std::string(range.name) + " does not settle");
    }
    state_.rangeForceItem = state_.dividerForceItem = 0;
    return setSource({});
}

void BenchRun::unforce() {
    state_.uPWMForce = 0;
    state_.commandFlags = 0; // a store not yet acknowledged is withdrawn
    state_.gainForceItem = state_.gainForceChannel = state_.dividerForceItem = state_.rangeForceItem = 0;
    source_.off();
    // One cycle carries it to the unit, unless the link is what failed or the run was stopped from
    // outside (then whoever owns the link closes it, which leaves the unit unforced as well).
    if (last_ && !stop_) last_ = unit_.cycle(nextRequest());
}

RunReport BenchRun::run() {
    const auto start = Clock::now();
    bool ok = meter_.identify() || fail(meter_.error());
    ok = ok && (source_.identify() || fail(source_.error()));
    report_.meterIdentity = meter_.identity();
    report_.sourceIdentity = source_.identity();
    ok = ok && cycle().has_value();

    auto timed = [&](double* slot, auto&& part) {
        const auto t = Clock::now();
        ok = ok && part();
        *slot += since(t);
    };
    if (options_.verify) timed(&report_.times.verify, [&] { return verifyInputs(&report_.asFound); });
    if (options_.output) timed(&report_.times.output, [&] { return runOutput(); });
    if (options_.input) timed(&report_.times.input, [&] { return runInput(); });
    // Both stores wait until both calibrations went through: a run that fails stores nothing.
    if (options_.store) {
        timed(&report_.times.store, [&] {
            state_.gainForceItem = state_.gainForceChannel = state_.dividerForceItem = 0;
            if (options_.output && !storeCommand(in::kCmdStoreOutputCalibration)) return false;
            report_.outputStored = options_.output;
            if (options_.input && !storeCommand(in::kCmdStoreInputCalibration)) return false;
            report_.inputStored = options_.input;
            return true;
        });
    }
    if (ok) state_.uPWMForce = 0; // the output back to the unit before the as-left readings
    if (options_.verify) timed(&report_.times.verify, [&] { return verifyInputs(&report_.asLeft); });
    unforce();
    report_.ok = ok;
    report_.times.total = since(start);
    return report_;
}

} // namespace vx::station
