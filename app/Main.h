#pragma once
// TForm_Main: the configurator's main window. It owns every control and the window state; the logic is
// split into files by area (shell: layout, language, access mode and settings file; later the instrument
// exchange and the service pages), each adding its handlers here.
#include "app/CommandGuard.h"
#include "app/Exchange.h"
#include "app/ServicePages.h"
#include "app/texts/TextKey.h"
#include "app/tools/SettingsBackup.h"
#include "app/tools/ToolHost.h"
#include "app/tools/Traffic.h"
#include "link/core/mbtypes.h"

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QAction;
class QListWidget;
class QMenu;
class QMenuBar;
class QMessageBox;
class QPushButton;
class QSlider;
class QTextEdit;
class QTimer;
class TMBarGraph;
class TPageControl;
class TRadioGroup;
class TSpeedButton;

class TForm_DUTHiba;
class TMB;
namespace vx::app::bench {
class BenchStation;
}
namespace vx::app::tools {
class ToolWindows;
class DemoBanner;
} // namespace vx::app::tools
namespace vx::app::records {
class Records;
}

class TForm_Main : public QWidget, public vx::app::tools::ToolHost {
    Q_OBJECT
public:
    struct Options {
        // The settings file; empty means the usual place (see defaultSettingsPath).
        QString settingsPath;
        // The command line without the program path; unset means the application's own.
        std::optional<QStringList> arguments;
    };

    explicit TForm_Main(Options options = {}, QWidget* parent = nullptr);
    ~TForm_Main() override;

    // The executable's path with ".ini" in place of its extension when that folder can be written and
    // the program is not installed, otherwise the same file name in the per-user configuration folder.
    static QString defaultSettingsPath();
    // The rule behind it: the executable's path with ".ini" in place of its extension (appended when it
    // has none), or that file name in the per-user configuration folder when the folder is not writable
    // or the program is installed; empty when there is no such folder either.
    static QString settingsPathFor(const QString& executable, bool folderWritable);
    // Installed: under /usr or /opt, or anywhere with this program's data files in the same prefix.
    static bool isInstalledProgram(const QString& executable);
    QString settingsPath() const override { return settingsPath_; }

    // Sizes and places the window on a screen's free area: all of it on the screen, centred, the client
    // area scrolling where the screen is smaller than it.
    void placeOnScreen(const QRect& available);

    // Start-up and shutdown.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void LoadSettings();
    void SaveSettings();

    // Language.
    void ApplyLanguage(const QString& name);
    void SpeedButton_AngolClick(TSpeedButton* sender);
    QString GsSelectedLanguage;
    QString GsInstrument, GsHours, GsMinutes, GsWindowTitle, GsNotCompatible;

    // Maker-level access and the window caption.
    void CheckAccessSwitch();
    void ApplyAccessMode();
    void UpdateWindowCaption();
    bool MakerAccess = false;
    QString InstrumentModelCaption;

    // The link component's remembered port and its close, as the settings file and closing use them.
    QString MBLastUsedPort() const;
    void setMBLastUsedPort(const QString& port);
    void MBClosePort();

    // The firmware-mismatch dialog, created after the window (main.cpp hands it over).
    void setFirmwareDialog(TForm_DUTHiba* dialog) { Form_DUTHiba = dialog; }

    // The instrument exchange (MainExchange.cpp).
    void MB1MBPortOpenedOrClosed(bool MBbPortOpen);
    void MB1MBMasterEndOfEvent(mb::TMBStatus MBStatus, const std::string& MBStatusString);
    void BuildRequest();
    void DecodeReply();
    void CheckFirmware();
    // The dialog's caption and lines for FirmwareVersion in the selected language.
    void PrepareFirmwareDialog();
    void ApplyInstrumentVariant();
    void LoadSettingsFromReply();
    // Settings editor handlers.
    void Edit_InputLowExit(QLineEdit* sender);
    void Edit_OutputLowExit(QLineEdit* sender);
    void RadioGroup_BemenetTipusaClick();
    void RadioGroup_KimenetTipusaClick();
    void Button_GyariAlapSkalaClick();
    // Test page: restart a channel's spread from its last reading.
    void Button_MinMaxTorles0Click();
    void Button_MinMaxTorles1Click();
    void RadioGroup_MereshatarForceClick();

