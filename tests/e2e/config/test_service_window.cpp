// The service pages on the window in the maker mode, without an instrument: what each control does to
// the next request and to the page.
#include "app/Main.h"
#include "instrument/codes.h"
#include "link/mb.h"
#include "simwindow.h"
#include "widgets/mbargraph.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace ins = vx::instrument;

namespace {

class ServiceWindow : public ::testing::Test, protected AnsweredWindow {
protected:
    ins::Request request() { return ins::decodeRequest(requestBytes()); }
    QStringList list(QListWidget* l) const {
        QStringList out;
        for (int i = 0; i < l->count(); ++i)
            out << l->item(i)->text();
        return out;
    }
    void go(QWidget* page) { w->PageControl1->setActivePage(page); }
};

} // namespace

TEST_F(ServiceWindow, PageSwitchSetsTheForcedOutputAndResetsForcing) {
    go(w->TabSheet_OutputCalibration);
    EXPECT_EQ(request().uPWMForce, 1); // the operator's 0 is sent as 1
    w->Button_Out50Percents->click();
    EXPECT_EQ(request().uPWMForce, 32768);

    w->RadioGroup_MereshatarForce->setItemIndex(5); // "40 V" takes "Maximum Division" along
    EXPECT_EQ(w->RadioGroup_DividerForce->ItemIndex(), 3);
    w->RadioGroup_MereshatarForce->setItemIndex(0); // "Force Off" keeps the divider
    EXPECT_EQ(w->RadioGroup_DividerForce->ItemIndex(), 3);
    w->RadioGroup_GainForce->setItemIndex(2);

    // The output check drops the forced PWM before its first request.
    go(w->TabSheet_KimenetEllenorzes);
    ins::Request r = request();
    EXPECT_EQ(r.uPWMForce, 0);
    EXPECT_EQ(r.DirectControl, 255);
    EXPECT_EQ(r.DividerForceCode, 0);
    EXPECT_EQ(r.GainForceCode, 0);

    go(w->TabSheet_OutputCalibration);
    EXPECT_EQ(request().uPWMForce, 32768);
    go(w->TabSheet_Test); // the test page leaves the forced output alone
    EXPECT_EQ(request().uPWMForce, 32768);
    EXPECT_EQ(request().DirectControl, 0);

    go(w->TabSheet_Uzemmod);
    r = request();
    EXPECT_EQ(r.uPWMForce, 0);
    EXPECT_EQ(r.CommandFlags, ins::kCmdRestart);
}

