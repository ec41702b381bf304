// Safe settings writes on the window: marks on the editor's fields that differ from what the instrument
// last reported, a confirmation before a setting that cannot work is written, and the settings backup
// and restore. The rules and the file format live in tools/.
#include "app/Main.h"

#include "app/bench/BenchStation.h"
#include "app/records/RecordsWindow.h"
#include "app/texts/Texts.h"
#include "app/tools/DemoBanner.h"
#include "app/tools/DemoModel.h"
#include "app/tools/SettingsBackup.h"
#include "app/tools/ToolWindows.h"
#include "app/tools/ToolsLog.h"
#include "common/regularfile.h"
#include "link/mb.h"
#include "link/portsession.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSaveFile>

#include <cstring>

namespace tools = vx::app::tools;
using tools::SettingField;

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

QString TForm_Main::inLanguage(Text key) const {
    return vx::app::textIn(key, GsSelectedLanguage == QStringLiteral("english"));
}

QString TForm_Main::settingName(SettingField f) const {
    switch (f) {
    case SettingField::InputType:
        return inLanguage(Text::InputSignal);
    case SettingField::InputLow:
        return inLanguage(Text::InputInitialValue);
    case SettingField::InputHigh:
        return inLanguage(Text::InputEndValue);
    case SettingField::OutputType:
        return inLanguage(Text::OutputSignal);
    case SettingField::OutputLow:
        return inLanguage(Text::OutputInitialValue);
    case SettingField::OutputHigh:
        return inLanguage(Text::OutputEndValue);
    case SettingField::ModbusProtocol:
        return inLanguage(Text::ModbusProtocol);
    case SettingField::ModbusParity:
        return inLanguage(Text::ModbusParity);
    case SettingField::ModbusBaudRate:
        return inLanguage(Text::ModbusBaudRate);
    case SettingField::ModbusAddress:
        return inLanguage(Text::ModbusAddress);
    }
    return {};
}

void TForm_Main::buildSettingsMarks() {
    // A small amber dot beside each field; it shows while the field differs from the instrument.
    const auto mark = [this](QWidget* parent, const QPoint& at) {
        auto* l = new QLabel(QStringLiteral("●"), parent);
        l->setObjectName(QStringLiteral("Mark_%1").arg(SettingsMarks.size()));
        l->setGeometry(at.x(), at.y(), 10, 14);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(0xE0, 0x80, 0x00));
        l->setPalette(p);
        l->hide();
        SettingsMarks.push_back(l);
    };
    const auto right = [](QWidget* w, int dy = 3) { return QPoint(w->x() + w->width() + 2, w->y() + dy); };
    mark(GroupBox_AnalogInputSettings, QPoint(212, 14));
    mark(GroupBox_AnalogInputSettings, QPoint(214, Edit_InputLow->y() + 3));
    mark(GroupBox_AnalogInputSettings, QPoint(214, Edit_InputHigh->y() + 3));
    mark(GroupBox_AnalogOutputSettings, QPoint(212, 14));
    mark(GroupBox_AnalogOutputSettings, QPoint(214, Edit_OutputLow->y() + 3));
    mark(GroupBox_AnalogOutputSettings, QPoint(214, Edit_OutputHigh->y() + 3));
    mark(GroupBox_MODBUSOutputSettings, right(RadioGroup_MODBUSProtocol, 0));
    mark(GroupBox_MODBUSOutputSettings, right(RadioGroup_MODBUSParity, 0) - QPoint(12, 0));
    mark(GroupBox_MODBUSOutputSettings, right(ComboBox_MODBUSBaudRate));
    mark(GroupBox_MODBUSOutputSettings, right(ComboBox_MODBUSAddress));

    Label_SettingsDiffer = new QLabel(GroupBox_Settings);
    Label_SettingsDiffer->setObjectName(QStringLiteral("Label_SettingsDiffer"));
    Label_SettingsDiffer->setGeometry(484, 96, 221, 72);
    Label_SettingsDiffer->setWordWrap(true);
    Label_SettingsDiffer->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    connect(SpeedButton_WriteSettings, &QAbstractButton::pressed, this,
            [this] { readDownBeforeWrite_ = SpeedButton_ReadSettings->Down(); });
    connect(SpeedButton_WriteSettings, &QAbstractButton::clicked, this,
            &TForm_Main::SpeedButton_WriteSettingsClick);
}

