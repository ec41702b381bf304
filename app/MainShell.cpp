// The application shell: start-up and shutdown, the settings file, the two languages, the maker-level
// access mode and the window caption.
#include "app/Main.h"

#include "app/bench/BenchStation.h"
#include "app/texts/Texts.h"
#include "app/tools/ToolWindows.h"
#include "common/pictureformat.h"
#include "common/profilefile.h"
#include "link/mb.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <vector>

using vx::app::Text;
using vx::app::textIn;

namespace {

using Caption = std::pair<const char*, Text>;

// The captions that follow the language, by control, in the order ApplyLanguage sets them: before the
// access mode is applied, before the window caption, after it. Controls that share a text share its key.
const Caption kCaptionsBeforeAccess[] = {
    {"GroupBox1", Text::GroupBox1},
    {"Label_EEPROMHiba", Text::Label_EEPROMHiba},
    {"Label_ADError", Text::Label_ADError},
    {"Label_ADNincsKalibralva", Text::Label_ADNincsKalibralva},
    {"Label_KimenetNincsKalibralva", Text::Label_KimenetNincsKalibralva},
    {"Label_ADOverflow", Text::Label_ADOverflow},
    {"Label_OutputRangeError", Text::Label_OutputRangeError},
    {"Label30", Text::Label30},
    {"Label1", Text::Label1},
    {"Label10", Text::Label1},
    {"Label24", Text::Label24},
    {"Label40", Text::Label24},
    {"Label33", Text::Label33},
    {"Label7", Text::Label7},
    {"Label9", Text::Label9},
    {"GroupBox9", Text::GroupBox9},
    {"Label5", Text::Label5},
    {"SpeedButton_Reset", Text::SpeedButton_Reset},
};
const Caption kCaptionsBeforeTitle[] = {
    {"TabSheet_Uzemmod", Text::TabSheet_Uzemmod},
    {"GroupBox_Settings", Text::TabSheet_Uzemmod},
    {"GroupBox11", Text::GroupBox11},
    {"GroupBox10", Text::GroupBox10},
    {"GroupBox_Input", Text::GroupBox_Input},
    {"GroupBox_Output", Text::GroupBox_Output},
    {"GroupBox2", Text::GroupBox2},
    {"GroupBox3", Text::GroupBox3},
    {"GroupBox_AnalogInputSettings", Text::GroupBox_AnalogInputSettings},
    {"GroupBox_AnalogOutputSettings", Text::GroupBox_AnalogOutputSettings},
    {"RadioGroup_BemenetTipusa", Text::RadioGroup_BemenetTipusa},
    {"RadioGroup_KimenetTipusa", Text::RadioGroup_KimenetTipusa},
    {"Label4", Text::Label4},
    {"Label15", Text::Label4},
    {"Label11", Text::Label11},
    {"Label32", Text::Label11},
    {"SpeedButton_ReadSettings", Text::SpeedButton_ReadSettings},
    {"Button_GyariAlapSkala", Text::Button_GyariAlapSkala},
    {"SpeedButton_WriteSettings", Text::SpeedButton_WriteSettings},
};
const Caption kCaptionsAfterTitle[] = {
    {"GroupBox_AnalogInput", Text::GroupBox_AnalogInput},
    {"GroupBox_AnalogOutput", Text::GroupBox_AnalogOutput},
    {"RadioGroup_MODBUSProtocol", Text::RadioGroup_MODBUSProtocol},
    {"RadioGroup_MODBUSParity", Text::RadioGroup_MODBUSParity},
    {"Label35", Text::Label35},
    {"Label36", Text::Label36},
};
const Caption kModbusOutputCaption[] = {
    {"GroupBox_MODBUSOutputSettings", Text::GroupBox_MODBUSOutputSettings},
};

const QString kEnglish = QStringLiteral("english");
const QString kMagyar = QStringLiteral("magyar");
const QString kAccessSwitch = QStringLiteral("/QARNEL");
const QString kAccessSuffix = QStringLiteral(" - Velmar szintű hozzáférés");
const QString kMaker = QStringLiteral("   Velmar Kft.");
constexpr int kVersionYear = 2015, kVersionMonth = 2, kVersionDay = 27;

QString picture(double v, const char* pattern) {
    return QString::fromStdString(vx::formatPicture(v, pattern));
}

std::string toLocal(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

TForm_Main::TForm_Main(Options options, QWidget* parent)
    : QWidget(parent),
      settingsPath_(options.settingsPath.isEmpty() ? defaultSettingsPath() : options.settingsPath),
      arguments_(std::move(options.arguments)) {
    buildWindow();
    connectExchangeHandlers();
    FormCreate();
    connectServiceHandlers();
    buildSettingsMarks();
    buildMenuBar();
    // The dialogs over this window wear the same icon.
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/vx2207-config-%1.png").arg(size), QSize(size, size));
    setWindowIcon(icon);
}

TForm_Main::~TForm_Main() {
    // The link may still report while it closes; by then this window is being taken apart.
    MB1->OnMBMasterEndOfEvent = nullptr;
    MB1->OnMBPortOpenedOrClosed = nullptr;
    MB1->engine().OnMBStatusNowChanged = nullptr;
    MB1->MBClosePort();
    // Taking the pages apart changes the active page; the page-switch rule must not run on a window
    // that is already gone.
    disconnect(PageControl1, nullptr, this, nullptr);
    Timer_InCal->stop();
}

QString TForm_Main::defaultSettingsPath() {
    const QString exe = QCoreApplication::applicationFilePath();
    const QString folder = QFileInfo(exe).absolutePath();
    // An installed program's folder is not the user's to write; the settings then live with the user's.
    const bool writable = !folder.isEmpty() && ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
    return settingsPathFor(exe, writable);
}

bool TForm_Main::isInstalledProgram(const QString& executable) {
    const QString path = QDir::cleanPath(QFileInfo(executable).absoluteFilePath());
    // The system's own places: root may write there, but a settings file does not belong there.
    for (const QString& prefix : {QStringLiteral("/usr/"), QStringLiteral("/opt/")})
        if (path.startsWith(prefix)) return true;
    // Installed anywhere else, the program has its data files in the same prefix.
    return QFileInfo::exists(
        QDir::cleanPath(QFileInfo(path).absolutePath() + QStringLiteral("/" VX_INSTALLED_MARKER)));
}

QString TForm_Main::settingsPathFor(const QString& executable, bool folderWritable) {
    const QFileInfo exe(executable);
    const QString name =
        (exe.suffix().isEmpty() ? exe.fileName() : exe.completeBaseName()) + QStringLiteral(".ini");
    if (folderWritable && !isInstalledProgram(executable))
        return exe.absolutePath() + QLatin1Char('/') + name;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    // Without a home there is no settings file, rather than one in the file system's root.
    if (folder.isEmpty()) return QString();
    return folder + QLatin1Char('/') + name;
}

// ---- start-up and shutdown

void TForm_Main::FormCreate() {
    LoadSettings();
    resetWorkingState();
}

void TForm_Main::resetWorkingState() {
    PageControl4->setActivePage(TabSheet_OutCalStep[0]);
    ListBox_OutputCalibrated->clear();
    SpeedButton_OutputCalibrationBack->hide();
    SpeedButton_OutputCalibrationNext->show();
    uPWMValue = uPWMForce = 0;
    uOut4mA = 0;
    uOut20mA = 65535;
    uOut2V = 0;
    uOut10V = 65535;
    BoardIdentifier = 255;
    InstrumentModelCaption = QStringLiteral("VX2207 V");
    iTypeOfInstrument = -1;
}

void TForm_Main::FormActivate() {
    UpdateWindowCaption();
    CheckAccessSwitch();
}

void TForm_Main::FormClose() {
    if (closed_) return;
    closed_ = true;
    MBClosePort();
    SaveSettings();
    if (Tools) Tools->closeWindows();
}

void TForm_Main::MBClosePort() {
    MB1->MBClosePort();
}
QString TForm_Main::MBLastUsedPort() const {
    return MB1->MBLastUsedPort();
}
void TForm_Main::setMBLastUsedPort(const QString& port) {
    MB1->setMBLastUsedPort(port);
}

void TForm_Main::LoadSettings() {
    const std::string path = toLocal(settingsPath_);
    setMBLastUsedPort(QString::fromStdString(vx::readProfileString(path, "Com", "MBLastUsedPort", "")));
    MB1->MBChannel().recentAddresses =
        mb::port::splitAddresses(vx::readProfileString(path, "Network", "RecentPorts", ""));
    ApplyLanguage(
        QString::fromStdString(vx::readProfileString(path, "Language", "GsSelectedLanguage", "magyar")));
}

void TForm_Main::SaveSettings() {
    if (settingsPath_.isEmpty()) return;
    QDir().mkpath(QFileInfo(settingsPath_).absolutePath());
    const std::string path = toLocal(settingsPath_);
    const QDateTime now = QDateTime::currentDateTime();
    const QLocale locale = QLocale::system();
    const QString stamp = locale.toString(now.date(), QLocale::ShortFormat) + QStringLiteral("   ") +
                          locale.toString(now.time(), QLocale::LongFormat);
    std::vector<vx::ProfileEntry> entries = {
        {"Date", "Date", stamp.toStdString()},
        {"Com", "MBLastUsedPort", MBLastUsedPort().toStdString()},
        {"Language", "GsSelectedLanguage", GsSelectedLanguage.toStdString()}};
    // The added windows' sections come after the window's own.
    if (const auto& recent = MB1->MBChannel().recentAddresses; !recent.empty())
        entries.push_back({"Network", "RecentPorts", mb::port::joinAddresses(recent)});
    if (Tools) Tools->saveSettings(entries);
    if (Bench) Bench->saveSettings(entries);
    // The program still closes as usual, but a file that could not be saved is said once.
    if (const int error = vx::writeProfileStrings(path, entries))
        std::fprintf(stderr, "vx2207-config: the settings could not be saved to %s: %s\n", path.c_str(),
                     std::strerror(error));
}

void TForm_Main::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Activation is the window manager's to give; without one (or before it) the first showing counts.
    if (!event->spontaneous()) FormActivate();
}

void TForm_Main::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
    // The speed buttons' faces follow a light or dark desktop.
    if (event->type() == QEvent::PaletteChange) applyWindowStyle();
}

