#include "cli/Bench.h"

#include "app/ServicePages.h"
#include "app/records/VerifyProcedure.h"
#include "app/tools/SettingsSafety.h"
#include "cli/Records.h"
#include "cli/Session.h"
#include "instrument/codes.h"
#include "station/benchrun.h"
#include "station/transport.h"

#include <QJsonArray>

#include <cmath>

namespace vx::cli {
namespace {
namespace ins = vx::instrument;
namespace rec = vx::records;

std::unique_ptr<station::ScpiInstrument> connect(const char* role, const std::string& where,
                                                 const std::string& profileFile, Result* problem) {
    station::OpenedInstrument opened = station::openInstrument(role, where, profileFile);
    using F = station::OpenedInstrument::Failure;
    switch (opened.failure) {
    case F::None:
        break;
    case F::Profile:
        *problem = failed(Exit::Usage, opened.error);
        break;
    case F::Address:
        *problem = failed(Exit::Usage, std::string("--") + role + ": " + opened.error);
        break;
    case F::Unavailable:
        *problem = failed(Exit::PortUnavailable, std::string(role) + ": " + opened.error);
        problem->object.insert(QStringLiteral("failed"), QLatin1String(role));
        break;
    }
    return std::move(opened.instrument);
}

// Which of the three failed, from the run's first failure ("meter: ...", "source: ...", "unit: ...").
QJsonValue culprit(const std::string& error) {
    for (const char* role : {"meter", "source", "unit"})
        if (error.rfind(std::string(role) + ": ", 0) == 0) return QLatin1String(role);
    return {};
}

// A run that could not finish. The unit or a bench instrument that stopped answering or reported an
// error is Exit::NoReply, a store the unit did not acknowledge Exit::NotConfirmed, Ctrl-C
// Exit::Interrupted; anything else (a calibration that cannot reach its target, a reading that does not
// settle) is a failed check.
Result unfinished(const Session& s, const Outcome& unit, const std::string& error) {
    Exit status = Exit::CheckFailed;
    if (s.interrupted())
        status = Exit::Interrupted;
    else if (unit.how != Waited::Reply || error.rfind("meter: ", 0) == 0 || error.rfind("source: ", 0) == 0)
        status = Exit::NoReply;
    else if (error.find("not acknowledged") != std::string::npos)
        status = Exit::NotConfirmed;
    Result r = failed(status, error);
    r.object.insert(QStringLiteral("failed"), culprit(error));
    return r;
}

// The unit's side of the station's run: one poll cycle is one exchange of the session, with its
// command rule, its resends and its time-out.
class SessionUnit final : public station::UnitLink {
public:
    explicit SessionUnit(Session& s) : s_(s) {}
    std::optional<ins::Reply> cycle(const ins::Request& q) override {
        last_ = s_.request(q);
        if (last_.how == Waited::Reply) return last_.reply;
        return std::nullopt;
    }
    std::string error() const override { return last_.why; }
    const Outcome& last() const { return last_; }

private:
    Session& s_;
    Outcome last_{Waited::Reply, {}, {}};
};

struct Step {
    std::optional<double> value;
    std::string error; // "unit: ...", "meter: ...", "source: ..."
    Outcome unit{Waited::Reply, {}, {}};
};

// Drives the output as the output check page does and, once two replies in a row show it there, takes
// the meter's settled reading (in mA or V).
Step outputStep(Session& s, station::ScpiInstrument& meter, bool voltage, int percent) {
    Step step;
    app::RequestInputs in;
    in.outputCheckPageActive = true;
    in.outputCheckPosition = percent / 5;
    for (int i = 0, there = 0; there < 2; ++i) {
        if (i == 20) {
            step.error = "unit: the output does not reach " + std::to_string(percent) + " %";
            return step;
        }
        step.unit = s.exchange(in);
        if (step.unit.how != Waited::Reply) {
            step.error = "unit: " + step.unit.why;
            return step;
        }
        there = std::fabs(step.unit.reply.OutputFraction - percent / 100.0) < 1e-6 ? there + 1 : 0;
    }
    const station::RunOptions defaults;
    const auto v =
        station::settledReading(meter, voltage ? station::Quantity::Voltage : station::Quantity::Current,
                                defaults.meterSettle, defaults.meterReadings, &step.error);
    if (v) step.value = voltage ? *v : *v * 1000.0;
    return step;
}

// Forces the point's range as the test page does, applies the point's signal from the source and takes
// the unit's reading once fresh, settled replies hold it (the window's reading gate).
Step inputStep(Session& s, station::ScpiInstrument& source, const rec::CheckPoint& c) {
    Step step;
    app::RequestInputs in;
    in.rangeForceItem = c.range + 1;
    in.dividerForceItem = app::dividerForRange(in.rangeForceItem).value_or(0);
    const bool current = c.range == static_cast<int>(ins::kCurrentRange);
    const station::SourceSetting signal{current ? station::SourceSetting::Kind::Current
                                                : station::SourceSetting::Kind::Voltage,
                                        current ? c.nominal / 1000.0 : c.nominal};
    if (!station::applySource(source, signal)) {
        step.error = source.error();
        return step;
    }
    app::records::SettledReading gate;
    gate.arm(c, {0, in.dividerForceItem, 0, 0});
    for (int i = 0; i < 40 && !step.value; ++i) {
        gate.requestSent(app::buildRequestFields(in));
        step.unit = s.exchange(in);
        if (step.unit.how != Waited::Reply) {
            gate.failed();
            step.error = "unit: " + step.unit.why;
            return step;
        }
        step.value = gate.offer(step.unit.reply, step.unit.reply.StatusFlags & ins::kStatusInputRangeError);
    }
    if (!step.value)
        step.error = "unit: the reading of range " +
                     std::string(ins::kInputRanges[static_cast<std::size_t>(c.range)].name) +
                     " does not settle";
    return step;
}

bool identify(station::ScpiInstrument& i, Result* r) {
    if (i.identify()) return true;
    *r = failed(Exit::NoReply, i.error());
    r->object.insert(QStringLiteral("failed"), qs(i.role()));
    return false;
}

} // namespace

std::optional<Result> openBench(const Arguments& args, Bench* bench) {
    Result problem;
    if (!args.meter.empty() && !(bench->meter = connect("meter", args.meter, args.meterProfile, &problem)))
        return problem;
    if (!args.source.empty() &&
        !(bench->source = connect("source", args.source, args.sourceProfile, &problem)))
        return problem;
    return std::nullopt;
}

Result verify(const Arguments& args, Session& s, const ins::Reply& first, Bench& bench) {
    Result r;
    std::optional<RecordPlan> plan = planRecord(args, first, &r);
    if (!plan) return r;
    if (!identify(*bench.meter, &r) || !identify(*bench.source, &r)) return r;

    // The points the window's checks visit over the unit's configured scales.
    const app::tools::SettingsValues v = app::tools::valuesOf(first);
    std::vector<rec::CheckPoint> points;
    if (first.iTypeOfInstrument == ins::kVariantAnalog)
        points = rec::outputPlan(v.outputType, v.outputLow, v.outputHigh);
    const std::vector<rec::CheckPoint> input = rec::inputPlan(v.inputType, v.inputLow, v.inputHigh);
    points.insert(points.end(), input.begin(), input.end());
    app::records::VerifyProcedure procedure;
    procedure.start(args.asLeft ? rec::Phase::AsLeft : rec::Phase::AsFound, points);

    Step step;
    while (procedure.running() && step.error.empty()) {
        const rec::CheckPoint c = *procedure.current();
        step = c.range < 0 ? outputStep(s, *bench.meter, c.unit == "V", c.percent)
                           : inputStep(s, *bench.source, c);
        if (!step.value) break;
        const auto p = procedure.take(*step.value, plan->profile.tolerances, plan->profile.rule);
        if (!p) {
            step.error = "unit: no usable reading"; // never stay on a point
            break;
        }
        plan->run.points.push_back(*p);
    }
    bench.source->off(); // the signal goes before the port closes and the forcing with it
    if (!step.error.empty()) {
        // An unfinished verification is no record.
        Result u = unfinished(s, step.unit, step.error);
        u.object.insert(QStringLiteral("meter"), qs(bench.meter->identity()));
        u.object.insert(QStringLiteral("source"), qs(bench.source->identity()));
        return u;
    }
    const rec::Phase phase = procedure.phase();
    const bool passed = plan->run.passed(phase);
    r.object.insert(QStringLiteral("phase"), qs(rec::phaseKey(phase)));
    r.object.insert(QStringLiteral("passed"), passed);
    r.object.insert(QStringLiteral("meter"), qs(bench.meter->identity()));
    r.object.insert(QStringLiteral("source"), qs(bench.source->identity()));
    if (!passed) {
        r.status = Exit::CheckFailed;
        r.error = "the verification failed";
    }
    finishRecord(args, *plan, r);
    r.lines.push_back(passed ? "verification passed" : "verification FAILED");
    return r;
}

Result calibrate(const Arguments& args, Session& s, const ins::Reply& first, Bench& bench) {
    Result r;
    std::optional<RecordPlan> plan = planRecord(args, first, &r);
    if (!plan) return r;
    SessionUnit unit(s);
    station::BenchRun run(unit, *bench.meter, *bench.source, {.store = args.store});
    // Ctrl-C: the run stops at its next step, with the unit unforced and the source off.
    s.onInterrupt = [&run] { run.requestStop(); };
    const station::RunReport report = run.run();
    s.onInterrupt = nullptr;
    if (!report.ok) {
        Result u = unfinished(s, unit.last(), report.error);
        u.object.insert(QStringLiteral("outputStored"), report.outputStored);
        u.object.insert(QStringLiteral("inputStored"), report.inputStored);
        return u;
    }

    // The run's readings of every input range at its reference, as found and as left, as record points.
    const auto addPoints = [&](rec::Phase phase, const std::vector<station::VerifyPoint>& readings) {
        for (const station::VerifyPoint& p : readings) {
            const bool current = p.range == static_cast<int>(ins::kCurrentRange);
            const double limit = ins::kInputRanges[static_cast<std::size_t>(p.range)].limit;
            for (const rec::CheckPoint& c :
                 rec::inputPlan(current ? ins::kTypeCurrent : ins::kTypeVoltage, -limit, limit))
                if (c.range == p.range && c.percent == 100)
                    plan->run.points.push_back(rec::makePoint(phase, c, p.nominal, p.reading,
                                                              plan->profile.tolerances, plan->profile.rule));
        }
    };
    addPoints(rec::Phase::AsFound, report.asFound);
    addPoints(rec::Phase::AsLeft, report.asLeft);
    const std::string now = QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString();
    const app::OutputCalibrationValues& o = report.output;
    if (report.outputStored)
        plan->run.constants.push_back(
            {rec::StoredConstants::Kind::Output, {o.out4mA, o.out20mA, o.out2V, o.out10V}, now});
    if (report.inputStored) {
        std::vector<std::int64_t> values(report.low.begin(), report.low.end());
        values.insert(values.end(), report.high.begin(), report.high.end());
        plan->run.constants.push_back({rec::StoredConstants::Kind::Input, std::move(values), now});
    }

    const bool passed = plan->run.passed(rec::Phase::AsLeft);
    r.object.insert(QStringLiteral("passed"), passed);
    r.object.insert(QStringLiteral("meter"), qs(report.meterIdentity));
    r.object.insert(QStringLiteral("source"), qs(report.sourceIdentity));
    r.object.insert(QStringLiteral("outputStored"), report.outputStored);
    r.object.insert(QStringLiteral("inputStored"), report.inputStored);
    r.object.insert(QStringLiteral("output"),
                    QJsonObject{{QStringLiteral("uOut4mA"), static_cast<qint64>(o.out4mA)},
                                {QStringLiteral("uOut20mA"), static_cast<qint64>(o.out20mA)},
                                {QStringLiteral("uOut2V"), static_cast<qint64>(o.out2V)},
                                {QStringLiteral("uOut10V"), static_cast<qint64>(o.out10V)}});
    QJsonArray low, high;
    for (std::size_t i = 0; i < report.low.size(); ++i) {
        low.append(static_cast<qint64>(report.low[i]));
        high.append(static_cast<qint64>(report.high[i]));
    }
    r.object.insert(QStringLiteral("input"),
                    QJsonObject{{QStringLiteral("low"), low}, {QStringLiteral("high"), high}});
    if (!passed) {
        r.status = Exit::CheckFailed;
        r.error = "the as-left verification failed";
    }
    finishRecord(args, *plan, r);
    r.lines.push_back(
        std::string(args.store ? "calibrated and stored" : "calibrated, nothing stored (no --store)") +
        (passed ? "; as left: passed" : "; as left: FAILED"));
    return r;
}

bool meterPoint(const Arguments& args, Bench& bench, const ins::Reply& reply, int percent, QJsonObject* point,
                bool* passed, Result* r) {
    const app::tools::SettingsValues v = app::tools::valuesOf(reply);
    const bool voltage = v.outputType == ins::kTypeVoltage;
    const double span = double{v.outputHigh} - v.outputLow;
    const rec::CheckPoint c{voltage ? rec::Quantity::OutputVoltage : rec::Quantity::OutputCurrent,
                            -1,
                            percent,
                            v.outputLow + span * percent / 100.0,
                            span,
                            voltage ? "V" : "mA"};
    std::string error;
    const station::RunOptions defaults;
    const auto reading = station::settledReading(
        *bench.meter, voltage ? station::Quantity::Voltage : station::Quantity::Current, defaults.meterSettle,
        defaults.meterReadings, &error);
    if (!reading) {
        *r = failed(Exit::NoReply, error);
        r->object.insert(QStringLiteral("failed"), QStringLiteral("meter"));
        return false;
    }
    const rec::Profile profile = profileFor(args);
    const rec::Point p = rec::makePoint(rec::Phase::AsFound, c, voltage ? *reading : *reading * 1000.0,
                                        c.nominal, profile.tolerances, profile.rule);
    point->insert(QStringLiteral("nominal"), number(c.nominal));
    // Nine significant digits: more than any meter gives, fewer than the unit conversion's noise.
    const auto digits = [](double v) { return QString::number(v, 'g', 9).toDouble(); };
    point->insert(QStringLiteral("meter"), digits(p.reference));
    point->insert(QStringLiteral("errorPercentOfSpan"), digits(p.result.errorPercent));
    point->insert(QStringLiteral("limitPercentOfSpan"), digits(p.result.limit));
    point->insert(QStringLiteral("verdict"), qs(rec::verdictKey(p.result.verdict)));
    *passed = p.result.verdict == rec::Verdict::Pass;
    return true;
}

} // namespace vx::cli