TEST_F(ServiceWindow, WizardStepsListsAndPresets) {
    go(w->TabSheet_OutputCalibration);
    const auto next = [&] { w->SpeedButton_OutputCalibrationNext->click(); };
    const auto back = [&] { w->SpeedButton_OutputCalibrationBack->click(); };
    w->PWMStepButtons[8]->click(); // +1000
    next();
    EXPECT_EQ(w->OutputCalibrationStep(), 2);
    EXPECT_EQ(w->uOut4mA, 1000);
    EXPECT_EQ(w->Label_BeallitottPWM->text(), "65 535"); // step 2 presets uOut20mA
    EXPECT_TRUE(w->SpeedButton_OutputCalibrationBack->isVisibleTo(w->TabSheet_OutputCalibration));
    back();
    EXPECT_TRUE(list(w->ListBox_OutputCalibrated).isEmpty());
    EXPECT_EQ(w->Label_BeallitottPWM->text(), "01 000");
    EXPECT_FALSE(w->SpeedButton_OutputCalibrationBack->isVisibleTo(w->TabSheet_OutputCalibration));

    next();
    w->PWMStepButtons[0]->click(); // -10 000
    next();
    // The current check: bar instead of the adjusting controls, "12 mA" down at the mid-point.
    EXPECT_EQ(w->OutputCalibrationStep(), 3);
    EXPECT_TRUE(w->MBarGraph_OutputCalibration->isVisibleTo(w->TabSheet_OutputCalibration));
    EXPECT_FALSE(w->GroupBox_PWMErtekValtoztatas->isVisibleTo(w->TabSheet_OutputCalibration));
    EXPECT_TRUE(w->SpeedButton_Test12mA->Down());
    EXPECT_EQ(w->uPWMValue, 28268); // (1000 + 55535) / 2, the half to even
    w->SpeedButton_Test20mA->click();
    EXPECT_EQ(w->uPWMValue, 55535);
    EXPECT_FALSE(w->SpeedButton_Test12mA->Down());
    next();
    back(); // from step 4 to 3: no line removed, "12 mA" chosen again
    EXPECT_TRUE(w->SpeedButton_Test12mA->Down());
    EXPECT_EQ(list(w->ListBox_OutputCalibrated).size(), 5);

    next();
    next();
    // Leaving on step 5 and coming back: the step as it was, the output forced again.
    w->PWMStepButtons[5]->click(); // +1 on the 10 V preset of 65535 stays 65535
    w->PWMStepButtons[4]->click(); // -1
    go(w->TabSheet_KimenetEllenorzes);
    EXPECT_EQ(request().uPWMForce, 0);
    go(w->TabSheet_OutputCalibration);
    EXPECT_EQ(w->OutputCalibrationStep(), 5);
    EXPECT_EQ(request().uPWMForce, 65534);
    next();
    next();
    EXPECT_EQ(w->OutputCalibrationStep(), 7);
    EXPECT_FALSE(w->SpeedButton_OutputCalibrationNext->isVisibleTo(w->TabSheet_OutputCalibration));
    EXPECT_FALSE(w->GroupBox_PWM->isVisibleTo(w->TabSheet_OutputCalibration));
    EXPECT_EQ(list(w->ListBox_OutputCalibrated),
              (QStringList{"Step 1:", "uOut4mA = 1 000", QString(43, '-'), "Step 2:", "uOut20mA = 55 535",
                           QString(43, '-'), "Step 4:", "uOut2V = 1", QString(43, '-'),
                           "Step 5:", "uOut10V = 65 534"}));
    w->SpeedButton_WriteOutputCalibrationToVX->click();
    EXPECT_EQ(request().CommandFlags, ins::kCmdStoreOutputCalibration);
    EXPECT_EQ(request().uOut20mA, 55535);
    w->SpeedButton_WriteOutputCalibrationToVX->click(); // withdrawn before the acknowledgement
    EXPECT_EQ(request().CommandFlags, 0);
}

TEST_F(ServiceWindow, TrackBarHeldByTheOperatorKeepsItsPosition) {
    w->show();
    QApplication::setActiveWindow(w.get());
    go(w->TabSheet_OutputCalibration);
    w->TrackBar_PWM->setFocus();
    if (!w->TrackBar_PWM->hasFocus()) GTEST_SKIP() << "no focus on this platform";
    w->TrackBar_PWM->setSliderPosition(50); // as a drag does
    EXPECT_EQ(w->uPWMValue, 32768);
    w->TrackBar_PWM->setSliderPosition(1);
    EXPECT_EQ(w->uPWMValue, 655);
    // Next does not take the focus: the label and the word follow, the track bar stays.
    w->SpeedButton_OutputCalibrationNext->click();
    EXPECT_EQ(w->Label_BeallitottPWM->text(), "65 535");
    EXPECT_EQ(w->TrackBar_PWM->value(), 1);
    EXPECT_EQ(request().uPWMForce, 65535);
    w->TrackBar_PWM->clearFocus(); // now the value moves it
    w->Button_Out50Percents->click();
    EXPECT_EQ(w->TrackBar_PWM->value(), 50);
}

TEST_F(ServiceWindow, OutputCheckButtonsAndLabel) {
    EXPECT_EQ(w->Label_OutputCheckPercent->text(), "0 %");
    const std::pair<QPushButton*, int> cases[] = {
        {w->Button_OutCheckMax, 100}, {w->Button_OutCheckMean, 50}, {w->Button_OutCheckMin, 0}};
    for (const auto& [button, percent] : cases) {
        button->click();
        EXPECT_EQ(w->Label_OutputCheckPercent->text(), QString::number(percent) + " %");
        EXPECT_EQ(request().OutputCheckPercent, percent); // on any page
    }
    w->TrackBar_OutCheck->setValue(7);
    EXPECT_EQ(w->Label_OutputCheckPercent->text(), "35 %");
}

