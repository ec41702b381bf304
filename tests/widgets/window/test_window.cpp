#include "app/DUTHiba.h"
#include "app/Main.h"
#include "common/profilefile.h"
#include "link/mb.h"
#include "link/serialport_posix.h"
#include "widgets/mbargraph.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "ptypair.h"
#include "waitfor.h"

namespace {

const QString kEnglishCaption = "Configuration software for VX2207 V   V2015-02-27   Velmar Kft.";
const QString kHungarianCaption = "VX2207 V beállító program   V2015-02-27   Velmar Kft.";

class Window : public ::testing::Test {
protected:
    std::unique_ptr<TForm_Main> open(QStringList args = {}) {
        TForm_Main::Options o;
        o.settingsPath = settings();
        o.arguments = std::move(args);
        auto w = std::make_unique<TForm_Main>(std::move(o));
        w->FormActivate();
        return w;
    }
    QString settings() const { return dir.filePath("vx2207-config.ini"); }
    void write(const QByteArray& text) {
        QFile f(settings());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QByteArray read() const {
        QFile f(settings());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    template <typename T = QWidget> static T* child(const TForm_Main& w, const char* name) {
        return w.findChild<T*>(QLatin1String(name));
    }
    static QString title(const TForm_Main& w, const char* name) { return child<QGroupBox>(w, name)->title(); }
    static QString text(const TForm_Main& w, const char* name) {
        QWidget* c = child(w, name);
        if (auto* l = qobject_cast<QLabel*>(c)) return l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(c)) return b->text();
        return QString();
    }
    // Everything a language can change, for comparing two states of the window.
    static QStringList texts(const TForm_Main& w) {
        QStringList out{w.windowTitle()};
        for (auto* l : w.findChildren<QLabel*>())
            out << l->objectName() + "=" + l->text();
        for (auto* g : w.findChildren<QGroupBox*>())
            out << g->objectName() + "=" + g->title();
        for (auto* b : w.findChildren<QAbstractButton*>())
            out << b->objectName() + "=" + b->text();
        for (auto* r : w.findChildren<TRadioGroup*>())
            out << r->objectName() + "#" + QString::number(r->ItemIndex()) + "=" + r->Items().join('|');
        for (int i = 0; i < w.PageControl1->count(); ++i)
            out << w.PageControl1->tabText(i);
        return out;
    }
    QTemporaryDir dir;
};

TEST_F(Window, FirstRunIsHungarianAndWritesTheFileInOrder) {
    auto w = open();
    EXPECT_EQ(w->GsSelectedLanguage, "magyar");
    EXPECT_TRUE(w->SpeedButton_Magyar->Down());
    EXPECT_FALSE(w->SpeedButton_Angol->Down());
    EXPECT_EQ(w->MBLastUsedPort(), "");
    EXPECT_EQ(title(*w, "GroupBox1"), "Hibakód");
    EXPECT_EQ(w->PageControl1->caption(w->TabSheet_Uzemmod), "Beállítások");
    EXPECT_EQ(w->RadioGroup_MODBUSParity->Items(),
              QStringList({"Nincs (None)", "Páros (Even)", "Páratlan (Odd)"}));
    EXPECT_EQ(w->windowTitle(), kHungarianCaption);
    EXPECT_EQ(w->GsHours, " óra  ");
    EXPECT_EQ(w->GsMinutes, " perc.");
    EXPECT_EQ(w->GsInstrument, "Készülék: ");

    // Normal mode without an instrument: only the link panel and the language buttons.
    EXPECT_FALSE(w->MakerAccess);
    for (QWidget* hidden :
         {static_cast<QWidget*>(w->PageControl1), static_cast<QWidget*>(w->GroupBox_System),
          static_cast<QWidget*>(w->Label_KeszulekAltipus), static_cast<QWidget*>(w->GroupBox_ADCs)})
        EXPECT_FALSE(hidden->isVisibleTo(w.get())) << hidden->objectName().toStdString();
    EXPECT_TRUE(w->MB1->isVisibleTo(w.get()));
    EXPECT_EQ(w->PageControl1->visibleTabNames(), QStringList{"TabSheet_Uzemmod"});
    EXPECT_EQ(w->PageControl1->ActivePage(), w->TabSheet_Uzemmod);
    EXPECT_EQ(w->Label_KeszulekAltipus->text(), "Készülék: VX2207 V");

    w->FormClose();
    const QByteArray file = read();
    const int date = file.indexOf("[Date]\nDate="), com = file.indexOf("[Com]\nMBLastUsedPort=\n"),
              language = file.indexOf("[Language]\nGsSelectedLanguage=magyar\n");
    EXPECT_EQ(date, 0) << file.toStdString();
    EXPECT_GT(com, date);
    EXPECT_GT(language, com);
    const QByteArray stamp = file.mid(12, file.indexOf('\n', 12) - 12);
    EXPECT_TRUE(stamp.contains("   ")) << stamp.toStdString();
}

TEST_F(Window, StoredValuesComeBackAndTheRestOfTheFileStays) {
    write("; kept\n[Language]\nGsSelectedLanguage=ENGLISH\n[com]\nmblastusedport=/dev/ttyUSB3\nOther=1\n");
    auto w = open();
    EXPECT_EQ(w->GsSelectedLanguage, "english");
    EXPECT_TRUE(w->SpeedButton_Angol->Down());
    EXPECT_EQ(w->MBLastUsedPort(), "/dev/ttyUSB3");
    EXPECT_EQ(w->windowTitle(), kEnglishCaption);
    EXPECT_EQ(text(*w, "SpeedButton_ReadSettings"), "Read settings from istrument");
    EXPECT_EQ(w->GsNotCompatible, "This software is not compatible with the instrument.");
    w->setMBLastUsedPort("/dev/pts/7\nInjected=1");
    w->FormClose();
    w->FormClose(); // closing twice saves once
    const QByteArray file = read();
    EXPECT_TRUE(file.startsWith("; kept\n[Language]\nGsSelectedLanguage=english\n[com]\n"
                                "MBLastUsedPort=/dev/pts/7 Injected=1\nOther=1\n[Date]\nDate="))
        << file.toStdString();
    EXPECT_EQ(file.count("\n"), 8);

    auto again = open();
    EXPECT_EQ(again->MBLastUsedPort(), "/dev/pts/7 Injected=1");
}

TEST_F(Window, BadSettingsFilesGiveDefaults) {
    static const char junk[] = "\x00\xff\xfe[\x01Language]\x00=english";
    const QByteArray cases[] = {
        QByteArray(),
        QByteArray(junk, sizeof junk - 1),
        "GsSelectedLanguage=english\nMBLastUsedPort=COM9\n", // no sections
        "[Language]\nGsSelectedLanguage= magyarx\n",
        "[Language]\nGsSelectedLanguage=deutsch\n",
        "[Language]\n" + QByteArray(2 << 20, 'x') + "\nGsSelectedLanguage=english\n",
    };
    for (const QByteArray& c : cases) {
        write(c);
        auto w = open();
        EXPECT_EQ(w->GsSelectedLanguage, "magyar");
        EXPECT_TRUE(w->SpeedButton_Magyar->Down());
        EXPECT_EQ(title(*w, "GroupBox_MODBUSOutputSettings"), "MODBUS kimenet");
        EXPECT_EQ(w->RadioGroup_BemenetTipusa->Items(), QStringList({"Áram", "Feszültség"}));
        EXPECT_EQ(w->MBLastUsedPort(), "");
    }
    // Duplicate keys: the first counts.
    write("[Language]\nGsSelectedLanguage=english\nGsSelectedLanguage=magyar\n");
    EXPECT_EQ(open()->GsSelectedLanguage, "english");
}

TEST_F(Window, TheRememberedPortChangesOnlyWhenTheUserOpensAnother) {
    // The remembered adapter is not plugged in; the port list preselects what is there instead.
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ::setenv("MB_EXTRA_PORTS", pty.slavePath().c_str(), 1);
    const QByteArray absent = "/dev/serial/by-id/usb-vx-adapter-if00-port0";
    for (const bool opened : {false, true}) {
        write("[Com]\nMBLastUsedPort=" + absent + "\n");
        auto w = open();
        auto* button = child<QPushButton>(*w, "SpeedButton_Open");
        ASSERT_WAIT(button->isEnabled(), 5000);
        if (opened) {
            ASSERT_TRUE(w->MB1->MBOpenPort(QString::fromStdString(pty.slavePath())));
        }
        w->FormClose();
        const QByteArray stored = opened ? QByteArray::fromStdString(pty.slavePath()) : absent;
        EXPECT_TRUE(read().contains("MBLastUsedPort=" + stored + "\n")) << read().toStdString();
    }
    ::unsetenv("MB_EXTRA_PORTS");
}

TEST_F(Window, UnwritableSettingsPlaceClosesQuietly) {
    write("not a folder");
    TForm_Main::Options o;
    o.settingsPath = settings() + "/vx2207-config.ini";
    o.arguments = QStringList{};
    TForm_Main w(o);
    w.FormClose();
    EXPECT_EQ(read(), "not a folder");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

TEST_F(Window, SettingsFileLivesBesideTheProgramUnlessInstalled) {
    const QString path = TForm_Main::defaultSettingsPath();
    EXPECT_TRUE(path.endsWith("/test_window.ini")) << path.toStdString();
    // Installed by `cmake --install` into a prefix of its own: the data files sit beside bin/.
    const QString prefix = dir.filePath("prefix/bin/vx2207-config");
    const QString marker = QDir::cleanPath(dir.filePath("prefix/bin/" VX_INSTALLED_MARKER));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(marker).absolutePath()));
    ASSERT_TRUE(QFile(marker).open(QIODevice::WriteOnly));
    qputenv("XDG_CONFIG_HOME", dir.filePath("config").toUtf8());
    const QString user = dir.filePath("config/vx2207-config.ini");
    const struct {
        QString executable;
        bool writable;
        QString settings;
    } cases[] = {
        {"/home/u/build/app/vx2207-config", true, "/home/u/build/app/vx2207-config.ini"},
        {"/home/u/tools/config.exe", true, "/home/u/tools/config.ini"},
        {"/home/u/build/app/vx2207-config", false, user},
        // The system's places, writable as they are for root.
        {"/usr/bin/vx2207-config", true, user},
        {"/usr/local/bin/vx2207-config", true, user},
        {"/opt/vx/vx2207-config", true, user},
        {"/usrx/bin/vx2207-config", true, "/usrx/bin/vx2207-config.ini"},
        {"/optional/vx2207-config", true, "/optional/vx2207-config.ini"},
        {prefix, true, user},
        {dir.filePath("loose/vx2207-config"), true, dir.filePath("loose/vx2207-config.ini")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TForm_Main::settingsPathFor(c.executable, c.writable).toStdString(),
                  c.settings.toStdString());
    qunsetenv("XDG_CONFIG_HOME");

    // Saving there creates the folder as needed.
    TForm_Main::Options o;
    o.settingsPath = dir.filePath("config/vx2207-config.ini");
    o.arguments = QStringList{};
    TForm_Main w(o);
    w.FormClose();
    EXPECT_TRUE(QFile::exists(o.settingsPath));
}

TEST_F(Window, ThePortNoticeLeavesTheLeftColumnsControlsUncovered) {
    // A port another program holds: opening it fails, and the panel's notice says why.
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    mb::port::SerialPort other;
    ASSERT_TRUE(other.open(pty.slavePath(), {}, nullptr));
    ::setenv("MB_EXTRA_PORTS", pty.slavePath().c_str(), 1);
    for (const QStringList& args : {QStringList{}, QStringList{"/QARNEL"}}) {
        auto w = open(args);
        EXPECT_FALSE(w->MB1->MBOpenPort(QString::fromStdString(pty.slavePath())));
        auto* notice = child<QLabel>(*w, "Label_PortNotice");
        ASSERT_FALSE(notice->isHidden());
        ASSERT_TRUE(notice->text().contains("busy")) << notice->text().toStdString();
        const QRect at(notice->mapTo(w.get(), QPoint()), notice->size());
        EXPECT_EQ(w->MB1->size(), QSize(153, 145));
        for (const char* name : {"MB1", "GroupBox_System", "GroupBox_ADCs", "SpeedButton_Angol",
                                 "SpeedButton_Magyar", "PageControl1"}) {
            QWidget* c = child(*w, name);
            if (c->isHidden()) continue;
            EXPECT_FALSE(at.intersects(QRect(c->mapTo(w.get(), QPoint()), c->size())))
                << name << " under the notice, args " << args.join(' ').toStdString();
        }
    }
    ::unsetenv("MB_EXTRA_PORTS");
}

TEST_F(Window, AccessSwitchSpellings) {
    for (const QStringList& args : {QStringList{"/QARNEL"}, QStringList{"/qarnel"},
                                    QStringList{"x", "/QaRnEl", "y"}, QStringList{"/QARNEL", "other"}}) {
        auto w = open(args);
        EXPECT_TRUE(w->MakerAccess) << args.join(' ').toStdString();
    }
    for (const QStringList& args : {QStringList{}, QStringList{"QARNEL"}, QStringList{" /QARNEL"},
                                    QStringList{"/QARNEL "}, QStringList{"/QARNELX"}, QStringList{"x/QARNEL"},
                                    QStringList{"-QARNEL"}, QStringList{"/QAR NEL"}, QStringList{""}}) {
        auto w = open(args);
        EXPECT_FALSE(w->MakerAccess) << args.join(' ').toStdString();
    }
}

TEST_F(Window, MakerModeShowsEverythingInBothLanguages) {
    write("[Language]\nGsSelectedLanguage=english\n");
    auto w = open({"/QARNEL"});
    EXPECT_TRUE(w->MakerAccess);
    EXPECT_EQ(w->PageControl1->visibleTabNames(),
              QStringList({"TabSheet_Uzemmod", "TabSheet_InputCalibration", "TabSheet_OutputCalibration",
                           "TabSheet_KimenetEllenorzes", "TabSheet_Test"}));
    for (QWidget* shown :
         {static_cast<QWidget*>(w->PageControl1), static_cast<QWidget*>(w->GroupBox_System),
          static_cast<QWidget*>(w->Label_KeszulekAltipus), static_cast<QWidget*>(w->GroupBox_ADCs)})
        EXPECT_TRUE(shown->isVisibleTo(w.get())) << shown->objectName().toStdString();
    EXPECT_EQ(w->PageControl1->ActivePage(), w->TabSheet_Uzemmod);
    EXPECT_EQ(w->Label_KeszulekAltipus->text(), "Instrument: VX2207 V - Velmar szintű hozzáférés");
    EXPECT_EQ(w->windowTitle(), kEnglishCaption);

    w->show();
    QTest::mouseClick(w->SpeedButton_Magyar, Qt::LeftButton);
    EXPECT_EQ(w->Label_KeszulekAltipus->text(), "Készülék: VX2207 V - Velmar szintű hozzáférés");
    EXPECT_EQ(w->windowTitle(), kHungarianCaption);
    EXPECT_EQ(w->PageControl1->visibleTabNames().size(), 5);
    // Service-page captions are the same in both languages.
    EXPECT_EQ(w->PageControl1->caption(w->TabSheet_Test), "Test Page");

    // A variant reported later changes the device label only; activation again gives the same picture.
    w->InstrumentModelCaption = "VX2207 M";
    w->ApplyAccessMode();
    w->FormActivate();
    EXPECT_EQ(w->Label_KeszulekAltipus->text(), "Készülék: VX2207 M - Velmar szintű hozzáférés");
    EXPECT_EQ(w->windowTitle(), kHungarianCaption);
    EXPECT_TRUE(w->GroupBox_ADCs->isVisible());
}

TEST_F(Window, LanguageSwitchKeepsSelectionsAndRaisesClicks) {
    auto w = open();
    w->show();
    w->RadioGroup_KimenetTipusa->setItemIndex(1);
    w->RadioGroup_MODBUSParity->setItemIndex(2);
    QSignalSpy inputClicks(w->RadioGroup_BemenetTipusa, &TRadioGroup::clicked);
    QSignalSpy outputClicks(w->RadioGroup_KimenetTipusa, &TRadioGroup::clicked);

    QTest::mouseClick(w->SpeedButton_Angol, Qt::LeftButton);
    EXPECT_EQ(w->GsSelectedLanguage, "english");
    EXPECT_TRUE(w->SpeedButton_Angol->Down());
    EXPECT_FALSE(w->SpeedButton_Magyar->Down());
    EXPECT_EQ(w->RadioGroup_KimenetTipusa->ItemIndex(), 1);
    EXPECT_EQ(w->RadioGroup_KimenetTipusa->Items(), QStringList({"Current", "Voltage"}));
    EXPECT_EQ(w->RadioGroup_BemenetTipusa->ItemIndex(), 0);
    EXPECT_EQ(w->RadioGroup_MODBUSParity->ItemIndex(), 2);
    EXPECT_EQ(w->RadioGroup_MODBUSParity->Items(), QStringList({"None", "Even", "Odd"}));
    EXPECT_EQ(inputClicks.count(), 1);
    EXPECT_EQ(outputClicks.count(), 1);
    EXPECT_EQ(title(*w, "GroupBox_Input"), "Input range");
    EXPECT_EQ(text(*w, "Label35"), "Baud rate:");
    EXPECT_EQ(w->GsHours, " hours  ");
    EXPECT_EQ(w->GsMinutes, " minutes.");

    // Twice in a row, or there and back again, gives the same window as once.
    const QStringList once = texts(*w);
    QTest::mouseClick(w->SpeedButton_Angol, Qt::LeftButton);
    EXPECT_TRUE(w->SpeedButton_Angol->Down());
    EXPECT_EQ(texts(*w), once);
    QTest::mouseClick(w->SpeedButton_Magyar, Qt::LeftButton);
    EXPECT_NE(texts(*w), once);
    QTest::mouseClick(w->SpeedButton_Angol, Qt::LeftButton);
    EXPECT_EQ(texts(*w), once);

    // A name that is neither language keeps the texts once some are loaded.
    w->ApplyLanguage(" english");
    EXPECT_EQ(w->GsSelectedLanguage, " english");
    EXPECT_EQ(title(*w, "GroupBox_Input"), "Input range");
    EXPECT_EQ(w->RadioGroup_KimenetTipusa->ItemIndex(), 1);
}

TEST_F(Window, LayoutStartState) {
    auto w = open();
    EXPECT_EQ(w->objectName(), "Form_Main");
    EXPECT_EQ(w->findChildren<TMBarGraph*>().size(), 10);
    EXPECT_EQ(w->MB1->geometry(), QRect(8, 8, 153, 145));
    EXPECT_EQ(w->MB1->title(), "MB Master v2015-01-29");
    EXPECT_EQ(w->PageControl1->geometry(), QRect(304, 32, 737, 497));
    EXPECT_EQ(w->SpeedButton_Angol->geometry(), QRect(8, 498, 57, 25));
    EXPECT_FALSE(w->Timer_InCal->isActive());

    EXPECT_EQ(w->PageControl4->count(), 7);
    EXPECT_TRUE(w->PageControl4->visibleTabNames().isEmpty());
    EXPECT_EQ(w->PageControl4->ActivePage(), w->TabSheet_OutCalStep[0]);
    EXPECT_TRUE(w->PageControl_InputCalibration->visibleTabNames().isEmpty());
    EXPECT_FALSE(w->SpeedButton_OutputCalibrationBack->isVisibleTo(w.get()));
    EXPECT_TRUE(w->SpeedButton_OutputCalibrationNext->isVisibleTo(w->TabSheet_OutputCalibration));
    EXPECT_EQ(w->ListBox_OutputCalibrated->count(), 0);
    EXPECT_EQ(w->uOut20mA, 65535);
    EXPECT_EQ(w->uOut10V, 65535);
    EXPECT_EQ(w->BoardIdentifier, 255);
    EXPECT_EQ(w->iTypeOfInstrument, -1);
    EXPECT_EQ(w->InstrumentModelCaption, "VX2207 V");

    EXPECT_TRUE(w->SpeedButton_ReadSettings->Down());
    EXPECT_FALSE(w->SpeedButton_WriteSettings->Down());
    EXPECT_TRUE(w->SpeedButton_Test12mA->Down());
    EXPECT_TRUE(w->SpeedButton_Test6V->Down());
    EXPECT_EQ(w->RadioGroup_MODBUSParity->ItemIndex(), 1);
    EXPECT_EQ(w->RadioGroup_MereshatarForce->itemCount(), 8);
    EXPECT_EQ(w->ComboBox_MODBUSBaudRate->currentText(), "9600 bit/sec.");
    EXPECT_EQ(w->ComboBox_MODBUSAddress->count(), 248);
    EXPECT_EQ(w->ComboBox_MODBUSAddress->itemText(247), "247");
    EXPECT_EQ(w->Edit_InputLow->text(), "4");
    EXPECT_EQ(w->Edit_OutputHigh->text(), "20");
    EXPECT_TRUE(w->Image_78->isVisibleTo(w->GroupBox_AnalogInput));
    EXPECT_FALSE(w->Image_79->isVisibleTo(w->GroupBox_AnalogInput));
    EXPECT_FALSE(w->Label_EEPROMHiba->isVisibleTo(w->GroupBox_System));
    EXPECT_EQ(w->Label_InputCommon->text(), "IN-: terminal 7 (Common)");
    EXPECT_EQ(w->PWMStepButtons[9]->text(), "+10 000");

    // Pictures are in place at their sizes, and every named control exists.
    EXPECT_EQ(w->Image_79->pixmap().size(), QSize(74, 185));
    EXPECT_EQ(w->Image_34->pixmap().size(), QSize(97, 181));
    EXPECT_EQ(w->SpeedButton_OutputCalibrationNext->size(), QSize(64, 50));
    for (const char* name : {"Label_KeszulekAltipus",
                             "GroupBox9",
                             "Label22",
                             "Label_MertHomersekletMax",
                             "Label1",
                             "Label40",
                             "MBarGraph_AD2Szurt",
                             "Label4",
                             "Label32",
                             "GroupBox11",
                             "Image_710",
                             "Image_56",
                             "Label31",
                             "Image_InputCalibration",
                             "Label_InputCalibration1",
                             "Memo_InputCalibration2",
                             "SpeedButton_ADCalBeiras",
                             "Label67",
                             "GroupBox_PWM",
                             "GroupBox_PWMErtekValtoztatas",
                             "Button1",
                             "Button10",
                             "TrackBar_PWM",
                             "Button_Out50Percents",
                             "Image24",
                             "Image27",
                             "SpeedButton_WriteOutputCalibrationToVX",
                             "Label_PWMSzoveg",
                             "Button_OutCheckMax",
                             "MBarGraph_PWM",
                             "Label_PWMSzoveg2",
                             "Label25",
                             "Label28",
                             "RadioGroup_DividerForce",
                             "GroupBox4",
                             "GroupBox5",
                             "Label23",
                             "MBarGraph_Delta1",
                             "GroupBox8",
                             "Label34",
                             "Label14",
                             "Label_iTypeOfInstrument",
                             "SpeedButton_FRAMTorlesReset",
                             "Timer_InCal"})
        EXPECT_NE(w->findChild<QObject*>(QLatin1String(name)), nullptr) << name;
}

TEST(Dialog, FirmwareMismatchLayout) {
    TForm_DUTHiba d;
    EXPECT_EQ(d.windowTitle(), "Nem megfelelő szoftver verzió!");
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.Memo_Megnevezes->geometry(), QRect(7, 16, 402, 233));
    EXPECT_TRUE(d.Memo_Megnevezes->isReadOnly());
    EXPECT_EQ(d.Button_OK->geometry(), QRect(112, 264, 185, 33));
    EXPECT_FALSE(d.windowFlags() & Qt::WindowCloseButtonHint);
    d.show();
    ASSERT_WAIT(d.isVisible(), 5000);
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
}

} // namespace