    // Safe settings writes and the settings backup (MainTools.cpp).
    void SpeedButton_WriteSettingsClick();
    // Saves the settings last read, with the instrument's identification. Returns an error text, empty
    // on success.
    QString SaveSettingsBackup(const QString& path);
    // Loads a saved file into the editor, never into the instrument; *differences lists each field that
    // changes as "name: old → new". Returns an error text (nothing changed), empty on success.
    QString RestoreSettingsBackup(const QString& path, QStringList* differences = nullptr);
    // Asks before settings that cannot work, or calibration constants that cannot be right, are
    // written; unset, WriteQuestion asks. Tests answer here.
    std::function<bool(const QString&)> ConfirmWrite;
    std::unique_ptr<QMessageBox> WriteQuestion(const QString& text, const QString& title = {},
                                               const QString& proceed = {});
    // Set once a good reply has been decoded: the editor then has something to differ from.
    bool HaveReply = false;
    // The variant the editor's values were read for or restored from; -1 before either.
    int EditorVariant = -1;
    int ShortReplies = 0;               // replies dropped for a payload shorter than the reply layout
    void SaveSettingsBackupAsked();     // asks for the file
    void RestoreSettingsBackupAsked();  // asks for the file, shows what changed
    std::vector<QLabel*> SettingsMarks; // by vx::app::tools::SettingField
    // The menu bar above the client area; the added windows put their entries in Menu_Tools.
    QMenuBar* MenuBar_Main = nullptr;
    QMenu *Menu_Instrument = nullptr, *Menu_Tools = nullptr;
    QAction *Action_SaveSettings = nullptr, *Action_LoadSettings = nullptr;
    QLabel* Label_SettingsDiffer = nullptr;
    // The trend, the recording and the traffic monitor (tools/ToolWindows.h), made with the menu bar.
    vx::app::tools::ToolWindows* Tools = nullptr;
    // Says that the values are simulated while the demo instrument is connected.
    vx::app::tools::DemoBanner* Label_DemoBanner = nullptr;
    // Calibration records and their history (records/RecordsWindow.h), maker mode only.
    vx::app::records::Records* Records = nullptr;
    // The bench instruments and the automatic calibrations (bench/BenchStation.h), maker's mode only.
    vx::app::bench::BenchStation* Bench = nullptr;
    // A text of the catalogue in the selected language.
    using Text = vx::app::Text;
    QString inLanguage(Text key) const override;

    // What the added windows see of this one (MainTools.cpp).
    QWidget* hostWindow() override { return this; }
    QMenuBar* toolsMenuBar() const override { return MenuBar_Main; }
    QMenu* toolsMenu() const override { return Menu_Tools; }
    const vx::instrument::Reply& lastReply() const override { return LastReply; }
    bool makerAccess() const override { return MakerAccess; }
    QString selectedLanguage() const override { return GsSelectedLanguage; }
    bool settingsWriteDown() const override;
    QString waitingForPort() const override;
    void onReplyShown(QObject* context, std::function<void()> f) override;
    void onLanguageApplied(QObject* context, std::function<void()> f) override;
    void onLinkExchanged(QObject* context,
                         std::function<void(const vx::app::tools::LinkExchange&, bool)> f) override;
    void onPortStateChanged(QObject* context, std::function<void()> f) override;

    // The service pages (MainService.cpp).
    void PageControl1Change();
    // Output calibration wizard.
    void ApplyPWMValue();
    void ShowOutputCalibrationStep();
    static void AddCalibratedLine(QListWidget* list, const QString& text, bool separator);
    static void RemoveCalibratedLines(QListWidget* list, std::uint8_t n);
    void SpeedButton_OutputCalibrationNextClick2();
    void SpeedButton_OutputCalibrationBackClick3();
    // Button1Click2 .. Button10Click2, Button_Out0Click2, Button_OutVegertekClick2,
    // Button_Out50PercentsClick: the adjusting button of that index in vx::app::kPwmButtons.
    void PwmButtonClick(std::size_t index);
    void TrackBar_PWMChange();
    // SpeedButton_Test4mAClick2 .. SpeedButton_Test10VClick2.
    void CheckPointClick(TSpeedButton* sender, vx::app::CheckPoint point);
    // The wizard's step, 1..7: the active sheet of PageControl4.
    int OutputCalibrationStep() const;
    // Output check page.
    void TrackBar_OutCheckChange();
    // Input calibration procedure.
    void InputCalibrationStart();
    void InputCalibrationTick();
    void SpeedButton_InputCalibrationNextClick();
    void SpeedButton_InputCalibrationBackClick();

