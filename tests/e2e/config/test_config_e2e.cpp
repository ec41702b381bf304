// The configurator's window and link against vx2207-sim over a real pseudo-terminal.
#include "app/DUTHiba.h"
#include "app/Main.h"
#include "common/pictureformat.h"
#include "link/mb.h"
#include "sim/harness.h"
#include "sim/model.h"
#include "sim/statefile.h"
#include "simwindow.h"
#include "waitfor.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <memory>

using vx::sim::SimProcess;

namespace {

constexpr int kWaitMs = 5000;

class ConfigE2E : public ::testing::Test, protected SimWindow {
protected:
    // The window as the program starts it, with its dialog, a settings file of its own and the
    // simulator's device in the port list.
    void start(const std::vector<std::string>& simArgs, QStringList args = {},
               const char* language = "english") {
        stop();
        sim = std::make_unique<SimProcess>(VX2207_SIM, simArgs);
        ASSERT_TRUE(sim->started());
        ASSERT_TRUE(makeWindow(std::move(args), language, true));
        w->Terminate = [this] { ++terminations; };
    }
    bool open() { return SimWindow::open(sim->devicePath()); }
    void TearDown() override {
        stop();
        vx::setDecimalSeparator(".");
    }
    void stop() {
        SimWindow::stop();
        terminations = 0;
    }

    int terminations = 0;
};

} // namespace

TEST_F(ConfigE2E, FirstReplyShowsThePagesAndFillsTheEditor) {
    start({"--variant", "V", "--signal", "0.12345", "--noise", "0"});
    EXPECT_FALSE(w->PageControl1->isVisibleTo(w.get()));
    ASSERT_TRUE(open());
    ASSERT_TRUE(reply());
    EXPECT_TRUE(w->PageControl1->isVisibleTo(w.get()));
    EXPECT_TRUE(w->GroupBox_System->isVisibleTo(w.get()));
    EXPECT_TRUE(w->Label_KeszulekAltipus->isVisibleTo(w.get()));
    EXPECT_EQ(w->Label_KeszulekAltipus->text(), "Instrument: VX2207 V");
    EXPECT_EQ(w->Label_FormverVerzio->text(), "V2014-10-06");
    // The read button starts down: the first reply loads the instrument's factory settings.
    EXPECT_FALSE(w->SpeedButton_ReadSettings->Down());
    EXPECT_EQ(w->Edit_InputLow->text(), "0.00000");
    EXPECT_EQ(w->Edit_InputHigh->text(), "22.000");
    EXPECT_EQ(w->Edit_OutputHigh->text(), "22.000");
    EXPECT_EQ(w->RadioGroup_BemenetTipusa->ItemIndex(), 0);
    EXPECT_EQ(w->Label_InputLowMertekegyseg->text(), "mA");
    EXPECT_TRUE(w->GroupBox_AnalogOutputSettings->isVisibleTo(w.get()));
    EXPECT_FALSE(w->GroupBox_MODBUSOutputSettings->isVisibleTo(w.get()));
    // An instrument fresh from the simulator is not calibrated yet.
    EXPECT_EQ(w->Label_BemenoErtek->text(), "Uncalibrated!");
    EXPECT_TRUE(w->Label_ADNincsKalibralva->isVisibleTo(w->GroupBox_System));
    EXPECT_FALSE(w->Image_InputCalibrationOK->isVisibleTo(w->TabSheet_InputCalibration));
}

