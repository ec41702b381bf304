// The maker's service pages on the window: the page-switch rule, the output calibration wizard, the
// output check page, the input calibration procedure and the test page's forcing. The procedures
// themselves live in ServicePages.cpp; this file binds the controls to them.
#include "app/Main.h"

#include "app/texts/Texts.h"
#include "common/pictureformat.h"
#include "widgets/mbargraph.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTextEdit>
#include <QTimer>

namespace app = vx::app;

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

void TForm_Main::connectServiceHandlers() {
    // Every change of the active page, the user's or the code's.
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int) { PageControl1Change(); });

    connect(SpeedButton_OutputCalibrationNext, &QAbstractButton::clicked, this,
            &TForm_Main::SpeedButton_OutputCalibrationNextClick2);
    connect(SpeedButton_OutputCalibrationBack, &QAbstractButton::clicked, this,
            &TForm_Main::SpeedButton_OutputCalibrationBackClick3);
    const std::array<QPushButton*, app::kPwmButtons.size()> adjusting{
        PWMStepButtons[0], PWMStepButtons[1],  PWMStepButtons[2],   PWMStepButtons[3], PWMStepButtons[4],
        PWMStepButtons[5], PWMStepButtons[6],  PWMStepButtons[7],   PWMStepButtons[8], PWMStepButtons[9],
        Button_Out0,       Button_OutVegertek, Button_Out50Percents};
    for (std::size_t i = 0; i < adjusting.size(); ++i)
        connect(adjusting[i], &QPushButton::clicked, this, [this, i] { PwmButtonClick(i); });
    // Only the operator's moves (mouse, wheel, keys) trigger an action; positions set by code do not.
    connect(TrackBar_PWM, &QAbstractSlider::actionTriggered, this, &TForm_Main::TrackBar_PWMChange);
    const std::pair<TSpeedButton*, app::CheckPoint> points[] = {
        {SpeedButton_Test4mA, app::CheckPoint::I4mA},   {SpeedButton_Test12mA, app::CheckPoint::I12mA},
        {SpeedButton_Test20mA, app::CheckPoint::I20mA}, {SpeedButton_Test2V, app::CheckPoint::U2V},
        {SpeedButton_Test6V, app::CheckPoint::U6V},     {SpeedButton_Test10V, app::CheckPoint::U10V}};
    for (const auto& [button, point] : points)
        connect(button, &QAbstractButton::clicked, this,
                [this, b = button, p = point] { CheckPointClick(b, p); });

    connect(TrackBar_OutCheck, &QSlider::valueChanged, this, &TForm_Main::TrackBar_OutCheckChange);
    connect(Button_OutCheckMin, &QPushButton::clicked, this, [this] { TrackBar_OutCheck->setValue(0); });
    connect(Button_OutCheckMean, &QPushButton::clicked, this, [this] { TrackBar_OutCheck->setValue(10); });
    connect(Button_OutCheckMax, &QPushButton::clicked, this, [this] { TrackBar_OutCheck->setValue(20); });

    connect(Timer_InCal, &QTimer::timeout, this, &TForm_Main::InputCalibrationTick);
    connect(SpeedButton_InputCalibrationNext, &QAbstractButton::clicked, this,
            &TForm_Main::SpeedButton_InputCalibrationNextClick);
    connect(SpeedButton_InputCalibrationBack, &QAbstractButton::clicked, this,
            &TForm_Main::SpeedButton_InputCalibrationBackClick);

    connect(RadioGroup_MereshatarForce, &TRadioGroup::clicked, this,
            &TForm_Main::RadioGroup_MereshatarForceClick);
}

// ---- page switch