TEST_F(ServiceWindow, InputCalibrationStartsAnewOnEveryEntry) {
    go(w->TabSheet_InputCalibration);
    EXPECT_TRUE(w->Timer_InCal->isActive());
    EXPECT_EQ(w->Timer_InCal->interval(), 100);
    EXPECT_EQ(w->Label_InputCalibration1->text(), "Uin1 1/3 offszet kalibrálás");
    EXPECT_TRUE(w->Memo_InputCalibration2->toPlainText().startsWith("Zárja össze az Uin1"));
    EXPECT_EQ(w->RadioGroup_GainForceCH->ItemIndex(), 1);
    EXPECT_EQ(w->RadioGroup_DividerForce->ItemIndex(), 1);
    EXPECT_EQ(w->RadioGroup_GainForce->ItemIndex(), 2);
    EXPECT_FALSE(w->SpeedButton_InputCalibrationBack->isVisibleTo(w->TabSheet_InputCalibration));
    const ins::Request r = request();
    EXPECT_EQ(r.GainForceCode, ins::gainForceCode(2, true));
    EXPECT_EQ(r.DividerForceCode, ins::dividerForceCode(1));
    EXPECT_EQ(r.uPWMForce, 1);

    // A reply to that request, in the path it forces.
    w->LastReply.AdFiltered1 = -1234;
    w->LastReply.GainCh1 = 2;
    w->Fresh.replied(w->LastReply);
    w->SpeedButton_InputCalibrationNext->click();
    w->InputCalibrationTick();
    w->InputCalibrationTick();
    EXPECT_EQ(w->Low[0], -1234);
    EXPECT_EQ(list(w->ListBox_InputCalibrated), QStringList{"Low1 = -0 001 234"});
    EXPECT_EQ(w->Label_InputCalibration1->text(), "Uin1 2/3 offszet kalibrálás");
    EXPECT_EQ(w->RadioGroup_GainForce->ItemIndex(), 1);

    go(w->TabSheet_Test);
    EXPECT_EQ(w->RadioGroup_GainForceCH->ItemIndex(), 0);
    go(w->TabSheet_InputCalibration);
    EXPECT_TRUE(list(w->ListBox_InputCalibrated).isEmpty());
    EXPECT_EQ(w->InCal.step, 11);
    EXPECT_EQ(w->Low[0], -1234); // the values of a pass stay until overwritten
}

TEST_F(ServiceWindow, ServiceCommandsFormOneGroupThatMayBeAllUp) {
    go(w->TabSheet_Test);
    w->SpeedButton_HomersekletMinMaxTorlese->click();
    EXPECT_EQ(request().CommandFlags, ins::kCmdClearTemperatureMinMax);
    w->SpeedButton_FRAMTorlesReset->click();
    EXPECT_FALSE(w->SpeedButton_HomersekletMinMaxTorlese->Down());
    EXPECT_EQ(request().CommandFlags, ins::kCmdClearFramRestart);
    w->SpeedButton_FRAMTorlesReset->click();
    EXPECT_EQ(request().CommandFlags, 0);
}

TEST_F(ServiceWindow, CommandsComeBackUpOnAPortEventAndWhenNothingAnswers) {
    go(w->TabSheet_OutputCalibration);
    w->SpeedButton_OutputCalibrationNext->click();
    w->EditorVariant = 1; // the editor holds another variant's settings: never written
    w->SpeedButton_WriteSettings->click();
    EXPECT_FALSE(w->SpeedButton_WriteSettings->Down());
    w->SpeedButton_FRAMTorlesReset->click(); // pressed while the connection answers
    w->MB1MBPortOpenedOrClosed(false);       // then lost
    EXPECT_EQ(w->OutputCalibrationStep(), 1) << "the wizard starts afresh";
    for (TSpeedButton* b :
         {w->SpeedButton_FRAMTorlesReset, w->SpeedButton_WriteSettings, w->SpeedButton_ADCalBeiras}) {
        if (b != w->SpeedButton_FRAMTorlesReset) b->click(); // nothing answers now
        EXPECT_FALSE(b->Down()) << b->objectName().toStdString();
        EXPECT_TRUE(w->Label_CommandNotice->text().contains(b->text())) << b->objectName().toStdString();
    }
    w->SpeedButton_HomersekletMinMaxTorlese->setDown(true); // even from code
    EXPECT_EQ(request().CommandFlags, 0);
}

