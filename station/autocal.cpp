#include "station/autocal.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vx::station {

const std::array<OutputTarget, 4> kOutputTargets{{
    {1, Quantity::Current, 0.004, 0.024},
    {2, Quantity::Current, 0.020, 0.024},
    {4, Quantity::Voltage, 2.0, 12.0},
    {5, Quantity::Voltage, 10.0, 12.0},
}};

namespace {

constexpr int kSecantLimit = 10;
constexpr int kRefineLimit = 16;
constexpr int kFirstStride = 512; // counts between the secant's first two points

std::string number(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 7);
    return std::string(buf, r.ptr);
}

const char* unitOf(Quantity q) {
    return q == Quantity::Current ? " A" : " V";
}

} // namespace

OutputAutoCalibration::OutputAutoCalibration(bool store, double checkTolerancePercent)
    : store_(store), tolerance_(checkTolerancePercent) {}

const OutputTarget& OutputAutoCalibration::target() const {
    return *std::find_if(kOutputTargets.begin(), kOutputTargets.end(),
                         [this](const OutputTarget& t) { return t.step == step_; });
}

OutputCommand OutputAutoCalibration::fail(std::string what) {
    phase_ = Phase::Idle;
    OutputCommand c;
    c.error = "output calibration, step " + std::to_string(step_) + ": " + std::move(what);
    return c;
}

OutputCommand OutputAutoCalibration::set(int pwm) {
    pwm_ = std::clamp(pwm, 1, app::kPwmFull); // the value sent is never 0 on this page
    OutputCommand c{OutputCommand::Kind::SetPwm};
    c.pwm = pwm_;
    c.quantity = target().quantity;
    return c;
}

OutputCommand OutputAutoCalibration::start() {
    step_ = 1;
    readings_ = 0;
    checks_.clear();
    return beginStep();
}

OutputCommand OutputAutoCalibration::beginStep() {
    if (step_ == 3 || step_ == 6) {
        phase_ = Phase::Check;
        OutputCommand c{OutputCommand::Kind::Check};
        c.point = step_ == 3 ? app::CheckPoint::I12mA : app::CheckPoint::U6V;
        c.quantity = step_ == 3 ? Quantity::Current : Quantity::Voltage;
        return c;
    }
    if (step_ == 7) {
        phase_ = Phase::Idle;
        return {store_ ? OutputCommand::Kind::Store : OutputCommand::Kind::Finished};
    }
    phase_ = Phase::Secant;
    previous_.reset();
    iterations_ = 0;
    const OutputTarget& t = target();
    return set(static_cast<int>(std::lround(t.target / t.nominalFull * app::kPwmFull)));
}