void TForm_Main::PageControl1Change() {
    for (TRadioGroup* force :
         {RadioGroup_GainForce, RadioGroup_DividerForce, RadioGroup_GainForceCH, RadioGroup_MereshatarForce})
        force->setItemIndex(0);
    QWidget* const page = PageControl1->ActivePage();
    if (page != TabSheet_InputCalibration) {
        // The procedure's forcing belongs to its page: no later tick may force the input elsewhere.
        Timer_InCal->stop();
        InCal = {};
        Label_InputCalibrationWaiting->hide();
    }
    if (page == TabSheet_Uzemmod) {
        uPWMForce = 0;
        SpeedButton_Reset->setDown(true);
    } else if (page == TabSheet_InputCalibration) {
        uPWMForce = app::pwmForceOf(uPWMValue);
        InputCalibrationStart();
    } else if (page == TabSheet_OutputCalibration) {
        // The wizard goes on where it was left; only the forced output comes back.
        uPWMForce = app::pwmForceOf(uPWMValue);
    } else if (page == TabSheet_KimenetEllenorzes) {
        uPWMForce = 0;
    }
}

// ---- output calibration wizard

app::OutputCalibrationValues TForm_Main::outputCalibrationValues() const {
    return {uOut4mA, uOut20mA, uOut2V, uOut10V};
}

void TForm_Main::setOutputCalibrationValues(const app::OutputCalibrationValues& v) {
    uOut4mA = v.out4mA;
    uOut20mA = v.out20mA;
    uOut2V = v.out2V;
    uOut10V = v.out10V;
}

void TForm_Main::ApplyPWMValue() {
    Label_BeallitottPWM->setText(q(vx::formatPicture(uPWMValue, "00 000")));
    const int percent = app::pwmPercent(uPWMValue);
    // While the operator holds the track bar, it stays where the hand put it.
    if (!TrackBar_PWM->hasFocus()) TrackBar_PWM->setValue(percent);
    MBarGraph_OutputCalibration->setMBGValue(percent / 100.0);
    uPWMForce = app::pwmForceOf(uPWMValue);
}

void TForm_Main::TrackBar_PWMChange() {
    // Runs on the operator's action, before the value follows the new position.
    uPWMValue = app::pwmFromTrackBar(TrackBar_PWM->sliderPosition());
    ApplyPWMValue();
}

void TForm_Main::PwmButtonClick(std::size_t index) {
    if (index >= app::kPwmButtons.size()) return;
    uPWMValue = app::adjustPwm(uPWMValue, app::kPwmButtons[index]);
    ApplyPWMValue();
}

void TForm_Main::CheckPointClick(TSpeedButton* sender, app::CheckPoint point) {
    if (!sender->Down()) return;
    uPWMValue = app::checkPointValue(point, outputCalibrationValues());
    ApplyPWMValue();
}

int TForm_Main::OutputCalibrationStep() const {
    const auto it =
        std::find(TabSheet_OutCalStep.begin(), TabSheet_OutCalStep.end(), PageControl4->ActivePage());
    return it == TabSheet_OutCalStep.end() ? 1 : static_cast<int>(it - TabSheet_OutCalStep.begin()) + 1;
}

void TForm_Main::ShowOutputCalibrationStep() {
    const int step = OutputCalibrationStep();
    const app::OutputCalibrationStep& s = app::outputCalibrationStep(step);
    SpeedButton_OutputCalibrationNext->setVisible(s.next);
    SpeedButton_OutputCalibrationBack->setVisible(s.back);
    GroupBox_PWMErtekValtoztatas->setVisible(s.adjusting);
    MBarGraph_OutputCalibration->setVisible(s.bar);
    GroupBox_PWM->setVisible(s.pwmFrame);
    if (s.value) {
        uPWMValue = outputCalibrationValues().*s.value;
        ApplyPWMValue();
        if (step == 1) ListBox_OutputCalibrated->clear();
    } else if (s.checkPoint) {
        TSpeedButton* const button =
            *s.checkPoint == app::CheckPoint::I12mA ? SpeedButton_Test12mA : SpeedButton_Test6V;
        button->setDown(true);
        CheckPointClick(button, *s.checkPoint);
    }
}

void TForm_Main::AddCalibratedLine(QListWidget* list, const QString& text, bool separator) {
    if (separator) list->addItem(QString::fromLatin1(app::kCalibratedSeparator));
    list->addItem(text);
    list->setCurrentRow(list->count() - 1);
}