void TForm_Main::updateSettingsMarks(const vx::instrument::Request& request) {
    if (!HaveReply) return;
    const tools::SettingsValues edited = tools::valuesOf(request), stored = tools::valuesOf(LastReply);
    // This runs on every poll cycle; the texts are made again only when something changed.
    const auto key = std::make_tuple(edited, stored, iTypeOfInstrument, GsSelectedLanguage);
    if (marksKey_ == key) return;
    marksKey_ = key;
    const std::vector<SettingField> changed = tools::changedSettings(edited, stored);
    const bool modbus = iTypeOfInstrument == vx::instrument::kVariantModbus;
    QStringList names;
    std::array<QString, tools::kSettingFieldCount> marks{}; // empty: no mark
    for (SettingField f : changed) {
        const bool modbusField = f >= SettingField::ModbusProtocol;
        const bool outputField = f >= SettingField::OutputType && !modbusField;
        // Only what the engineer can see counts: a hidden group's fields are not this unit's.
        if ((modbusField && !modbus) || (outputField && modbus)) continue;
        names << settingName(f) + QStringLiteral(": ") + q(tools::settingText(f, stored)) +
                     QStringLiteral(" → ") + q(tools::settingText(f, edited));
        marks[static_cast<std::size_t>(f)] = names.back();
    }
    const QString summary = names.isEmpty() ? QString()
                                            : inLanguage(Text::DiffersFromInstrument) + QLatin1Char('\n') +
                                                  names.join(QLatin1Char('\n'));
    for (std::size_t i = 0; i < SettingsMarks.size(); ++i) {
        SettingsMarks[i]->setVisible(!marks[i].isEmpty());
        SettingsMarks[i]->setToolTip(marks[i]);
    }
    Label_SettingsDiffer->setText(summary);
}

void TForm_Main::SpeedButton_WriteSettingsClick() {
    if (!SpeedButton_WriteSettings->Down()) return;
    // The editor's values are meant for the variant they were read for (or restored from); another
    // unit may be answering now.
    if (EditorVariant != iTypeOfInstrument) {
        refuseWrite(EditorVariant < 0 ? inLanguage(Text::ReadSettingsFirst)
                                      : inLanguage(Text::EditorHoldsOtherVariant));
        return;
    }
    vx::app::RequestInputs in;
    in.editor = editorState();
    in.reported = ReportedCodes;
    const tools::SettingsValues edited = tools::valuesOf(vx::app::buildRequestFields(in));
    const std::vector<tools::Suspicion> doubts = tools::suspiciousSettings(
        in.editor, edited, tools::valuesOf(LastReply), iTypeOfInstrument != vx::instrument::kVariantModbus);
    if (doubts.empty()) return;
    // Not a single request may carry the write while the engineer decides.
    QStringList refused, lines;
    for (const tools::Suspicion& d : doubts) {
        if (d.refused()) {
            const QString why = d.reason == tools::SuspicionReason::NotANumber
                                    ? inLanguage(Text::NotANumber)
                                    : inLanguage(Text::OutsideTheSignalType);
            refused << settingName(d.field) + QStringLiteral(": ") + q(d.newText) + QStringLiteral(" (") +
                           why + QStringLiteral("; ") + inLanguage(Text::Allowed) + q(d.allowed) +
                           QLatin1Char(')');
            continue;
        }
        lines << settingName(d.field) + QStringLiteral(": ") + q(d.oldText) + QStringLiteral(" → ") +
                     q(d.newText) + QStringLiteral(" (") + inLanguage(Text::EndEqualsInitial) +
                     QLatin1Char(')');
    }
    if (!refused.isEmpty()) {
        refuseWrite(refused.join(QStringLiteral("; ")));
        return;
    }
    SpeedButton_WriteSettings->setDown(false);
    if (readDownBeforeWrite_) SpeedButton_ReadSettings->setDown(true);
    const QString text = inLanguage(Text::SettingsCannotWork) + QStringLiteral("\n\n") +
                         lines.join(QLatin1Char('\n')) + QStringLiteral("\n\n") +
                         inLanguage(Text::WriteThemAnyway);
    if (askBeforeWriting(inLanguage(Text::WriteSettings), inLanguage(Text::WriteAnyway), text))
        SpeedButton_WriteSettings->setDown(true);
}