void TForm_Main::closeEvent(QCloseEvent* event) {
    // A bench run under way drops its forcing first; the window closes once a request carried that.
    if (!closed_ && Bench && Bench->closeUnforced([this] { close(); })) return event->ignore();
    FormClose();
    event->accept();
}

// ---- language

void TForm_Main::setLanguageTexts(bool english) {
    textsEnglish_ = english;
    GsInstrument = textIn(Text::GsInstrument, english);
    GsHours = textIn(Text::GsHours, english);
    GsMinutes = textIn(Text::GsMinutes, english);
    GsWindowTitle = textIn(Text::GsWindowTitle, english);
    GsNotCompatible = textIn(Text::GsNotCompatible, english);
    applyMenuTexts();
}

QString TForm_Main::tableText(Text key) const {
    return textsEnglish_ ? textIn(key, *textsEnglish_) : QString();
}

void TForm_Main::applyCaptions(std::span<const Caption> captions) {
    for (const auto& [control, key] : captions) {
        const QString text = tableText(key);
        QWidget* w = findChild<QWidget*>(QLatin1String(control));
        // A name the window lacks would leave that caption in one language for good.
        if (!w) qWarning("ApplyLanguage: the window has no control named %s", control);
        if (auto* l = qobject_cast<QLabel*>(w))
            l->setText(text);
        else if (auto* b = qobject_cast<QAbstractButton*>(w))
            b->setText(text);
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            g->setTitle(text);
        else if (w && PageControl1->indexOf(w) >= 0)
            PageControl1->setCaption(w, text);
    }
}

