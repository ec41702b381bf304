// The request the window builds, byte by byte, after each kind of edit (no instrument needed: the
// transmit buffer holds the request whatever becomes of the transaction).
#include "app/Main.h"
#include "common/pictureformat.h"
#include "instrument/codes.h"
#include "link/mb.h"
#include "simwindow.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDate>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <cstring>

namespace ins = vx::instrument;

namespace {

class RequestBytes : public ::testing::Test, protected AnsweredWindow {
protected:
    std::vector<std::uint8_t> build() {
        std::vector<std::uint8_t> b = requestBytes();
        EXPECT_EQ(b.size(), ins::kRequestSize);
        EXPECT_EQ(w->MB1->MBMasterCommandToSlave(), 1);
        return b;
    }
    static float single(const std::vector<std::uint8_t>& b, std::size_t at) {
        float f;
        std::memcpy(&f, b.data() + at, 4);
        return f;
    }
};

} // namespace

TEST_F(RequestBytes, StartStateAndToday) {
    const auto b = build();
    const QDate today = QDate::currentDate();
    EXPECT_EQ(b[27] | b[28] << 8, today.year());
    EXPECT_EQ(b[29], today.month());
    EXPECT_EQ(b[30], today.day());
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ((std::vector<std::uint8_t>{b.begin() + 19, b.begin() + 27}),
              (std::vector<std::uint8_t>{0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF}));
    EXPECT_EQ(b[75], 100);
    EXPECT_EQ(b[76], 100);
    EXPECT_EQ(single(b, 77), 4.0f);
    EXPECT_EQ(single(b, 81), 20.0f);
    EXPECT_EQ((std::vector<std::uint8_t>{b.begin() + 97, b.end()}),
              (std::vector<std::uint8_t>{0, 0, 1, 2, 0}));
    EXPECT_EQ(w->Label_CalibrationStep->text(), "0");
}

TEST_F(RequestBytes, EachKindOfEditLandsInItsField) {
    // The page first: every page switch puts the forcing back to "Force Off".
    w->PageControl1->setActivePage(w->TabSheet_KimenetEllenorzes);
    w->SpeedButton_WriteSettings->setDown(true);
    w->SpeedButton_Reset->setDown(true);
    w->SpeedButton_HomersekletMinMaxTorlese->setDown(true);
    w->RadioGroup_GainForce->setItemIndex(4);
    w->RadioGroup_GainForceCH->setItemIndex(1);
    w->RadioGroup_DividerForce->setItemIndex(2);
    w->RadioGroup_MereshatarForce->setItemIndex(3);
    w->TrackBar_OutCheck->setValue(20);
    w->RadioGroup_BemenetTipusa->setItemIndex(0);
    w->Edit_InputHigh->setText("-30");
    w->RadioGroup_KimenetTipusa->setItemIndex(1);
    w->Edit_OutputLow->setText("abc");
    w->RadioGroup_MODBUSProtocol->setItemIndex(1);
    w->RadioGroup_MODBUSParity->setItemIndex(2);
    w->ComboBox_MODBUSBaudRate->setCurrentIndex(5);
    w->ComboBox_MODBUSAddress->setCurrentIndex(247);
    w->Low[0] = -5;
    w->High[6] = 0x01020304;
    w->uPWMForce = 0xBEEF;
    const auto b = build();
    EXPECT_EQ(b[0] | b[1] << 8, 0xBEEF);
    EXPECT_EQ(b[2], ins::kCmdStoreSettings | ins::kCmdRestart | ins::kCmdClearTemperatureMinMax);
    EXPECT_EQ((std::vector<std::uint8_t>{b.begin() + 3, b.begin() + 7}),
              (std::vector<std::uint8_t>{0xFB, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ((std::vector<std::uint8_t>{b.begin() + 71, b.begin() + 75}),
              (std::vector<std::uint8_t>{4, 3, 2, 1}));
    EXPECT_EQ(b[31], 255);
    EXPECT_EQ(w->Label_CalibrationStep->text(), "255");
    EXPECT_EQ(b[32], 100);
    EXPECT_EQ(b[33], 200);
    EXPECT_EQ(b[34], 129);
    EXPECT_EQ(b[76], 101);
    EXPECT_EQ(single(b, 81), -25.0f);
    EXPECT_EQ(single(b, 85), 4.0f);
    EXPECT_EQ(b[97], 130);
    EXPECT_EQ((std::vector<std::uint8_t>{b.begin() + 98, b.end()}),
              (std::vector<std::uint8_t>{1, 2, 5, 247}));

    // Leaving the page ends the output check in the next request; a released button drops its bit.
    w->PageControl1->setActivePage(w->TabSheet_Uzemmod);
    w->SpeedButton_Reset->setDown(false);
    const auto next = build();
    EXPECT_EQ(next[31], 0);
    EXPECT_EQ(next[2], ins::kCmdStoreSettings | ins::kCmdClearTemperatureMinMax);
}

TEST_F(RequestBytes, EditorKeysAndExitFormatting) {
    const auto leave = [](QLineEdit* edit, Qt::FocusReason reason = Qt::TabFocusReason) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QCoreApplication::sendEvent(edit, &out);
    };
    vx::setDecimalSeparator(",");
    w->Edit_InputHigh->clear();
    QTest::keyClicks(w->Edit_InputHigh, "1.5");
    EXPECT_EQ(w->Edit_InputHigh->text(), "1,5");
    // Its context menu or another window taking the focus is not leaving the edit.
    leave(w->Edit_InputHigh, Qt::PopupFocusReason);
    leave(w->Edit_InputHigh, Qt::ActiveWindowFocusReason);
    EXPECT_EQ(w->Edit_InputHigh->text(), "1,5");
    leave(w->Edit_InputHigh); // reformatted by its magnitude
    EXPECT_EQ(w->Edit_InputHigh->text(), "1,5000");
    w->Edit_OutputLow->clear();
    QTest::keyClicks(w->Edit_OutputLow, "2,25");
    leave(w->Edit_OutputLow);
    EXPECT_EQ(w->Edit_OutputLow->text(), "2,250");
    w->Edit_InputLow->setText("abc");
    leave(w->Edit_InputLow);
    EXPECT_EQ(w->Edit_InputLow->text(), "0,00000");
    const auto b = build();
    EXPECT_EQ(single(b, 77), 0.0f);
    EXPECT_EQ(single(b, 81), 1.5f);
    EXPECT_EQ(single(b, 85), 2.25f);
    vx::setDecimalSeparator(".");
}