void TForm_Main::refuseWrite(const QString& why) {
    SpeedButton_WriteSettings->setDown(false);
    if (readDownBeforeWrite_) SpeedButton_ReadSettings->setDown(true);
    showCommandNotice(SpeedButton_WriteSettings->text(), why);
}

bool TForm_Main::askBeforeWriting(const QString& title, const QString& proceed, const QString& text) {
    if (ConfirmWrite) return ConfirmWrite(text);
    const std::unique_ptr<QMessageBox> box = WriteQuestion(text, title, proceed);
    box->exec();
    return box->buttonRole(box->clickedButton()) == QMessageBox::AcceptRole;
}

std::unique_ptr<QMessageBox> TForm_Main::WriteQuestion(const QString& text, const QString& title,
                                                       const QString& proceed) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning,
                                             title.isEmpty() ? inLanguage(Text::WriteSettings) : title, text,
                                             QMessageBox::NoButton, this);
    box->addButton(proceed.isEmpty() ? inLanguage(Text::WriteAnyway) : proceed, QMessageBox::AcceptRole);
    box->setDefaultButton(box->addButton(inLanguage(Text::Cancel), QMessageBox::RejectRole));
    return box;
}

// ---- backup and restore

namespace {
// A settings file is small; anything much larger is not one.
constexpr std::size_t kBackupLimit = 1 << 20;
} // namespace

tools::Backup TForm_Main::settingsBackup() const {
    tools::Backup b;
    b.variant = iTypeOfInstrument;
    b.firmwareVersion = FirmwareVersion;
    b.boardIdentifier = BoardIdentifier;
    b.calibrationDate = Label_KalibralasDatuma->text();
    b.savedAt = QDateTime::currentDateTime()
                    .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                    .toString(Qt::ISODateWithMs);
    b.settings = tools::valuesOf(LastReply);
    return b;
}

QString TForm_Main::SaveSettingsBackup(const QString& path) {
    if (!HaveReply) return inLanguage(Text::NoSettingsReadYet);
    const tools::Backup backup = settingsBackup();
    // A file that could never be loaded again is no backup.
    if (const QString field = tools::unwritableBackupField(backup); !field.isEmpty())
        return inLanguage(Text::FileCannotHoldField) + field + QLatin1Char('.');
    const QByteArray text = tools::writeBackup(backup);
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) < 0 || !f.commit())
        return inLanguage(Text::FileCouldNotBeWritten) + f.errorString();
    // Only what reads back as written counts as saved.
    const vx::RegularFileRead back = vx::readRegularFile(QFile::encodeName(path).toStdString(), kBackupLimit);
    if (back.result != vx::RegularFileRead::Result::Ok || back.data != text.toStdString())
        return inLanguage(Text::FileDidNotReadBack);
    return {};
}