TEST_F(ServiceWindow, EveryOperatorMoveOfTheTrackBarSetsThePwmAndCodeDoesNot) {
    go(w->TabSheet_OutputCalibration);
    QSlider* t = w->TrackBar_PWM;
    t->setValue(70); // code
    EXPECT_EQ(w->uPWMValue, 0);
    t->setSliderPosition(30); // exactly half-way: 19660.5 goes to the even neighbour
    EXPECT_EQ(w->uPWMValue, 19660);
    QWheelEvent wheel(QPointF(5, 5), t->mapToGlobal(QPointF(5, 5)), {}, {0, 120}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(t, &wheel);
    EXPECT_NE(t->value(), 30);
    EXPECT_EQ(w->uPWMValue, vx::app::pwmFromTrackBar(t->value()));
    QTest::keyClick(t, Qt::Key_End);
    EXPECT_EQ(w->uPWMValue, 65535);
}

TEST_F(ServiceWindow, BackRemovesTheLinesOfItsStepOnly) {
    go(w->TabSheet_OutputCalibration);
    for (int i = 0; i < 6; ++i)
        w->SpeedButton_OutputCalibrationNext->click();
    // From each step: the lines left and the last of them.
    const std::pair<int, const char*> after[] = {{11, "uOut10V = 65 535"},
                                                 {8, "uOut2V = 1"},
                                                 {5, "uOut20mA = 65 535"},
                                                 {5, "uOut20mA = 65 535"},
                                                 {2, "uOut4mA = 1"}};
    for (const auto& [lines, last] : after) {
        const int from = w->OutputCalibrationStep();
        w->SpeedButton_OutputCalibrationBack->click();
        const QStringList l = list(w->ListBox_OutputCalibrated);
        EXPECT_EQ(l.size(), lines) << "Back from step " << from;
        EXPECT_EQ(l.last(), last) << "Back from step " << from;
    }

    // The input procedure: Back takes the previous step's line away again.
    w->SpeedButton_ADCalBeiras->setDown(true);
    go(w->TabSheet_InputCalibration);
    EXPECT_FALSE(w->SpeedButton_ADCalBeiras->Down()) << "a new pass withdraws a pending store";
    const auto take = [&](int value) {
        request();
        w->LastReply.AdFiltered1 = value;
        w->LastReply.GainCh1 = static_cast<std::uint8_t>(1 << (w->RadioGroup_GainForce->ItemIndex() - 1));
        w->LastReply.uDivider = static_cast<std::uint8_t>(w->RadioGroup_DividerForce->ItemIndex() - 1);
        w->Fresh.replied(w->LastReply);
        w->SpeedButton_InputCalibrationNext->click();
        w->InputCalibrationTick();
        w->InputCalibrationTick();
    };
    take(11);
    take(22);
    w->SpeedButton_InputCalibrationBack->click();
    w->InputCalibrationTick();
    w->InputCalibrationTick();
    EXPECT_EQ(list(w->ListBox_InputCalibrated), QStringList{"Low1 = 0 000 011"});
    EXPECT_EQ(w->Label_InputCalibration1->text(), "Uin1 2/3 offszet kalibrálás");
    // Leaving the page ends the pass and its forcing.
    go(w->TabSheet_Uzemmod);
    EXPECT_FALSE(w->Timer_InCal->isActive());
    w->InputCalibrationTick();
    EXPECT_EQ(w->RadioGroup_GainForce->ItemIndex(), 0);
}