OutputCommand OutputAutoCalibration::reading(double value) {
    ++readings_;
    if (!std::isfinite(value)) return fail("the meter gave no number");
    if (phase_ == Phase::Check) {
        const bool current = step_ == 3;
        const double expected = current ? 0.012 : 6.0, span = current ? 0.016 : 8.0;
        const CheckResult r{current ? app::CheckPoint::I12mA : app::CheckPoint::U6V, expected, value,
                            (value - expected) / span * 100.0};
        checks_.push_back(r);
        if (std::fabs(r.errorPercent) > tolerance_)
            return fail("the mid-point reads " + number(value) + (current ? " A" : " V") + ", " +
                        number(r.errorPercent) + " % of span off");
        return {OutputCommand::Kind::Next};
    }
    if (phase_ == Phase::Final) return {OutputCommand::Kind::Next};
    if (phase_ == Phase::Idle) return fail("a reading nobody asked for");

    const double goal = target().target;
    if (phase_ == Phase::Secant) {
        if (!previous_) {
            previous_ = {pwm_, value};
            const int next = pwm_ + (value < goal ? kFirstStride : -kFirstStride);
            if (std::clamp(next, 1, app::kPwmFull) == pwm_) return fail("the output cannot reach the target");
            return set(next);
        }
        const auto [p0, y0] = *previous_;
        if (value == y0 || p0 == pwm_)
            return fail("the output does not follow the PWM value (reads " + number(value) +
                        unitOf(target().quantity) + " at " + std::to_string(pwm_) + ")");
        slopeSign_ = (value - y0) / (pwm_ - p0) > 0 ? 1.0 : -1.0;
        countStep_ = std::fabs((value - y0) / (pwm_ - p0));
        const double estimate = pwm_ + (goal - value) * (pwm_ - p0) / (value - y0);
        if (++iterations_ > kSecantLimit || !std::isfinite(estimate))
            return fail("no PWM value gives " + number(goal) + unitOf(target().quantity));
        const int next = static_cast<int>(std::lround(std::clamp(estimate, 0.0, double{app::kPwmFull})));
        if (std::abs(next - pwm_) > 1) {
            previous_ = {pwm_, value};
            return set(next);
        }
        // Close enough for the line: the last counts are settled by readings one count apart.
        phase_ = Phase::Refine;
        best_ = {pwm_, value};
        dir_ = ((goal - value) > 0 ? 1 : -1) * static_cast<int>(slopeSign_);
        iterations_ = 0;
        return set(pwm_ + dir_);
    }
    // Refine: walk one count at a time while it gets closer; stop where it crosses the target.
    const bool closer = std::fabs(value - goal) < std::fabs(best_.second - goal);
    const bool crossed = (value - goal) * (best_.second - goal) <= 0;
    if (closer) best_ = {pwm_, value};
    if (closer && !crossed && ++iterations_ <= kRefineLimit && pwm_ + dir_ >= 1 &&
        pwm_ + dir_ <= app::kPwmFull)
        return set(pwm_ + dir_);
    if (closer && !crossed && iterations_ > kRefineLimit)
        return fail("the output does not settle near " + number(goal) + unitOf(target().quantity));
    // Further off than a count or two: the output is limited before the target.
    if (std::fabs(best_.second - goal) > 2.0 * countStep_)
        return fail("no PWM value gives " + number(goal) + unitOf(target().quantity) + " (best " +
                    number(best_.second) + " at " + std::to_string(best_.first) + ")");
    if (best_.first == pwm_) return {OutputCommand::Kind::Next};
    phase_ = Phase::Final;
    return set(best_.first);
}

OutputCommand OutputAutoCalibration::done() {
    if (step_ == 7) return {OutputCommand::Kind::Finished};
    ++step_;
    return beginStep();
}

// ---------------------------------------------------------------------------------------------------

namespace {

// "0,2 V" -> 0.2 V, "20 mA" -> 0.02 A (the decimal comma of the step texts).
bool parseReference(std::string_view text, double* value, bool* current) {
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return false;
    std::string digits(text.substr(0, space));
    std::replace(digits.begin(), digits.end(), ',', '.');
    double v = 0;
    const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (digits.empty() || ec != std::errc{} || ptr != digits.data() + digits.size()) return false;
    const std::string_view unit = text.substr(space + 1);
    if (unit == "V" || unit == "A") {
        *value = v;
    } else if (unit == "mV" || unit == "mA") {
        *value = v / 1000.0;
    } else {
        return false;
    }
    *current = unit.ends_with('A');
    return true;
}

} // namespace