QString TForm_Main::RestoreSettingsBackup(const QString& path, QStringList* differences) {
    // Never opened in a way that waits: a FIFO or a device is refused at once.
    const vx::RegularFileRead file = vx::readRegularFile(QFile::encodeName(path).toStdString(), kBackupLimit);
    switch (file.result) {
    case vx::RegularFileRead::Result::Ok:
    case vx::RegularFileRead::Result::TooLarge: // no settings file is that large: read as damaged below
        break;
    case vx::RegularFileRead::Result::NotRegular:
        return inLanguage(Text::FileNotRegular);
    case vx::RegularFileRead::Result::Failed:
        return inLanguage(Text::FileCouldNotBeRead) + QString::fromLocal8Bit(std::strerror(file.error));
    }
    const tools::BackupRead r = tools::readBackup(QByteArray::fromStdString(file.data));
    switch (r.problem) {
    case tools::BackupProblem::None:
        break;
    case tools::BackupProblem::Unreadable:
        return inLanguage(Text::FileDamaged);
    case tools::BackupProblem::NotABackup:
        return inLanguage(Text::FileNotASettingsFile);
    case tools::BackupProblem::NewerVersion:
        return inLanguage(Text::FileFromNewerVersion);
    case tools::BackupProblem::MissingField:
        return inLanguage(Text::FileLacksField) + r.field + QLatin1Char('.');
    case tools::BackupProblem::BadValue:
        return inLanguage(Text::FileBadValue) + r.field + QLatin1Char('.');
    }
    const tools::Backup& b = *r.backup;
    if (HaveReply && b.variant != iTypeOfInstrument)
        return inLanguage(Text::FileForOtherVariant) +
               q(std::string(vx::instrument::variantCaption(b.variant)));

    vx::app::RequestInputs in;
    in.editor = editorState();
    in.reported = ReportedCodes;
    const tools::SettingsValues before = tools::valuesOf(vx::app::buildRequestFields(in));
    if (differences) {
        differences->clear();
        for (SettingField f : tools::changedSettings(b.settings, before))
            *differences << settingName(f) + QStringLiteral(": ") + q(tools::settingText(f, before)) +
                                QStringLiteral(" → ") + q(tools::settingText(f, b.settings));
    }
    // Into the editor only, exactly as a read-back would fill it; writing stays the engineer's step.
    vx::instrument::Reply shaped = LastReply;
    shaped.InputTypeCode = b.settings.inputType;
    shaped.OutputTypeCode = b.settings.outputType;
    shaped.DeviceInputLow = b.settings.inputLow;
    shaped.DeviceInputHigh = b.settings.inputHigh;
    shaped.DeviceOutputLow = b.settings.outputLow;
    shaped.DeviceOutputHigh = b.settings.outputHigh;
    shaped.ModbusProtocol = b.settings.modbusProtocol;
    shaped.ModbusParity = b.settings.modbusParity;
    shaped.ModbusBaudRate = b.settings.modbusBaudRate;
    shaped.ModbusAddress = b.settings.modbusAddress;
    // A pending read would overwrite the restored values with the instrument's at the next reply.
    SpeedButton_ReadSettings->setDown(false);
    showEditor(vx::app::editorFromReply(shaped));
    EditorVariant = b.variant;
    return {};
}

// ---- the menu bar of the added tools

void TForm_Main::buildMenuBar() {
    MenuBar_Main = new QMenuBar(this);
    MenuBar_Main->setObjectName(QStringLiteral("MenuBar_Main"));
    Menu_Instrument = MenuBar_Main->addMenu(QString());
    Action_SaveSettings = Menu_Instrument->addAction(QString(), this, &TForm_Main::SaveSettingsBackupAsked);
    Action_SaveSettings->setShortcut(QKeySequence::Save);
    Action_LoadSettings =
        Menu_Instrument->addAction(QString(), this, &TForm_Main::RestoreSettingsBackupAsked);
    Action_LoadSettings->setShortcut(QKeySequence::Open);
    // A serial device server's address, typed: the link panel's own entry, offered where it is seen.
    Menu_Instrument->addSeparator();
    Menu_Instrument->addAction(MB1->MBAddressAction());
    // The added windows put their entries here.
    Menu_Tools = MenuBar_Main->addMenu(QString());
    Tools = new tools::ToolWindows(*this, arguments_ ? *arguments_ : QCoreApplication::arguments().mid(1));
    // In the left column's free strip above the language buttons, clear of the maker's groups.
    Label_DemoBanner = new tools::DemoBanner(client_);
    Label_DemoBanner->setGeometry(8, 461, 289, 32);
    MB1->MBChannel().options.demoModel = tools::openDemoModel;
    connect(this, &TForm_Main::languageApplied, Label_DemoBanner,
            [this] { Label_DemoBanner->setEnglish(GsSelectedLanguage == QLatin1String("english")); });
    Records = new vx::app::records::Records(*this);
    Bench = new vx::app::bench::BenchStation(*this);
    // Above the client area, so the specified controls keep their places.
    applyMenuTexts();
    if (auto* box = qobject_cast<QBoxLayout*>(layout())) {
        box->setMenuBar(MenuBar_Main);
        // The window grows by the bar (its height is known once it holds its texts).
        resize(client_->width(), client_->height() + MenuBar_Main->sizeHint().height());
    }
}