    // Command safety (MainSafety.cpp): which command bits may go out, and why a button came back up.
    vx::app::CommandGuard Commands;
    QLabel* Label_CommandNotice = nullptr;
    // Says in the window which buttons came back up and why.
    void showCommandNotice(const QString& buttons, const QString& why);
    // The input calibration's readings: only those of replies to requests carrying the step's forcing.
    vx::app::FreshReading Fresh;
    QLabel* Label_InputCalibrationWaiting = nullptr;
    // Both calibration procedures from their start, as after a port event.
    void RestartCalibrations();

    // Exchange window state.
    std::array<std::int32_t, vx::instrument::kCalibrationPairs> Low{}, High{};
    std::uint32_t FirmwareVersion = 0;
    int ShownInstrumentType = -1;
    vx::app::ChannelStats AdStats0, AdStats1;
    // The last good reply as decoded, and the codes it reported for the editor's fields.
    vx::instrument::Reply LastReply;
    vx::app::ReportedCodes ReportedCodes;
    // Set while the program ends after a refused firmware.
    bool FirmwareRefused = false;
    // How the program ends after a refused firmware; unset, it closes this window once control is back in
    // the event loop. Tests put a recorder here.
    std::function<void()> Terminate;

    // Working state with start values (set again by FormCreate).
    int uPWMValue = 0; // kept within 0..65535
    std::uint16_t uPWMForce = 0;
    int uOut4mA = 0, uOut20mA = 65535, uOut2V = 0, uOut10V = 65535;
    // The input calibration's state (InCalStep) and its Next and Back requests.
    vx::app::InputCalibrationState InCal;
    int BoardIdentifier = 255;
    int iTypeOfInstrument = -1;

    // Top level.
    QLabel* Label_KeszulekAltipus = nullptr;
    TSpeedButton* SpeedButton_Angol = nullptr;
    TSpeedButton* SpeedButton_Magyar = nullptr;
    QGroupBox* GroupBox_System = nullptr;
    TPageControl* PageControl1 = nullptr;
    TMB* MB1 = nullptr;
    QGroupBox* GroupBox_ADCs = nullptr;
    QTimer* Timer_InCal = nullptr;

    // System group.
    QLabel *Label_ErrorNumber = nullptr, *Label_EEPROMHiba = nullptr, *Label_ADError = nullptr,
           *Label_ADNincsKalibralva = nullptr, *Label_KimenetNincsKalibralva = nullptr,
           *Label_ADOverflow = nullptr, *Label_OutputRangeError = nullptr, *Label_FormverVerzio = nullptr,
           *Label_KalibralasDatuma = nullptr, *Label_Uzemorak = nullptr, *Label_MertHomersekletMin = nullptr,
           *Label_MertHomerseklet = nullptr, *Label_MertHomersekletMax = nullptr;
    TSpeedButton* SpeedButton_Reset = nullptr;

    // Converter values.
    TMBarGraph *MBarGraph_AD = nullptr, *MBarGraph_ADSzurt = nullptr, *MBarGraph_AD2 = nullptr,
               *MBarGraph_AD2Szurt = nullptr;
    QLabel *Label_ADErtek = nullptr, *Label_ADErtekAtlagolt = nullptr, *Label_ADErtek2 = nullptr,
           *Label_ADErtekAtlagolt2 = nullptr;

    // Settings page.
    QWidget* TabSheet_Uzemmod = nullptr;
    TMBarGraph* MBarGraph_SkalaSzazalek = nullptr;
    QGroupBox *GroupBox_Settings = nullptr, *GroupBox_AnalogInputSettings = nullptr,
              *GroupBox_AnalogOutputSettings = nullptr, *GroupBox_MODBUSOutputSettings = nullptr;
    TSpeedButton *SpeedButton_ReadSettings = nullptr, *SpeedButton_WriteSettings = nullptr;
    TRadioGroup *RadioGroup_BemenetTipusa = nullptr, *RadioGroup_KimenetTipusa = nullptr,
                *RadioGroup_MODBUSProtocol = nullptr, *RadioGroup_MODBUSParity = nullptr;
    QLineEdit *Edit_InputLow = nullptr, *Edit_InputHigh = nullptr, *Edit_OutputLow = nullptr,
              *Edit_OutputHigh = nullptr;
    QLabel *Label_InputLowMertekegyseg = nullptr, *Label_InputHighMertekegyseg = nullptr,
           *Label_OutputLowMertekegyseg = nullptr, *Label_OutputHighMertekegyseg = nullptr;
    QPushButton* Button_GyariAlapSkala = nullptr;
    QComboBox *ComboBox_MODBUSBaudRate = nullptr, *ComboBox_MODBUSAddress = nullptr;
    QGroupBox *GroupBox_AnalogInput = nullptr, *GroupBox_AnalogOutput = nullptr;
    QLabel *Label_InputSignalPlus = nullptr, *Label_InputCommon = nullptr, *Label_Input = nullptr,
           *Label_BemenoErtek = nullptr, *Label_OutputSignalPlus = nullptr,
           *Label_OutputSignalMinus = nullptr, *Label_Output = nullptr, *Label_OutputValue = nullptr;
    QLabel *Image_78 = nullptr, *Image_79 = nullptr, *Image_710 = nullptr, *Image_34 = nullptr,
           *Image_56 = nullptr;

