// The window from the keyboard and for assistive tools, under a dark palette, and on small screens.
#include "app/Main.h"
#include "link/mb.h"
#include "ptypair.h"
#include "waitfor.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>

namespace {

class Keyboard : public ::testing::Test {
protected:
    std::unique_ptr<TForm_Main> open(QStringList args = {"/QARNEL"}) {
        TForm_Main::Options o;
        o.settingsPath = dir.filePath("vx.ini");
        o.arguments = std::move(args);
        auto w = std::make_unique<TForm_Main>(std::move(o));
        w->FormActivate();
        return w;
    }
    static void activate(QWidget* w) {
        w->show();
        QApplication::setActiveWindow(w);
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    }
    template <typename T = QWidget> static T* child(QObject* parent, const char* name) {
        return parent->findChild<T*>(QLatin1String(name));
    }
    static QString describe(QWidget* w) {
        return w ? w->objectName() + QLatin1Char('/') + w->property("text").toString() : QStringLiteral("-");
    }
    QTemporaryDir dir;
};

TEST_F(Keyboard, TabVisitsEveryControlOfTheSettingsPageAndTheLinkPanelInOrder) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    qputenv("MB_EXTRA_PORTS", QByteArray::fromStdString(pty.slavePath()));
    for (const bool modbus : {false, true}) {
        auto w = open();
        if (modbus) {
            w->iTypeOfInstrument = 1;
            w->ApplyInstrumentVariant();
        }
        activate(w.get());
        w->MB1->MBRefreshPortList();
        auto* refresh = child<QPushButton>(w->MB1, "Button_Refresh");
        ASSERT_WAIT(refresh->isEnabled(), 5000);

        QList<QWidget*> expected{w->PageControl1->tabBar()};
        const auto radios = [&](TRadioGroup* g) {
            for (int i = 0; i < g->itemCount(); ++i)
                expected << g->button(i);
        };
        radios(w->RadioGroup_BemenetTipusa);
        expected << w->Edit_InputLow << w->Edit_InputHigh;
        if (modbus) {
            radios(w->RadioGroup_MODBUSProtocol);
            radios(w->RadioGroup_MODBUSParity);
            expected << w->ComboBox_MODBUSBaudRate << w->ComboBox_MODBUSAddress;
        } else {
            radios(w->RadioGroup_KimenetTipusa);
            expected << w->Edit_OutputLow << w->Edit_OutputHigh;
        }
        expected << w->SpeedButton_ReadSettings << w->SpeedButton_WriteSettings << w->Button_GyariAlapSkala
                 << child(w->MB1, "Shape_Status") << child(w->MB1, "ListBox_Ports")
                 << child(w->MB1, "SpeedButton_Open") << refresh << w->SpeedButton_Reset
                 << w->SpeedButton_Angol << w->SpeedButton_Magyar;

        expected.first()->setFocus(Qt::TabFocusReason);
        QStringList visited, wanted;
        for (QWidget* e : expected)
            wanted << describe(e);
        for (int i = 0; i < expected.size(); ++i) {
            visited << describe(QApplication::focusWidget());
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(visited.join('\n').toStdString(), wanted.join('\n').toStdString())
            << (modbus ? "MODBUS" : "analogue");
        // Round and back at the start.
        EXPECT_EQ(describe(QApplication::focusWidget()).toStdString(),
                  describe(expected.first()).toStdString());
    }
    qunsetenv("MB_EXTRA_PORTS");
}

TEST_F(Keyboard, SpaceAndEnterOnAToggleButtonDoWhatAClickDoes) {
    struct Case {
        const char* button;
        Qt::Key key;
    };
    for (const Case c :
         {Case{"SpeedButton_Angol", Qt::Key_Space}, Case{"SpeedButton_Angol", Qt::Key_Return},
          Case{"SpeedButton_Reset", Qt::Key_Space}, Case{"SpeedButton_WriteSettings", Qt::Key_Enter},
          Case{"SpeedButton_ReadSettings", Qt::Key_Space}}) {
        auto clicked = open(), keyed = open();
        QTest::mouseClick(child(clicked.get(), c.button), Qt::LeftButton);
        activate(keyed.get());
        auto* b = child<TSpeedButton>(keyed.get(), c.button);
        b->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(b->hasFocus());
        QTest::keyClick(b, c.key);
        for (auto* s : clicked->findChildren<TSpeedButton*>())
            EXPECT_EQ(child<TSpeedButton>(keyed.get(), s->objectName().toLatin1())->Down(), s->Down())
                << c.button << " " << s->objectName().toStdString();
        EXPECT_EQ(keyed->GsSelectedLanguage, clicked->GsSelectedLanguage) << c.button;
        keyed->hide();
    }
}

TEST_F(Keyboard, EditsAreNamedByTheirCaptionsAndLampsSayTheirState) {
    auto w = open();
    QAccessible::setActive(true);
    for (const bool english : {false, true}) {
        w->ApplyLanguage(english ? "english" : "magyar");
        for (const auto& [edit, caption] : {std::pair<QWidget*, const char*>{w->Edit_InputLow, "Label4"},
                                            {w->Edit_InputHigh, "Label11"},
                                            {w->Edit_OutputLow, "Label15"},
                                            {w->Edit_OutputHigh, "Label32"},
                                            {w->ComboBox_MODBUSBaudRate, "Label35"},
                                            {w->ComboBox_MODBUSAddress, "Label36"}}) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(edit);
            ASSERT_NE(a, nullptr);
            auto* label = child<QLabel>(w.get(), caption);
            // An edit is named by its caption; a list names its choice and is labelled by the caption.
            if (qobject_cast<QLineEdit*>(edit)) {
                EXPECT_EQ(a->text(QAccessible::Name).toStdString(), label->text().toStdString());
            }
            bool labelled = false;
            for (const auto& [other, relation] : a->relations(QAccessible::Label))
                labelled |= other->object() == label;
            EXPECT_TRUE(labelled) << edit->objectName().toStdString();
        }
    }
    EXPECT_FALSE(child(w->MB1, "ListBox_Ports")->accessibleName().isEmpty());
    EXPECT_EQ(child(w->MB1, "Shape_Port")->accessibleDescription(), "closed");
    EXPECT_FALSE(child(w->MB1, "Shape_Status")->accessibleDescription().isEmpty());
    EXPECT_FALSE(w->Label_ADError->accessibleDescription().isEmpty());
    QAccessible::setActive(false);
}