void TForm_Main::rebuildItems(TRadioGroup* group, std::initializer_list<Text> items) {
    // Re-selecting after the clear is a change, so the group's click handlers run as for a user's click.
    const int index = group->ItemIndex();
    group->clearItems();
    for (Text item : items)
        group->addItem(tableText(item));
    if (index >= 0) group->setItemIndex(index);
}

void TForm_Main::ApplyLanguage(const QString& name) {
    GsSelectedLanguage = name.toLower();
    // A name that is neither language keeps the current texts; before any texts exist that would blank
    // the window, so the default language stands in.
    if (!textsEnglish_ && GsSelectedLanguage != kEnglish && GsSelectedLanguage != kMagyar)
        GsSelectedLanguage = kMagyar;
    if (GsSelectedLanguage == kEnglish) {
        SpeedButton_Angol->setDown(true);
        setLanguageTexts(true);
    }
    if (GsSelectedLanguage == kMagyar) {
        SpeedButton_Magyar->setDown(true);
        setLanguageTexts(false);
    }
    applyCaptions(kCaptionsBeforeAccess);
    ApplyAccessMode();
    applyCaptions(kCaptionsBeforeTitle);
    rebuildItems(RadioGroup_BemenetTipusa, {Text::ItemCurrent, Text::ItemVoltage});
    rebuildItems(RadioGroup_KimenetTipusa, {Text::ItemCurrent, Text::ItemVoltage});
    UpdateWindowCaption();
    applyCaptions(kCaptionsAfterTitle);
    rebuildItems(RadioGroup_MODBUSParity, {Text::ItemNone, Text::ItemEven, Text::ItemOdd});
    applyCaptions(kModbusOutputCaption);
}

void TForm_Main::SpeedButton_AngolClick(TSpeedButton* sender) {
    if (sender && sender->Down()) ApplyLanguage(sender->text());
}

// ---- maker-level access and caption

void TForm_Main::CheckAccessSwitch() {
    MakerAccess = false;
    const QStringList args = arguments_ ? *arguments_ : QCoreApplication::arguments().mid(1);
    for (const QString& a : args)
        if (a.toUpper() == kAccessSwitch) MakerAccess = true;
    ApplyAccessMode();
}

void TForm_Main::ApplyAccessMode() {
    QWidget* const makerPages[] = {TabSheet_InputCalibration, TabSheet_OutputCalibration,
                                   TabSheet_KimenetEllenorzes, TabSheet_Test};
    Label_KeszulekAltipus->setText(GsInstrument + InstrumentModelCaption +
                                   (MakerAccess ? kAccessSuffix : QString()));
    for (QWidget* page : makerPages)
        PageControl1->setTabVisibleFor(page, MakerAccess);
    if (MakerAccess) {
        PageControl1->show();
        GroupBox_System->show();
        Label_KeszulekAltipus->show();
        GroupBox_ADCs->show();
    } else {
        // The page area, the system group and the device label follow the instrument's replies.
        GroupBox_ADCs->hide();
    }
    placePortNotice();
    emit accessModeApplied();
}

void TForm_Main::UpdateWindowCaption() {
    setWindowTitle(GsWindowTitle + QStringLiteral("   V") + picture(kVersionYear, "0000") + QLatin1Char('-') +
                   picture(kVersionMonth, "00") + QLatin1Char('-') + picture(kVersionDay, "00") + kMaker);
}