    // Input calibration page.
    QWidget* TabSheet_InputCalibration = nullptr;
    QListWidget* ListBox_InputCalibrated = nullptr;
    QLabel* Image_InputCalibrationOK = nullptr;
    TSpeedButton *SpeedButton_InputCalibrationBack = nullptr, *SpeedButton_InputCalibrationNext = nullptr;
    TPageControl* PageControl_InputCalibration = nullptr;
    QWidget* TabSheet1 = nullptr;
    QLabel *Image_InputCalibration = nullptr, *Label_InputCalibration1 = nullptr;
    QTextEdit* Memo_InputCalibration2 = nullptr;
    TSpeedButton* SpeedButton_ADCalBeiras = nullptr;

    // Output calibration page.
    QWidget* TabSheet_OutputCalibration = nullptr;
    TSpeedButton *SpeedButton_OutputCalibrationBack = nullptr, *SpeedButton_OutputCalibrationNext = nullptr;
    QLabel* Image_OutputCalibrationOK = nullptr;
    QListWidget* ListBox_OutputCalibrated = nullptr;
    QLabel* Label_BeallitottPWM = nullptr;
    TMBarGraph* MBarGraph_OutputCalibration = nullptr;
    std::array<QPushButton*, 10> PWMStepButtons{}; // Button1 .. Button10
    QGroupBox *GroupBox_PWM = nullptr, *GroupBox_PWMErtekValtoztatas = nullptr;
    QSlider* TrackBar_PWM = nullptr;
    QPushButton *Button_Out0 = nullptr, *Button_OutVegertek = nullptr, *Button_Out50Percents = nullptr;
    TPageControl* PageControl4 = nullptr;
    std::array<QWidget*, 7> TabSheet_OutCalStep{}; // TabSheet_OutCalStep1 .. 7
    TSpeedButton *SpeedButton_Test4mA = nullptr, *SpeedButton_Test12mA = nullptr,
                 *SpeedButton_Test20mA = nullptr, *SpeedButton_Test2V = nullptr,
                 *SpeedButton_Test6V = nullptr, *SpeedButton_Test10V = nullptr,
                 *SpeedButton_WriteOutputCalibrationToVX = nullptr;

    // Output check page.
    QWidget* TabSheet_KimenetEllenorzes = nullptr;
    QLabel *Label_PWMErtek = nullptr, *Label_OutputCheckPercent = nullptr;
    QSlider* TrackBar_OutCheck = nullptr;
    QPushButton *Button_OutCheckMin = nullptr, *Button_OutCheckMean = nullptr, *Button_OutCheckMax = nullptr;
    TMBarGraph* MBarGraph_PWM = nullptr;