TEST_F(ConfigE2E, ValuesFollowTheRangeWithTheLocaleSeparator) {
    start({"--calibrated", "--signal", "0.12345", "--noise", "0"});
    vx::setDecimalSeparator(",");
    ASSERT_TRUE(open());
    ASSERT_TRUE(reply());
    // Factory settings measure current: range 6 in mA.
    EXPECT_EQ(w->Label_BemenoErtek->text(), "0,123 mA");
    EXPECT_EQ(w->Label_BemenoErtek2->text(), "0,123 mA");
    EXPECT_EQ(w->Label_Input->text(), "-25 mA ... +25 mA");
    EXPECT_EQ(w->Label_InputSignalPlus->text(), "IN+: terminal 8 (Iin)");
    EXPECT_TRUE(w->Image_78->isVisibleTo(w->TabSheet_Uzemmod));
    EXPECT_FALSE(w->Image_79->isVisibleTo(w->TabSheet_Uzemmod));
    EXPECT_EQ(w->Label_KalibralasDatuma->text(), "2014-10-06");
    EXPECT_TRUE(w->Image_InputCalibrationOK->isVisibleTo(w->TabSheet_InputCalibration));
    EXPECT_FALSE(w->Label_ADNincsKalibralva->isVisibleTo(w->GroupBox_System));

    // Measuring voltage, the same signal falls in the smallest range, shown in mV.
    w->RadioGroup_BemenetTipusa->setItemIndex(1);
    w->SpeedButton_WriteSettings->setDown(true);
    ASSERT_WAIT(!w->SpeedButton_WriteSettings->Down(), kWaitMs);
    // The instrument settles on its new range within a few readings.
    ASSERT_WAIT_EQ(w->Label_BemenoErtek->text(), QString("123,45 mV"), kWaitMs);
    EXPECT_EQ(w->Label_Input->text(), "-200 mV ... +200 mV");
    EXPECT_EQ(w->Label_InputSignalPlus->text(), "IN+: terminal 9 (Uin1)");
    EXPECT_TRUE(w->Image_79->isVisibleTo(w->TabSheet_Uzemmod));
    EXPECT_FALSE(w->Image_78->isVisibleTo(w->TabSheet_Uzemmod));
    EXPECT_TRUE(w->Label_OutputValue->text().endsWith(" mA"));
    EXPECT_TRUE(w->Label_OutputValue->text().contains(','));
}

// On a Hungarian desktop the C library reads and writes a decimal comma (QApplication sets LC_NUMERIC
// from the desktop). The stored scale must still come back unchanged in every request, or "Write
// settings" would store whatever a failed reading put there.
TEST_F(ConfigE2E, AHungarianDesktopSendsTheStoredScaleBack) {
    vx::sim::Memory memory = vx::sim::factoryMemory(vx::instrument::kVariantAnalog);
    memory.inputHigh = 12.5;
    memory.outputLow = 4.25;
    memory.outputHigh = 22.5;
    const std::string state = dir.filePath("sim.state").toStdString();
    ASSERT_TRUE(vx::sim::saveMemory(state, memory));
    ASSERT_NE(std::setlocale(LC_NUMERIC, "hu_HU.UTF-8"), nullptr) << "run scripts/setup.sh";
    struct Restore {
        ~Restore() { std::setlocale(LC_NUMERIC, "C"); }
    } restore;
    start({"--state", state});
    vx::setDecimalSeparator(",");
    ASSERT_TRUE(open());
    ASSERT_TRUE(reply());
    ASSERT_TRUE(reply()); // this reply's request was built from the filled editor
    EXPECT_EQ(w->Edit_InputHigh->text(), "12,500");
    EXPECT_EQ(w->Edit_OutputLow->text(), "4,250");
    EXPECT_EQ(w->Edit_OutputHigh->text(), "22,500");
    const std::uint8_t* payload = w->MB1->engine().txBuffer().frame() + 3;
    float inputHigh, outputLow, outputHigh;
    std::memcpy(&inputHigh, payload + 81, 4);
    std::memcpy(&outputLow, payload + 85, 4);
    std::memcpy(&outputHigh, payload + 89, 4);
    EXPECT_EQ(inputHigh, 12.5f);
    EXPECT_EQ(outputLow, 4.25f);
    EXPECT_EQ(outputHigh, 22.5f);
}

TEST_F(ConfigE2E, SilenceAndTimeOutsHideThePagesUntilTheNextGoodReply) {
    start({"--silent"});
    w->MB1->setMBMasterTimeOut(60);
    w->MB1->setMBMasterMaxTryNumber(1);
    ASSERT_TRUE(open());
    ASSERT_WAIT(w->MB1->MBStatus() == mb::stTimeOut, kWaitMs);
    EXPECT_FALSE(w->PageControl1->isVisibleTo(w.get()));
    EXPECT_FALSE(w->GroupBox_System->isVisibleTo(w.get()));
    // Every other reply lost: the pages follow each transaction's outcome, no value is cleared.
    start({"--drop", "0.5", "--seed", "7"});
    w->MB1->setMBMasterTimeOut(60);
    w->MB1->setMBMasterMaxTryNumber(1);
    ASSERT_TRUE(open());
    ASSERT_TRUE(reply());
    const QString firmware = w->Label_FormverVerzio->text();
    bool sawHidden = false, shownAgain = false;
    for (int i = 0; i < 200 && !(sawHidden && shownAgain); ++i) {
        QTest::qWait(10);
        if (!w->PageControl1->isVisibleTo(w.get())) {
            sawHidden = true;
            EXPECT_EQ(w->Label_FormverVerzio->text(), firmware);
        } else if (sawHidden) {
            shownAgain = true;
        }
    }
    EXPECT_TRUE(sawHidden);
    EXPECT_TRUE(shownAgain);
}