void TForm_Main::RemoveCalibratedLines(QListWidget* list, std::uint8_t n) {
    for (unsigned i = 0; i < n && list->count() > 0; ++i)
        delete list->takeItem(list->count() - 1);
    // The last line becomes the current one without being selected.
    list->setCurrentRow(list->count() - 1, QItemSelectionModel::NoUpdate);
    list->clearSelection();
}

void TForm_Main::SpeedButton_OutputCalibrationNextClick2() {
    const int step = OutputCalibrationStep();
    if (step >= app::kOutputCalibrationSteps) return;
    app::OutputCalibrationValues v = outputCalibrationValues();
    for (const app::CalibratedLine& line : app::outputCalibrationNext(step, uPWMForce, v))
        AddCalibratedLine(ListBox_OutputCalibrated, q(line.text), line.separator);
    setOutputCalibrationValues(v);
    PageControl4->setActivePage(TabSheet_OutCalStep[static_cast<std::size_t>(step)]);
    ShowOutputCalibrationStep();
}

void TForm_Main::SpeedButton_OutputCalibrationBackClick3() {
    const int step = OutputCalibrationStep();
    if (step <= 1) return;
    RemoveCalibratedLines(ListBox_OutputCalibrated,
                          static_cast<std::uint8_t>(app::outputCalibrationStep(step).backLines));
    PageControl4->setActivePage(TabSheet_OutCalStep[static_cast<std::size_t>(step - 2)]);
    ShowOutputCalibrationStep();
}

// ---- output check page

void TForm_Main::TrackBar_OutCheckChange() {
    Label_OutputCheckPercent->setText(QString::number(TrackBar_OutCheck->value() * 5) + QStringLiteral(" %"));
}

// ---- input calibration procedure

void TForm_Main::InputCalibrationStart() {
    uPWMForce = app::pwmForceOf(uPWMValue);
    // A store still pending would carry the half-overwritten set of the new pass.
    SpeedButton_ADCalBeiras->setDown(false);
    SpeedButton_ADCalBeiras->hide();
    ListBox_InputCalibrated->clear();
    InCal.step = app::kInCalFirstState;
    Timer_InCal->stop();
    Timer_InCal->setInterval(100);
    Timer_InCal->start();
    InputCalibrationTick();
}

void TForm_Main::setForceSelection(const app::ForceSelection& f) {
    RadioGroup_GainForceCH->setItemIndex(f.channel);
    RadioGroup_DividerForce->setItemIndex(f.divider);
    RadioGroup_GainForce->setItemIndex(f.gain);
}

void TForm_Main::InputCalibrationTick() {
    const app::InputCalibrationEffects e = app::inputCalibrationTick(InCal, Fresh.reading(), Low, High);
    if (e.force) {
        setForceSelection(*e.force);
        Fresh.expect(*e.force);
    }
    if (e.waiting) {
        Label_InputCalibrationWaiting->setText(inLanguage(Text::WaitingForFreshReading));
        Label_InputCalibrationWaiting->setVisible(*e.waiting);
    }
    if (e.heading) Label_InputCalibration1->setText(q(*e.heading));
    if (e.instruction) Memo_InputCalibration2->setPlainText(q(*e.instruction));
    if (e.nextVisible) SpeedButton_InputCalibrationNext->setVisible(*e.nextVisible);
    if (e.backVisible) SpeedButton_InputCalibrationBack->setVisible(*e.backVisible);
    if (e.storeVisible) SpeedButton_ADCalBeiras->setVisible(*e.storeVisible);
    // Value lines go straight to the list's items; the current line stays where it was.
    if (e.addLine) ListBox_InputCalibrated->addItem(q(*e.addLine));
    if (e.removeLine) RemoveCalibratedLines(ListBox_InputCalibrated, 1);
}

void TForm_Main::SpeedButton_InputCalibrationNextClick() {
    InCal.nextRequest = true;
}

void TForm_Main::SpeedButton_InputCalibrationBackClick() {
    InCal.backRequest = true;
}

// ---- test page

void TForm_Main::RadioGroup_MereshatarForceClick() {
    if (const auto divider = app::dividerForRange(RadioGroup_MereshatarForce->ItemIndex()))
        RadioGroup_DividerForce->setItemIndex(*divider);
}
