// Safe settings writes and the settings backup against vx2207-sim: what the instrument ends up holding.
#include "app/Main.h"
#include "link/mb.h"
#include "simwindow.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace {

class SettingsSafety : public ::testing::Test, protected SimWindow {
protected:
    void SetUp() override {
        ASSERT_TRUE(SimWindow::start({"--exit-with-parent"}, {}, "english", [this](TForm_Main& window) {
            window.ConfirmWrite = [this](const QString& text) {
                asked << text;
                return answer;
            };
        }));
    }
    // Writes what the editor holds and waits for the read-back.
    bool write() {
        w->SpeedButton_WriteSettings->click();
        for (int i = 0;
             i < 40 && (w->SpeedButton_WriteSettings->Down() || w->SpeedButton_ReadSettings->Down()); ++i)
            if (!reply()) return false;
        return reply();
    }
    QStringList asked;
    bool answer = false;
};

} // namespace

TEST_F(SettingsSafety, EditsAreMarkedUntilTheyMatchAgain) {
    const QLabel* inputHighMark =
        w->SettingsMarks[static_cast<std::size_t>(vx::app::tools::SettingField::InputHigh)];
    EXPECT_FALSE(inputHighMark->isVisibleTo(w.get()));
    const QString stored = w->Edit_InputHigh->text();
    w->Edit_InputHigh->setText("12");
    ASSERT_TRUE(reply());
    EXPECT_TRUE(inputHighMark->isVisibleTo(w.get()));
    EXPECT_TRUE(w->Label_SettingsDiffer->text().contains("22.000 → 12.000"))
        << w->Label_SettingsDiffer->text().toStdString();
    w->Edit_InputHigh->setText(stored);
    ASSERT_TRUE(reply());
    EXPECT_FALSE(inputHighMark->isVisibleTo(w.get()));
    EXPECT_TRUE(w->Label_SettingsDiffer->text().isEmpty());
}

TEST_F(SettingsSafety, DoubtfulWriteAsksAndCancelChangesNothing) {
    w->Edit_OutputHigh->setText(w->Edit_OutputLow->text()); // zero span
    answer = false;
    w->SpeedButton_WriteSettings->click();
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains("Output end value")) << asked[0].toStdString();
    EXPECT_FALSE(w->SpeedButton_WriteSettings->Down());
    ASSERT_TRUE(reply());
    ASSERT_TRUE(reply());
    EXPECT_EQ(w->LastReply.DeviceOutputHigh, 22.0); // the instrument kept its end value

    // A sound write goes out without a question.
    w->Edit_OutputHigh->setText("20");
    ASSERT_TRUE(write());
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(w->LastReply.DeviceOutputHigh, 20.0);
}

TEST_F(SettingsSafety, BackupRestoreAndWriteGivesTheSavedSettings) {
    w->RadioGroup_BemenetTipusa->setItemIndex(1);
    w->Edit_InputLow->setText("-10");
    w->Edit_InputHigh->setText("10");
    ASSERT_TRUE(write());
    const QString file = dir.filePath("unit.json");
    ASSERT_EQ(w->SaveSettingsBackup(file), "");

    // Another unit's settings, then the saved ones back into the editor and written.
    w->Button_GyariAlapSkalaClick();
    ASSERT_TRUE(write());
    ASSERT_EQ(w->LastReply.InputTypeCode, 100);
    QStringList differences;
    ASSERT_EQ(w->RestoreSettingsBackup(file, &differences), "");
    EXPECT_EQ(differences.size(), 3) << differences.join("; ").toStdString();
    ASSERT_TRUE(reply());
    EXPECT_EQ(w->LastReply.InputTypeCode, 100) << "restoring never writes by itself";
    ASSERT_TRUE(write());
    EXPECT_EQ(w->LastReply.InputTypeCode, 101);
    EXPECT_EQ(w->LastReply.DeviceInputLow, -10.0);
    EXPECT_EQ(w->LastReply.DeviceInputHigh, 10.0);

    // A file of the other variant, and a damaged file, change nothing.
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray saved = f.readAll();
    f.close();
    QFile other(dir.filePath("other.json"));
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.write(QByteArray(saved).replace("\"VX2207 V\"", "\"VX2207 M\""));
    other.close();
    w->Edit_InputHigh->setText("7");
    EXPECT_TRUE(w->RestoreSettingsBackup(other.fileName()).contains("VX2207 M"));
    EXPECT_EQ(w->Edit_InputHigh->text(), "7");
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.resize(f.size() / 2);
    f.close();
    w->Edit_InputHigh->setText("7");
    EXPECT_NE(w->RestoreSettingsBackup(file), "");
    EXPECT_EQ(w->Edit_InputHigh->text(), "7");
}