    // Test page.
    QWidget* TabSheet_Test = nullptr;
    QLabel *Label_PWMErtek2 = nullptr, *Label_BemenoErtek2 = nullptr, *Label_OutputValue2 = nullptr;
    TMBarGraph* MBarGraph_PWM2 = nullptr;
    TRadioGroup *RadioGroup_GainForce = nullptr, *RadioGroup_GainForceCH = nullptr,
                *RadioGroup_DividerForce = nullptr, *RadioGroup_MereshatarForce = nullptr;
    QLabel *Label_Min0 = nullptr, *Label_Max0 = nullptr, *Label_Delta0 = nullptr, *Label_Min1 = nullptr,
           *Label_Max1 = nullptr, *Label_Delta1 = nullptr;
    QPushButton *Button_MinMaxTorles0 = nullptr, *Button_MinMaxTorles1 = nullptr;
    TMBarGraph *MBarGraph_Delta0 = nullptr, *MBarGraph_Delta1 = nullptr;
    QLabel *Label_CalibrationStep = nullptr, *Label_ErositesCH0 = nullptr, *Label_ErositesCH1 = nullptr,
           *Label_NYAKCime = nullptr, *Label_uDivider = nullptr, *Label_uADSamples = nullptr,
           *Label_RAM1AdatForras = nullptr, *Label_RAM2AdatForras = nullptr,
           *Label_iTypeOfInstrument = nullptr;
    TSpeedButton *SpeedButton_HomersekletMinMaxTorlese = nullptr, *SpeedButton_FRAMTorlesReset = nullptr;

signals:
    // After every good reply has been decoded and the window shows it.
    void replyShown();
    // Each request as it goes out, and each transaction that ended without a good reply (or the port
    // opened or closed): for the added windows' own reading rules.
    void requestSent(const vx::instrument::Request& request);
    void noReply();
    // After the texts of a language were applied, for the added windows to follow.
    void languageApplied();
    // After the access mode was applied (maker mode on or off).
    void accessModeApplied();
    // Each attempt on the link as it ended: a retried attempt (transactionEnded false) or the
    // transaction's end. Read-only, for the traffic monitor and the trend; emitted before the window
    // reacts, the frames valid only during the call.
    void linkExchanged(const vx::app::tools::LinkExchange& exchange, bool transactionEnded);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Layout, one function per area (MainLayout.cpp).
    void buildWindow();
    void applyWindowStyle();
    void setKeyboardOrder();
    void buildLinkPanel();
    void placePortNotice();
    void buildSystemGroup();
    void buildConverterGroup();
    void buildSettingsPage(QWidget* page);
    void buildSettingsEditor(QGroupBox* box);
    void buildInputsAndOutputs(QWidget* page);
    void buildInputCalibrationPage(QWidget* page);
    void buildOutputCalibrationPage(QWidget* page);
    void buildOutputCalibrationWizard(QWidget* page);
    void buildOutputCheckPage(QWidget* page);
    void buildTestPage(QWidget* page);
    void connectServiceHandlers();
    void buildSettingsMarks();
    void buildMenuBar();
    void applyMenuTexts();
    void updateSettingsMarks(const vx::instrument::Request& request);
    QString settingName(vx::app::tools::SettingField field) const;
    vx::app::tools::Backup settingsBackup() const;
    vx::app::OutputCalibrationValues outputCalibrationValues() const;
    void setOutputCalibrationValues(const vx::app::OutputCalibrationValues& v);
    void setForceSelection(const vx::app::ForceSelection& f);

    void resetWorkingState();
    void connectCommandSafety();
    void releaseCommands(vx::app::CommandRelease why);
    void commandPressed(TSpeedButton* button, bool down);
    void storeCalibrationClick(TSpeedButton* button);
    void refuseWrite(const QString& why);
    bool askBeforeWriting(const QString& title, const QString& proceed, const QString& text);
    void connectExchangeHandlers();
    void linkAttemptSent();
    void reportLinkExchange(vx::app::tools::Outcome outcome, std::uint8_t slaveError, bool transactionEnded);
    std::array<std::pair<std::uint8_t, TSpeedButton*>, 6> commandButtons() const;
    void showReply(const vx::app::ReplyView& view);
    void acknowledgeCommands(std::uint8_t flags);
    vx::app::EditorState editorState() const;
    void showEditor(const vx::app::EditorState& editor);
    void setUnitLabels(int item, QLabel* low, QLabel* high);
    void setLanguageTexts(bool english);
    // The text of the language the table holds; empty before any.
    QString tableText(vx::app::Text key) const;
    // Each control's caption (by the control's name) from the table.
    void applyCaptions(std::span<const std::pair<const char*, vx::app::Text>> captions);
    void rebuildItems(TRadioGroup* group, std::initializer_list<vx::app::Text> items);

    QString settingsPath_;
    std::optional<QStringList> arguments_;
    TForm_DUTHiba* Form_DUTHiba = nullptr;
    // The scrolled client area that holds every area of the window.
    QWidget* client_ = nullptr;
    // The language whose texts the table holds; unset until the first is applied.
    std::optional<bool> textsEnglish_;
    bool readDownBeforeWrite_ = false;
    std::optional<std::tuple<vx::app::tools::SettingsValues, vx::app::tools::SettingsValues, int, QString>>
        marksKey_;
    bool closed_ = false;
    // What the traffic monitor is told about the attempt under way (steady clock, ns).
    std::int64_t attemptSentNs_ = -1;
    std::uint32_t badFramesAtSend_ = 0;
    bool transactionOpen_ = false;
};