// ---- what the added windows see

bool TForm_Main::settingsWriteDown() const {
    return SpeedButton_WriteSettings && SpeedButton_WriteSettings->Down();
}

QString TForm_Main::waitingForPort() const {
    return MB1 ? MB1->MBWaitingForPort() : QString();
}

void TForm_Main::onReplyShown(QObject* context, std::function<void()> f) {
    connect(this, &TForm_Main::replyShown, context, std::move(f));
}

void TForm_Main::onLanguageApplied(QObject* context, std::function<void()> f) {
    connect(this, &TForm_Main::languageApplied, context, std::move(f));
}

void TForm_Main::onLinkExchanged(QObject* context, std::function<void(const tools::LinkExchange&, bool)> f) {
    connect(this, &TForm_Main::linkExchanged, context, std::move(f));
}

void TForm_Main::onPortStateChanged(QObject* context, std::function<void()> f) {
    // Queued: the awaited port's name is set after the state, within the same change.
    if (MB1)
        connect(&MB1->session(), &TPortSession::stateChanged, context, std::move(f), Qt::QueuedConnection);
}

void TForm_Main::applyMenuTexts() {
    if (!MenuBar_Main) return;
    Menu_Instrument->setTitle(inLanguage(Text::MenuInstrument));
    Action_SaveSettings->setText(inLanguage(Text::ActionSaveSettings));
    Action_LoadSettings->setText(inLanguage(Text::ActionLoadSettings));
    MB1->MBAddressAction()->setText(inLanguage(Text::ActionNetworkPort));
    Menu_Tools->setTitle(inLanguage(Text::MenuTools));
    emit languageApplied();
}

void TForm_Main::SaveSettingsBackupAsked() {
    const QString title = inLanguage(Text::SaveSettingsTitle);
    const QString suggested = QStringLiteral("VX2207-%1-%2.json")
                                  .arg(BoardIdentifier)
                                  .arg(QDate::currentDate().toString(Qt::ISODate));
    const QString path = QFileDialog::getSaveFileName(
        this, title, suggested, inLanguage(Text::SettingsFiles) + QStringLiteral(" (*.json)"));
    if (path.isEmpty()) return;
    const QString error = SaveSettingsBackup(path);
    qCDebug(lcTools, "settings saved to %s: %s", qUtf8Printable(path),
            error.isEmpty() ? "done" : qUtf8Printable(error));
    if (!error.isEmpty()) {
        QMessageBox::warning(this, title, error);
        return;
    }
    Tools->note(inLanguage(Text::SettingsSavedTo).arg(QFileInfo(path).fileName()));
}

void TForm_Main::RestoreSettingsBackupAsked() {
    const QString title = inLanguage(Text::LoadSettingsTitle);
    const QString path = QFileDialog::getOpenFileName(
        this, title, QString(), inLanguage(Text::SettingsFiles) + QStringLiteral(" (*.json)"));
    if (path.isEmpty()) return;
    QStringList differences;
    const QString error = RestoreSettingsBackup(path, &differences);
    qCDebug(lcTools, "settings loaded from %s: %s", qUtf8Printable(path),
            error.isEmpty() ? qUtf8Printable(differences.join(QStringLiteral("; "))) : qUtf8Printable(error));
    if (!error.isEmpty()) {
        QMessageBox::warning(this, title, error);
        return;
    }
    Tools->note(inLanguage(Text::SettingsLoadedFrom).arg(QFileInfo(path).fileName()));
    const QString changed = differences.isEmpty()
                                ? inLanguage(Text::EditorAlreadyHeldThese)
                                : inLanguage(Text::LoadedIntoEditor) + QStringLiteral("\n\n") +
                                      differences.join(QLatin1Char('\n'));
    QMessageBox::information(this, title,
                             changed + QStringLiteral("\n\n") + inLanguage(Text::NothingWrittenYet));
}