TEST_F(ConfigE2E, WritingSettingsIsAcknowledgedAndReadBack) {
    start({"--variant", "V"});
    ASSERT_TRUE(open());
    ASSERT_TRUE(reply());
    w->RadioGroup_BemenetTipusa->setItemIndex(1);
    EXPECT_EQ(w->Label_InputHighMertekegyseg->text(), "V");
    w->Edit_InputLow->setText("-10");
    w->Edit_InputHigh->setText("130"); // beyond the voltage limit: stored as 125
    w->RadioGroup_KimenetTipusa->setItemIndex(1);
    w->Edit_OutputLow->setText("0");
    w->Edit_OutputHigh->setText("10");
    w->SpeedButton_WriteSettings->setDown(true);
    EXPECT_FALSE(w->SpeedButton_ReadSettings->Down());
    ASSERT_WAIT(!w->SpeedButton_WriteSettings->Down(), kWaitMs);
    EXPECT_FALSE(w->SpeedButton_ReadSettings->Down()); // released again by the same decoding
    EXPECT_EQ(w->Edit_InputLow->text(), "-10.000");
    EXPECT_EQ(w->Edit_InputHigh->text(), "125.00");
    EXPECT_EQ(w->Edit_OutputHigh->text(), "10.000");
    EXPECT_EQ(w->RadioGroup_KimenetTipusa->ItemIndex(), 1);
    ASSERT_TRUE(reply());
    EXPECT_EQ(w->Label_Output->text(), "0 ... +10.5 V");
    EXPECT_TRUE(w->Image_34->isVisibleTo(w->TabSheet_Uzemmod));
    EXPECT_FALSE(w->Image_56->isVisibleTo(w->TabSheet_Uzemmod));
}

TEST_F(ConfigE2E, FactoryDefaultsFollowTheVariant) {
    start({"--variant", "M"});
    // Before any reply only the types, the output end and the MODBUS settings change.
    w->Edit_InputLow->setText("7");
    w->Edit_OutputHigh->setText("9");
    w->RadioGroup_BemenetTipusa->setItemIndex(1);
    w->ComboBox_MODBUSAddress->setCurrentIndex(12);
    w->Button_GyariAlapSkalaClick();
    EXPECT_EQ(w->RadioGroup_BemenetTipusa->ItemIndex(), 0);
    EXPECT_EQ(w->Edit_InputLow->text(), "7");
    EXPECT_EQ(w->Edit_OutputHigh->text(), "9.000");
    EXPECT_EQ(w->ComboBox_MODBUSAddress->currentIndex(), 0);
    EXPECT_EQ(w->ComboBox_MODBUSBaudRate->currentIndex(), 2);

    ASSERT_TRUE(open());
    ASSERT_TRUE(reply());
    w->Edit_InputLow->setText("1");
    w->Button_GyariAlapSkalaClick();
    EXPECT_EQ(w->Edit_InputLow->text(), "-25.000");
    EXPECT_EQ(w->Edit_InputHigh->text(), "25.000");
    EXPECT_EQ(w->Edit_OutputLow->text(), "0.000");
    EXPECT_EQ(w->Edit_OutputHigh->text(), "22.000");
    // The variant's groups and label; the caption keeps the V model.
    EXPECT_FALSE(w->GroupBox_AnalogOutputSettings->isVisibleTo(w.get()));
    EXPECT_FALSE(w->GroupBox_AnalogOutput->isVisibleTo(w.get()));
    EXPECT_TRUE(w->GroupBox_MODBUSOutputSettings->isVisibleTo(w.get()));
    EXPECT_EQ(w->Label_KeszulekAltipus->text(), "Instrument: VX2207 M");
    EXPECT_EQ(w->windowTitle(), "Configuration software for VX2207 V   V2015-02-27   Velmar Kft.");
}