double luminance(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST_F(Keyboard, ToggleButtonsStayReadableUnderADarkPaletteAndKeepTheirLightFaces) {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2d2d2d));
    dark.setColor(QPalette::WindowText, QColor(0xe6e6e6));
    dark.setColor(QPalette::Button, QColor(0x3a3a3a));
    dark.setColor(QPalette::ButtonText, QColor(0xf0f0f0));
    dark.setColor(QPalette::Highlight, QColor(0x2a82da));
    const QPalette light = QApplication::palette();
    for (const bool isDark : {false, true}) {
        // As a desktop with a dark theme would have it.
        if (isDark) QApplication::setPalette(dark);
        auto w = open();
        activate(w.get());
        for (TSpeedButton* b :
             {w->SpeedButton_ReadSettings, w->SpeedButton_WriteSettings, w->SpeedButton_Reset}) {
            const QImage face = b->grab().toImage();
            const QColor back = face.pixelColor(4, face.height() / 2);
            const QColor text = b->palette().color(QPalette::ButtonText);
            EXPECT_GE(contrast(back, text), 4.5)
                << b->objectName().toStdString() << (isDark ? " dark " : " light ")
                << back.name().toStdString();
            if (!isDark) {
                EXPECT_GT(back.lightness(), 200) << b->objectName().toStdString();
            }
        }
        w->hide();
    }
    QApplication::setPalette(light);
}

// Run as well on a 1024x768 screen and at twice the scale on 1280x800 (see CMakeLists.txt).
TEST_F(Keyboard, WindowOpensOnTheScreenAndItsClientAreaScrolls) {
    auto w = open();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (const QByteArray want = qgetenv("VX_TEST_SCREEN"); !want.isEmpty()) {
        const QSize physical = screen->geometry().size() * screen->devicePixelRatio();
        EXPECT_EQ(QStringLiteral("%1x%2@%3")
                      .arg(physical.width())
                      .arg(physical.height())
                      .arg(screen->devicePixelRatio())
                      .toStdString(),
                  want.toStdString());
    }
    const QRect available = screen->availableGeometry();
    w->placeOnScreen(available);
    activate(w.get());
    EXPECT_TRUE(available.contains(w->frameGeometry())) << available.width() << "x" << available.height();

    auto* scroll = child<QScrollArea>(w.get(), "ScrollBox_Client");
    if (available.width() < 1056) {
        EXPECT_TRUE(scroll->horizontalScrollBar()->isVisible());
    }
    if (available.height() < 569) {
        EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
    }
    // The far corners come into view: the language buttons and the page area's right side.
    for (QWidget* target :
         {static_cast<QWidget*>(w->SpeedButton_Magyar), static_cast<QWidget*>(w->Button_GyariAlapSkala)}) {
        scroll->ensureWidgetVisible(target, 0, 0);
        const QRect inView(target->mapTo(scroll->viewport(), QPoint()), target->size());
        EXPECT_TRUE(scroll->viewport()->rect().contains(inView)) << target->objectName().toStdString();
    }
    // The window and its dialogs wear the program's icon; pictures are drawn for the screen's scale.
    EXPECT_FALSE(w->windowIcon().isNull());
    EXPECT_EQ(w->Image_78->pixmap().devicePixelRatio(), screen->devicePixelRatio());
}

} // namespace