std::optional<SourceSetting> sourceForStep(std::string_view heading, std::string_view instruction,
                                           const instrument::InputRange& range, std::string* error) {
    using Kind = SourceSetting::Kind;
    const bool currentRange = range.reference.ends_with("mA");
    if (instruction.find("Zárja össze") != std::string_view::npos ||
        instruction.find("Hagyja összezárva") != std::string_view::npos)
        return SourceSetting{currentRange ? Kind::Off : Kind::Short, 0.0};
    if (instruction.find("Hagyja nyitva") != std::string_view::npos) return SourceSetting{Kind::Off, 0.0};
    const bool voltage = instruction.find("kalibráló feszültséget") != std::string_view::npos;
    const bool current = instruction.find("Folyassa") != std::string_view::npos;
    const std::size_t colon = heading.rfind(": ");
    double value = 0;
    bool isCurrent = false;
    if ((!voltage && !current) || colon == std::string_view::npos ||
        !parseReference(heading.substr(colon + 2), &value, &isCurrent) || isCurrent != current) {
        *error = "no source setting for \"" + std::string(heading) + "\"";
        return std::nullopt;
    }
    // The range's end in its own unit (volts, or milliamperes on the current range).
    const double inRangeUnit = current ? value * 1000.0 : value;
    if (currentRange != current || std::fabs(inRangeUnit) > range.limit) {
        *error = "refused: \"" + std::string(heading) + "\" lies beyond the range " + std::string(range.name);
        return std::nullopt;
    }
    return SourceSetting{current ? Kind::Current : Kind::Voltage, value};
}

const std::array<std::optional<SourceSetting>, app::kInputCalibrationSteps>& inputSignalTable() {
    static const auto table = [] {
        std::array<std::optional<SourceSetting>, app::kInputCalibrationSteps> t;
        for (std::size_t i = 0; i < t.size(); ++i) {
            const app::InputCalibrationRow& row = app::kInputCalibrationTable[i];
            std::string error;
            t[i] = sourceForStep(app::inputCalibrationHeading(row),
                                 app::inputCalibrationInstruction(row.instruction),
                                 instrument::kInputRanges[static_cast<std::size_t>(row.pair - 1)], &error);
        }
        return t;
    }();
    return table;
}

InputAutoCalibration::InputAutoCalibration(bool store, std::int32_t settleCounts, int maxReadings)
    : store_(store), settle_(settleCounts), maxReadings_(maxReadings) {}

InputCommand InputAutoCalibration::fail(std::string what) {
    InputCommand c;
    c.error = "input calibration" +
              (index_ >= 0 && index_ < app::kInputCalibrationSteps
                   ? ", " + app::inputCalibrationHeading(
                                app::kInputCalibrationTable[static_cast<std::size_t>(index_)])
                   : std::string()) +
              ": " + std::move(what);
    return c;
}

InputCommand InputAutoCalibration::shown(int inCalStep) {
    last_.reset();
    count_ = 0;
    if (inCalStep == 0) {
        closing_ = true;
        index_ = app::kInputCalibrationSteps;
        return {InputCommand::Kind::Source, SourceSetting{}};
    }
    const int index = inCalStep / 10 - 1;
    if (inCalStep % 10 != 1 || index < 0 || index >= app::kInputCalibrationSteps)
        return fail("the procedure is in state " + std::to_string(inCalStep));
    index_ = index;
    const auto& setting = inputSignalTable()[static_cast<std::size_t>(index)];
    if (!setting) return fail("no source setting for this step");
    return {InputCommand::Kind::Source, *setting};
}

InputCommand InputAutoCalibration::sourceSet() {
    if (closing_) return {store_ ? InputCommand::Kind::Store : InputCommand::Kind::Finished};
    if (index_ < 0) return fail("the source was set before any step");
    InputCommand c{InputCommand::Kind::Wait};
    c.channel = app::kInputCalibrationTable[static_cast<std::size_t>(index_)].channel;
    return c;
}

InputCommand InputAutoCalibration::reading(std::int32_t counts) {
    if (closing_ || index_ < 0) return fail("a reading nobody asked for");
    ++count_;
    if (last_ && std::abs(std::int64_t{counts} - *last_) <= settle_) return {InputCommand::Kind::Next};
    last_ = counts;
    if (count_ >= maxReadings_) return fail("the reading does not settle");
    InputCommand c{InputCommand::Kind::Wait};
    c.channel = app::kInputCalibrationTable[static_cast<std::size_t>(index_)].channel;
    return c;
}

InputCommand InputAutoCalibration::stored() {
    return {InputCommand::Kind::Finished};
}

} // namespace vx::station