TEST_F(ConfigE2E, RefusedFirmwareShowsTheDialogAndEndsTheProgram) {
    for (const char* language : {"english", "magyar"}) {
        start({"--firmware", "2015-03-02"}, {}, language);
        QStringList shown;
        QString caption;
        // The dialog runs its own loop: answer it from a timer that ticks inside that loop.
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (!dialog->isVisible()) return;
            answer.stop();
            caption = dialog->windowTitle();
            shown = dialog->Memo_Megnevezes->toPlainText().split('\n');
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
        });
        answer.start(20);
        ASSERT_TRUE(open());
        ASSERT_WAIT(terminations == 1, kWaitMs);
        EXPECT_TRUE(w->FirmwareRefused);
        ASSERT_EQ(shown.size(), 8);
        if (QByteArray(language) == "english") {
            EXPECT_EQ(caption, "This software is not compatible with the instrument.");
            EXPECT_EQ(shown[0], "The firmware of instrument is V2015-03-02");
            EXPECT_EQ(shown[4], "V2013-11-28 ... V2015-02-27 only.");
        } else {
            EXPECT_EQ(caption, "Ez a szoftver és a készülék nem kompatibilis egymással.");
            EXPECT_EQ(shown[3], "V2013-11-28 ... V2015-02-27");
        }
        // The cycle stops: nothing more is sent after the refusal.
        const auto sent = w->MB1->MBNumberOfTxFrames();
        QTest::qWait(200);
        EXPECT_EQ(w->MB1->MBNumberOfTxFrames(), sent);
    }
}

TEST_F(ConfigE2E, ClosingThePortStopsTheCycleAndReopeningSetsTheVariantUpAgain) {
    start({"--variant", "M"});
    ASSERT_TRUE(open());
    ASSERT_TRUE(reply());
    EXPECT_EQ(w->ShownInstrumentType, 1);
    w->MB1->MBClosePort();
    // A request that was waiting for its pause ends as a closed port: the pages go.
    ASSERT_WAIT(!w->PageControl1->isVisibleTo(w.get()), kWaitMs);
    const auto sent = w->MB1->MBNumberOfTxFrames();
    QTest::qWait(300);
    EXPECT_EQ(w->MB1->MBNumberOfTxFrames(), sent);

    w->GroupBox_MODBUSOutputSettings->hide(); // changed behind the window's back
    ASSERT_TRUE(open());
    EXPECT_EQ(w->ShownInstrumentType, -1);
    ASSERT_TRUE(reply());
    EXPECT_TRUE(w->GroupBox_MODBUSOutputSettings->isVisibleTo(w.get()));
}

TEST_F(ConfigE2E, MakerAccessKeepsThePagesThroughFailures) {
    start({"--silent"}, {"/qarnel"});
    w->MB1->setMBMasterTimeOut(50);
    w->MB1->setMBMasterMaxTryNumber(1);
    ASSERT_TRUE(open());
    ASSERT_WAIT(w->MB1->MBStatus() == mb::stTimeOut, kWaitMs);
    EXPECT_TRUE(w->PageControl1->isVisibleTo(w.get()));
    EXPECT_TRUE(w->GroupBox_ADCs->isVisibleTo(w.get()));
}

TEST_F(ConfigE2E, AfterARefusalTheWindowClosesAsTheOperatorWouldAndKeepsItsSettings) {
    QApplication::setQuitOnLastWindowClosed(false); // this process is a test, not the program
    start({"--firmware", "2013-11-27"});
    w->Terminate = nullptr;
    w->show();
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (!dialog->isVisible()) return;
        answer.stop();
        QTest::keyClick(dialog.get(), Qt::Key_Escape);
    });
    answer.start(20);
    ASSERT_TRUE(open());
    ASSERT_WAIT(!w->isVisible(), kWaitMs);
    EXPECT_FALSE(w->MB1->MBPortOpen()); // closed before the settings were written
    QFile settings(dir.filePath("vx.ini"));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QByteArray text = settings.readAll();
    EXPECT_TRUE(text.contains("GsSelectedLanguage=english"));
    EXPECT_TRUE(text.contains(QByteArray("MBLastUsedPort=") + QByteArray::fromStdString(sim->devicePath())));
    QApplication::setQuitOnLastWindowClosed(true);
}

TEST_F(ConfigE2E, AnInstrumentThatComesBackOnItsPathIsPolledAgain) {
    const std::string link = dir.filePath("vx2207-sim.tty").toStdString();
    start({"--link", link, "--exit-with-parent"});
    qputenv("MB_EXTRA_PORTS", QByteArray::fromStdString(link));
    ASSERT_TRUE(w->MB1->MBOpenPort(QString::fromStdString(link)));
    ASSERT_TRUE(reply());
    sim.reset(); // unplugged: the simulator ends and takes its link along
    ASSERT_WAIT(!w->MB1->MBWaitingForPort().isEmpty(), kWaitMs);
    QSignalSpy replies(w.get(), &TForm_Main::replyShown);
    sim = std::make_unique<SimProcess>(VX2207_SIM,
                                       std::vector<std::string>{"--link", link, "--exit-with-parent"});
    ASSERT_TRUE(sim->started());
    EXPECT_TRUE(replies.wait(kWaitMs)); // the poll cycle resumed by itself
    EXPECT_TRUE(w->MB1->MBPortOpen());
}
