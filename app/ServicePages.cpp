#include "app/ServicePages.h"

#include "common/pictureformat.h"
#include "common/rounding.h"

#include <algorithm>

namespace vx::app {

// ---- PWM value

std::uint16_t pwmForceOf(int value) {
    return static_cast<std::uint16_t>(std::clamp(value, 1, kPwmFull));
}

int pwmPercent(int value) {
    return roundToInt(value * 100.0 / kPwmFull);
}

int pwmFromTrackBar(int position) {
    return std::clamp(roundToInt(position * static_cast<double>(kPwmFull) / 100.0), 0, kPwmFull);
}

int pwmMidpoint(int a, int b) {
    return roundToInt((static_cast<double>(a) + static_cast<double>(b)) / 2.0);
}

const std::array<PwmButton, 13> kPwmButtons{{{"Button1", -10000, {}},
                                             {"Button2", -1000, {}},
                                             {"Button3", -100, {}},
                                             {"Button4", -10, {}},
                                             {"Button5", -1, {}},
                                             {"Button6", 1, {}},
                                             {"Button7", 10, {}},
                                             {"Button8", 100, {}},
                                             {"Button9", 1000, {}},
                                             {"Button10", 10000, {}},
                                             {"Button_Out0", 0, 0},
                                             {"Button_OutVegertek", 0, kPwmFull},
                                             {"Button_Out50Percents", 0, 32768}}};

int adjustPwm(int value, const PwmButton& button) {
    if (button.fixed) return *button.fixed;
    return std::clamp(value + button.delta, 0, kPwmFull);
}

// ---- output calibration wizard

int checkPointValue(CheckPoint point, const OutputCalibrationValues& v) {
    switch (point) {
    case CheckPoint::I4mA:
        return v.out4mA;
    case CheckPoint::I12mA:
        return pwmMidpoint(v.out4mA, v.out20mA);
    case CheckPoint::I20mA:
        return v.out20mA;
    case CheckPoint::U2V:
        return v.out2V;
    case CheckPoint::U6V:
        return pwmMidpoint(v.out2V, v.out10V);
    case CheckPoint::U10V:
        return v.out10V;
    }
    return 0;
}

using V = OutputCalibrationValues;
const std::array<OutputCalibrationStep, kOutputCalibrationSteps> kOutputCalibrationStepTable{{
    // next  back   adjust bar    frame  value        name           sep    check point        back lines
    {true, false, true, false, true, &V::out4mA, "uOut4mA = ", false, {}, 0},
    {true, true, true, false, true, &V::out20mA, "uOut20mA = ", true, {}, 2},
    {true, true, false, true, true, nullptr, nullptr, false, CheckPoint::I12mA, 3},
    {true, true, true, false, true, &V::out2V, "uOut2V = ", true, {}, 0},
    {true, true, true, false, true, &V::out10V, "uOut10V = ", true, {}, 3},
    {true, true, false, true, true, nullptr, nullptr, false, CheckPoint::U6V, 3},
    {false, true, false, false, false, nullptr, nullptr, false, {}, 0},
}};

const OutputCalibrationStep& outputCalibrationStep(int step) {
    return kOutputCalibrationStepTable[static_cast<std::size_t>(std::clamp(step, 1, kOutputCalibrationSteps) -
                                                                1)];
}

std::vector<CalibratedLine> outputCalibrationNext(int step, std::uint16_t pwmForce,
                                                  OutputCalibrationValues& v) {
    const OutputCalibrationStep& s = outputCalibrationStep(step);
    if (!s.value || step >= kOutputCalibrationSteps) return {};
    // What is recorded is what the instrument is being sent, so never 0.
    v.*s.value = pwmForce;
    return {{"Step " + std::to_string(step) + ":", s.separator},
            {s.valueName + formatPicture(pwmForce, "## ##0"), false}};
}

// ---- input calibration procedure

namespace {
constexpr const char* kInstructions[8] = {
    "Zárja össze az Uin1 és COM bemeneteket. Várja meg, hogy a feszültséget mérő ADC érték megnyugodjon. "
    "Ha kész, nyomjon Next gombot.",
    "Hagyja összezárva az Uin1 és COM bemeneteket. Várja meg, hogy a feszültséget mérő ADC érték "
    "megnyugodjon. Ha kész, nyomjon Next gombot.",
    "Kapcsolja a kalibráló feszültséget az Uin1 és COM bemenetek közé. Várja meg, hogy a feszültséget mérő "
    "ADC érték megnyugodjon. Ha kész, nyomjon Next gombot.",
    "Figyelem! Csatlakozó csere. Zárja össze az Ube2 és COM bemeneteket. Várja meg, hogy a feszültséget "
    "mérő ADC érték megnyugodjon. Ha kész, nyomjon Next gombot.",
    "Hagyja összezárva az Ube2 és COM bemeneteket. Várja meg, hogy a feszültséget mérő ADC érték "
    "megnyugodjon. Ha kész, nyomjon Next gombot.",
    "Kapcsolja a kalibráló feszültséget az Ube2 és COM bemenetek közé. Várja meg, hogy a feszültséget mérő "
    "ADC érték megnyugodjon. Ha kész, nyomjon Next gombot.",
    "Hagyja nyitva az Iin és COM bemeneteket. Várja meg, hogy az áramot mérő ADC érték megnyugodjon. Ha "
    "kész, nyomjon Next gombot.",
    "Folyassa az Iin és COM bemeneteken keresztül a megadott erősségű áramot. Várja meg, hogy az áramot "
    "mérő ADC érték megnyugodjon. Ha kész, nyomjon Next gombot.",
};
// The full-scale reference of each pair, as the operator is told it.
constexpr const char* kReferences[instrument::kCalibrationPairs] = {"0,2 V", "0,5 V", "2,5 V", "10 V",
                                                                    "50 V",  "125 V", "20 mA"};
} // namespace

const char* const kInCalClosingHeading = "Kalibrálási adatok mentése.";
const char* const kInCalClosingInstruction =
    "A kalibrálási adatok készülékbe töltéséhez nyomja meg a nyomógombot.";

const std::array<InputCalibrationRow, kInputCalibrationSteps> kInputCalibrationTable{{
    // state  ch div gain  heading                              T  read high pair back
    {10, {1, 1, 2}, "Uin1 1/3 offszet kalibrálás", 1, 1, false, 1, 0},
    {20, {1, 1, 1}, "Uin1 2/3 offszet kalibrálás", 2, 1, false, 2, 10},
    {30, {1, 2, 1}, "Uin1 3/3 offszet kalibrálás", 2, 1, false, 3, 20},
    {40, {1, 1, 2}, "Uin1 1/3 végérték kalibrálás: ", 3, 1, true, 1, 30},
    {50, {1, 1, 1}, "Uin1 2/3 végérték kalibrálás: ", 3, 1, true, 2, 40},
    {60, {1, 2, 1}, "Uin1 3/3 végérték kalibrálás: ", 3, 1, true, 3, 50},
    {70, {1, 2, 2}, "Uin2 1/3 offszet kalibrálás", 4, 1, false, 4, 60},
    {80, {1, 3, 3}, "Uin2 2/3 offszet kalibrálás", 5, 1, false, 5, 70},
    {90, {1, 3, 1}, "Uin2 3/3 offszet kalibrálás", 5, 1, false, 6, 80},
    {100, {1, 2, 2}, "Uin2 1/3 végérték kalibrálás: ", 6, 1, true, 4, 90},
    {110, {1, 3, 3}, "Uin2 2/3 végérték kalibrálás: ", 6, 1, true, 5, 100},
    {120, {1, 3, 1}, "Uin2 3/3 végérték kalibrálás: ", 6, 1, true, 6, 110},
    {130, {0, 3, 1}, "Iin offszet kalibrálás", 7, 0, false, 7, 120},
    {140, {0, 3, 1}, "Iin végérték kalibrálás: ", 8, 0, true, 7, 130},
}};

std::string inputCalibrationHeading(const InputCalibrationRow& row) {
    std::string h = row.heading;
    if (row.high) h += kReferences[row.pair - 1];
    return h;
}

const char* inputCalibrationInstruction(int number) {
    return number >= 1 && number <= 8 ? kInstructions[number - 1] : "";
}

namespace {
const InputCalibrationRow* rowOf(int state) {
    const auto row = std::find_if(kInputCalibrationTable.begin(), kInputCalibrationTable.end(),
                                  [&](const InputCalibrationRow& r) { return state / 10 * 10 == r.state; });
    if (row == kInputCalibrationTable.end() || state % 10 > 1) return nullptr; // 0 and unknown states
    return &*row;
}
} // namespace

std::optional<ForceSelection> inputCalibrationForcing(int state) {
    const InputCalibrationRow* row = rowOf(state);
    return row ? std::optional<ForceSelection>(row->force) : std::nullopt;
}

InputCalibrationEffects inputCalibrationTick(InputCalibrationState& s, const std::optional<Reading>& reading,
                                             CalibrationValues& low, CalibrationValues& high) {
    InputCalibrationEffects e;
    if (s.step == kInCalClosingState) {
        e.force = ForceSelection{};
        e.heading = kInCalClosingHeading;
        e.instruction = kInCalClosingInstruction;
        e.storeVisible = true;
        e.nextVisible = e.backVisible = false;
        e.waiting = false;
        s.step = 0;
        return e;
    }
    const InputCalibrationRow* row = rowOf(s.step);
    if (!row) return e; // 0 and unknown states: nothing

    if (s.step == row->state) {
        e.force = row->force;
        e.heading = inputCalibrationHeading(*row);
        e.instruction = inputCalibrationInstruction(row->instruction);
        if (row->state == kInCalFirstState) {
            e.nextVisible = true;
            e.backVisible = false;
        } else if (row->state == kInCalFirstState + 10) {
            e.backVisible = true;
        }
        e.waiting = false;
        // A click that came while the step was being shown belongs to no step.
        s.nextRequest = s.backRequest = false;
        s.step = row->state + 1;
        return e;
    }

    // Waiting state. The flags are left for the next display state to clear.
    const bool back = s.backRequest && row->backTo != 0;
    if (back) {
        // Back wins over a Next of the same tick: nothing is taken that the list would not show.
        e.removeLine = true;
        e.waiting = false;
        s.step = row->backTo;
    } else if (s.nextRequest && !reading) {
        e.waiting = true;
    } else if (s.nextRequest) {
        const std::int32_t value = row->channel == 0 ? reading->adFiltered0 : reading->adFiltered1;
        const auto k = static_cast<std::size_t>(row->pair - 1);
        (row->high ? high : low)[k] = value;
        e.addLine = (row->high ? "High" : "Low") + std::to_string(row->pair) + " = " +
                    formatPicture(value, "0 000 000");
        e.waiting = false;
        s.step = row->state + 10;
    }
    return e;
}

// ---- test page

std::optional<int> dividerForRange(int rangeItem) {
    static constexpr int kDividers[8] = {0, 1, 1, 2, 2, 3, 3, 3};
    if (rangeItem < 1 || rangeItem > 7) return {};
    return kDividers[rangeItem];
}

} // namespace vx::app
