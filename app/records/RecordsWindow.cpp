#include "app/records/RecordsWindow.h"

#include "app/Main.h"
#include "app/bench/BenchStation.h"
#include "app/texts/Texts.h"
#include "common/pictureformat.h"
#include "instrument/codes.h"
#include "station/benchrun.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <utility>

namespace vx::app::records {
namespace in = vx::instrument;

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}
QString today() {
    return QDate::currentDate().toString(Qt::ISODate);
}
QString shown(double v, int decimals) {
    std::string pattern = "0";
    if (decimals > 0) pattern += "." + std::string(static_cast<std::size_t>(decimals), '0');
    return (v < 0 ? QStringLiteral("-") : QString()) + q(vx::formatPicture(std::fabs(v), pattern));
}
std::optional<double> typed(const QString& text) {
    double v = 0;
    if (!vx::parseDecimal(text.trimmed().toStdString(), &v) || !std::isfinite(v)) return std::nullopt;
    return v;
}
// A point's value in the units SCPI speaks (A, V), and back.
double toScpi(const rec::CheckPoint& c, double v) {
    return c.unit == "mA" ? v / 1000.0 : v;
}
double fromScpi(const rec::CheckPoint& c, double v) {
    return c.unit == "mA" ? v * 1000.0 : v;
}
station::Quantity scpiQuantity(const rec::CheckPoint& c) {
    return c.unit == "mA" ? station::Quantity::Current : station::Quantity::Voltage;
}
QPushButton* button(QWidget* parent, const char* name) {
    auto* b = new QPushButton(parent);
    b->setObjectName(QLatin1String(name));
    return b;
}
QLineEdit* edit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    return e;
}
rec::Language languageOf(const QComboBox* box) {
    return box->currentIndex() == 1 ? rec::Language::Hungarian : rec::Language::English;
}
// Shown, or brought to the front when it is already open behind another window.
void bringUp(QWidget* w) {
    // Off screen (tests, screenshots) there is nothing to stack or focus.
    if (!w->isVisible() || QGuiApplication::platformName() == QLatin1String("offscreen")) return w->show();
    w->raise();
    w->activateWindow();
}
void fillLanguages(QComboBox* box, bool hungarian) {
    box->addItems({QStringLiteral("English"), QStringLiteral("Magyar")});
    box->setCurrentIndex(hungarian ? 1 : 0);
}

} // namespace

// ---- the run window

RecordsWindow::RecordsWindow(TForm_Main& main, rec::History& history, const rec::Profile& profile,
                             const QString& exportFolder)
    : QWidget(nullptr, Qt::Window), main_(main), history_(history), profile_(profile),
      exportFolder_(exportFolder) {
    setObjectName(QStringLiteral("Form_CalibrationRecord"));
    // The program ends with its main window, whatever else is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* top = new QVBoxLayout(this);
    // A fixed minimum rather than one the layout keeps pushing to the window system.
    top->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(520, 420);
    auto* form = new QFormLayout;
    top->addLayout(form);
    Edit_Serial = edit(this, "Edit_Serial");
    Edit_Engineer = edit(this, "Edit_Engineer");
    Edit_Ambient = edit(this, "Edit_Ambient");
    Label_Unit = new QLabel(this);
    Label_Unit->setObjectName(QStringLiteral("Label_Unit"));
    Label_Unit->setText(QStringLiteral("—")); // until the instrument answers
    CheckBox_Trial = new QCheckBox(this);
    CheckBox_Trial->setObjectName(QStringLiteral("CheckBox_Trial"));
    form->addRow(QStringLiteral("1"), Edit_Serial);
    form->addRow(QStringLiteral("2"), Label_Unit);
    form->addRow(QStringLiteral("3"), Edit_Engineer);
    form->addRow(QStringLiteral("4"), Edit_Ambient);
    form->addRow(QString(), CheckBox_Trial);

    Table_References = new QTableWidget(0, 4, this);
    Table_References->setObjectName(QStringLiteral("Table_References"));
    Table_References->verticalHeader()->hide();
    Table_References->horizontalHeader()->setStretchLastSection(true);
    Table_References->setMaximumHeight(110);
    Table_References->setColumnWidth(0, 240);
    Table_References->setColumnWidth(1, 130);
    Table_References->setColumnWidth(2, 150);
    top->addWidget(Table_References);
    auto* refButtons = new QHBoxLayout;
    Button_AddReference = button(this, "Button_AddReference");
    Button_RemoveReference = button(this, "Button_RemoveReference");
    refButtons->addWidget(Button_AddReference);
    refButtons->addWidget(Button_RemoveReference);
    refButtons->addStretch();
    top->addLayout(refButtons);

    auto* verify = new QHBoxLayout;
    ComboBox_Phase = new QComboBox(this);
    ComboBox_Phase->setObjectName(QStringLiteral("ComboBox_Phase"));
    ComboBox_Phase->addItems({QString(), QString()});
    Button_VerifyOutput = button(this, "Button_VerifyOutput");
    Button_VerifyInput = button(this, "Button_VerifyInput");
    Button_StopVerify = button(this, "Button_StopVerify");
    for (QWidget* w : std::initializer_list<QWidget*>{ComboBox_Phase, Button_VerifyOutput, Button_VerifyInput,
                                                      Button_StopVerify})
        verify->addWidget(w);
    top->addLayout(verify);
    Label_Instruction = new QLabel(this);
    Label_Instruction->setObjectName(QStringLiteral("Label_Instruction"));
    Label_Instruction->setWordWrap(true);
    top->addWidget(Label_Instruction);
    auto* point = new QHBoxLayout;
    Edit_Reference = edit(this, "Edit_Reference");
    Button_RecordPoint = button(this, "Button_RecordPoint");
    point->addWidget(Edit_Reference);
    point->addWidget(Button_RecordPoint);
    top->addLayout(point);

    Table_Points = new QTableWidget(0, 8, this);
    Table_Points->setObjectName(QStringLiteral("Table_Points"));
    Table_Points->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table_Points->verticalHeader()->hide();
    Table_Points->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    top->addWidget(Table_Points, 1);

    auto* bottom = new QHBoxLayout;
    ComboBox_CertificateLanguage = new QComboBox(this);
    ComboBox_CertificateLanguage->setObjectName(QStringLiteral("ComboBox_CertificateLanguage"));
    fillLanguages(ComboBox_CertificateLanguage, main.GsSelectedLanguage != QLatin1String("english"));
    Button_SaveRecord = button(this, "Button_SaveRecord");
    Button_NewRecord = button(this, "Button_NewRecord");
    Button_History = button(this, "Button_History");
    for (QWidget* w : std::initializer_list<QWidget*>{ComboBox_CertificateLanguage, Button_SaveRecord,
                                                      Button_NewRecord, Button_History})
        bottom->addWidget(w);
    top->addLayout(bottom);
    Label_Status = new QLabel(this);
    Label_Status->setObjectName(QStringLiteral("Label_Status"));
    Label_Status->setWordWrap(true);
    Label_Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(Label_Status);

    connect(Button_VerifyOutput, &QPushButton::clicked, this,
            [this] { Label_Status->setText(startVerify(true)); });
    connect(Button_VerifyInput, &QPushButton::clicked, this,
            [this] { Label_Status->setText(startVerify(false)); });
    connect(Button_StopVerify, &QPushButton::clicked, this, &RecordsWindow::stopVerify);
    connect(Button_RecordPoint, &QPushButton::clicked, this, &RecordsWindow::recordPoint);
    connect(Edit_Reference, &QLineEdit::returnPressed, this, &RecordsWindow::recordPoint);
    connect(Button_SaveRecord, &QPushButton::clicked, this, [this] {
        const QString error = saveRecord();
        if (!error.isEmpty()) Label_Status->setText(error);
    });
    connect(Button_NewRecord, &QPushButton::clicked, this, &RecordsWindow::newRecord);
    connect(Button_History, &QPushButton::clicked, this, &RecordsWindow::historyAsked);
    connect(Button_AddReference, &QPushButton::clicked, this, [this] {
        loadingReferences_ = true;
        const int row = Table_References->rowCount();
        Table_References->insertRow(row);
        for (int c = 0; c < 4; ++c)
            Table_References->setItem(row, c, new QTableWidgetItem);
        Table_References->item(row, 0)->setCheckState(Qt::Checked);
        loadingReferences_ = false;
        Table_References->editItem(Table_References->item(row, 0));
    });
    connect(Button_RemoveReference, &QPushButton::clicked, this, [this] {
        if (Table_References->currentRow() >= 0) Table_References->removeRow(Table_References->currentRow());
        storeReferences();
    });
    connect(Table_References, &QTableWidget::itemChanged, this, [this] { storeReferences(); });
    connect(&main_, &TForm_Main::replyShown, this, &RecordsWindow::replyShown);
    connect(&main_, &TForm_Main::requestSent, this,
            [this](const in::Request& request) { gate_.requestSent(request); });
    connect(&main_, &TForm_Main::noReply, this, [this] { gate_.failed(); });
    connect(&main_, &TForm_Main::languageApplied, this, &RecordsWindow::applyTexts);

    loadReferences();
    newRecord();
    applyTexts();
    resize(760, 640);
}

void RecordsWindow::closeEvent(QCloseEvent* event) {
    stopVerify();
    QWidget::closeEvent(event);
}

QString RecordsWindow::inLanguage(Text key) const {
    return main_.inLanguage(key);
}

void RecordsWindow::applyTexts() {
    setWindowTitle(inLanguage(Text::RecordTitle));
    auto* form = qobject_cast<QFormLayout*>(static_cast<QVBoxLayout*>(layout())->itemAt(0)->layout());
    const Text labels[] = {Text::SerialNumber, Text::UnitReports, Text::Engineer, Text::AmbientCelsius};
    for (int i = 0; i < 4; ++i)
        if (auto* l = qobject_cast<QLabel*>(form->itemAt(i, QFormLayout::LabelRole)->widget()))
            l->setText(inLanguage(labels[i]));
    Edit_Serial->setPlaceholderText(inLanguage(Text::TypeOrScan));
    CheckBox_Trial->setText(inLanguage(Text::TrialRun));
    Table_References->setHorizontalHeaderLabels({inLanguage(Text::ReferenceModel),
                                                 inLanguage(Text::SerialNumber),
                                                 inLanguage(Text::Certificate), inLanguage(Text::DueDate)});
    Button_AddReference->setText(inLanguage(Text::AddReference));
    Button_RemoveReference->setText(inLanguage(Text::RemoveReference));
    ComboBox_Phase->setItemText(0, inLanguage(Text::PhaseAsFound));
    ComboBox_Phase->setItemText(1, inLanguage(Text::PhaseAsLeft));
    Button_VerifyOutput->setText(inLanguage(Text::VerifyOutput));
    Button_VerifyInput->setText(inLanguage(Text::VerifyInput));
    Button_StopVerify->setText(inLanguage(Text::Stop));
    Button_SaveRecord->setText(inLanguage(Text::SaveRecordAndCertificate));
    Button_NewRecord->setText(inLanguage(Text::NewRecord));
    Button_History->setText(inLanguage(Text::ButtonHistory));
    Table_Points->setHorizontalHeaderLabels(
        {inLanguage(Text::Phase), inLanguage(Text::Signal), inLanguage(Text::Nominal),
         inLanguage(Text::Reference), inLanguage(Text::ColumnInstrument), inLanguage(Text::ErrorOfSpan),
         inLanguage(Text::LimitPercent), inLanguage(Text::Verdict)});
    showCurrent();
}

void RecordsWindow::loadReferences() {
    loadingReferences_ = true;
    Table_References->setRowCount(0);
    for (const rec::Reference& r : history_.references()) {
        const int row = Table_References->rowCount();
        Table_References->insertRow(row);
        const std::string cells[4] = {r.model, r.serial, r.certificate, r.dueDate};
        for (int c = 0; c < 4; ++c)
            Table_References->setItem(row, c, new QTableWidgetItem(q(cells[c])));
        // An overdue reference is not offered for use.
        const bool expired = rec::referenceExpired(r, today().toStdString());
        Table_References->item(row, 0)->setCheckState(expired ? Qt::Unchecked : Qt::Checked);
    }
    loadingReferences_ = false;
}

void RecordsWindow::storeReferences() {
    if (loadingReferences_) return;
    std::vector<rec::Reference> list;
    for (int row = 0; row < Table_References->rowCount(); ++row) {
        const auto cell = [&](int c) {
            const QTableWidgetItem* i = Table_References->item(row, c);
            return i ? i->text().trimmed().toStdString() : std::string();
        };
        list.push_back({cell(0), cell(1), cell(2), cell(3)});
    }
    if (!history_.setReferences(list)) Label_Status->setText(history_.error());
}

void RecordsWindow::newRecord() {
    stopVerify();
    run_ = {};
    Table_Points->setRowCount(0);
    Edit_Serial->clear();
    Label_Status->clear();
}

void RecordsWindow::correct(const rec::Run& saved) {
    newRecord();
    run_.replaces = saved.id;
    Edit_Serial->setText(q(saved.unit.serial));
    Label_Status->setText(inLanguage(Text::CorrectionOf).arg(q(saved.certificate)));
}

QString RecordsWindow::startVerify(bool output) {
    stopVerify();
    if (!main_.HaveReply) return inLanguage(Text::NoReplyYetOpenPort);
    const in::Reply& r = main_.LastReply;
    auto plan = output ? rec::outputPlan(r.OutputTypeCode, r.DeviceOutputLow, r.DeviceOutputHigh)
                       : rec::inputPlan(r.InputTypeCode, r.DeviceInputLow, r.DeviceInputHigh);
    if (plan.empty()) return inLanguage(Text::ScaleHasNoSpan);
    procedure_.start(ComboBox_Phase->currentIndex() == 1 ? rec::Phase::AsLeft : rec::Phase::AsFound,
                     std::move(plan));
    // The output is driven exactly as the output check page drives it; the input range is forced
    // from the test page.
    main_.PageControl1->setActivePage(output ? main_.TabSheet_KimenetEllenorzes : main_.TabSheet_Test);
    showCurrent();
    return {};
}

void RecordsWindow::stopVerify() {
    // Also after the last point, when the procedure has ended already: nothing stays forced or applied.
    const bool wasInput = std::exchange(inputForced_, false);
    procedure_.stop();
    gate_.disarm();
    if (wasInput) main_.RadioGroup_MereshatarForce->setItemIndex(0);
    if (station::ScpiInstrument* source = wasInput ? benchSource() : nullptr; source && !source->off())
        Label_Status->setText(q(source->error()));
    showCurrent();
}

station::ScpiInstrument* RecordsWindow::benchMeter() const {
    return main_.Bench && !main_.Bench->running() ? main_.Bench->meter() : nullptr;
}
station::ScpiInstrument* RecordsWindow::benchSource() const {
    return main_.Bench && !main_.Bench->running() ? main_.Bench->source() : nullptr;
}

void RecordsWindow::nameReference(const station::ScpiInstrument& instrument) {
    const std::optional<rec::Reference> named = rec::referenceFromIdentity(instrument.identity());
    if (!named) return;
    // Already in the table: ticked for this record. Otherwise a new line; its certificate and due date
    // are the engineer's to fill in before the record can be saved as a certificate.
    for (int row = 0; row < Table_References->rowCount(); ++row) {
        const QTableWidgetItem* serial = Table_References->item(row, 1);
        if (serial && serial->text().trimmed().toStdString() == named->serial) {
            Table_References->item(row, 0)->setCheckState(Qt::Checked);
            return;
        }
    }
    loadingReferences_ = true;
    const int row = Table_References->rowCount();
    Table_References->insertRow(row);
    const std::string cells[4] = {named->model, named->serial, {}, {}};
    for (int c = 0; c < 4; ++c)
        Table_References->setItem(row, c, new QTableWidgetItem(q(cells[c])));
    Table_References->item(row, 0)->setCheckState(Qt::Checked);
    loadingReferences_ = false;
    storeReferences();
}

void RecordsWindow::showCurrent() {
    const rec::CheckPoint* c = procedure_.current();
    Button_RecordPoint->setEnabled(false);
    Edit_Reference->setEnabled(c && c->range < 0);
    Button_StopVerify->setEnabled(c != nullptr);
    if (!c) {
        Label_Instruction->setText(inLanguage(Text::ChoosePhase));
        Button_RecordPoint->setText(inLanguage(Text::Record));
        return;
    }
    const QString where = QStringLiteral("%1/%2: ").arg(procedure_.index() + 1).arg(procedure_.size());
    const QString value = shown(c->nominal, 4) + QLatin1Char(' ') + q(c->unit);
    repliesSinceDrive_ = 0;
    if (c->range < 0) {
        main_.TrackBar_OutCheck->setValue(c->percent / 5);
        if (benchMeter()) {
            Edit_Reference->setEnabled(false);
            Label_Instruction->setText(where +
                                       inLanguage(Text::OutputDrivenToBenchMeter).arg(c->percent).arg(value));
        } else {
            Label_Instruction->setText(
                where + inLanguage(Text::OutputDrivenTo).arg(c->percent).arg(value, q(c->unit)));
        }
        Button_RecordPoint->setText(inLanguage(Text::Record));
    } else {
        main_.RadioGroup_MereshatarForce->setItemIndex(c->range + 1);
        inputForced_ = true;
        const in::InputRange& range = in::kInputRanges[static_cast<std::size_t>(c->range)];
        Label_Instruction->setText(where +
                                   inLanguage(Text::RangeApplySignal).arg(q(std::string(range.name)), value));
        Button_RecordPoint->setText(inLanguage(Text::SignalApplied));
        Button_RecordPoint->setEnabled(true);
        // The bench source applies it: the same as the engineer confirming the signal.
        if (station::ScpiInstrument* source = benchSource()) {
            if (!source->source(scpiQuantity(*c), toScpi(*c, c->nominal))) {
                const QString error = q(source->error());
                stopVerify();
                Label_Status->setText(error);
                return;
            }
            nameReference(*source);
            recordPoint();
        }
    }
}

void RecordsWindow::replyShown() {
    const in::Reply& r = main_.LastReply;
    Label_Unit->setText(QStringLiteral("%1, %2, %3 h")
                            .arg(q(std::string(in::variantCaption(r.iTypeOfInstrument))),
                                 q(in::firmwareVersionText(main_.FirmwareVersion)))
                            .arg(r.WorkingMinutes / 60));
    // The calibration pages' stores, as the instrument acknowledged them, go into the open record.
    const auto stored = [&](rec::StoredConstants::Kind kind, std::vector<std::int64_t> values) {
        for (auto it = run_.constants.rbegin(); it != run_.constants.rend(); ++it)
            if (it->kind == kind) {
                // A request already under way carries the command once more; its echo is the same store.
                if (it->values == values) return;
                break;
            }
        run_.constants.push_back({kind, std::move(values),
                                  QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString()});
        Label_Status->setText(inLanguage(Text::StoredConstantsRecorded));
    };
    if (r.AcknowledgeFlags & in::kCmdStoreOutputCalibration)
        stored(rec::StoredConstants::Kind::Output,
               {main_.uOut4mA, main_.uOut20mA, main_.uOut2V, main_.uOut10V});
    if (r.AcknowledgeFlags & in::kCmdStoreInputCalibration) {
        std::vector<std::int64_t> v(main_.Low.begin(), main_.Low.end());
        v.insert(v.end(), main_.High.begin(), main_.High.end());
        stored(rec::StoredConstants::Kind::Input, std::move(v));
    }

    const rec::CheckPoint* c = procedure_.current();
    if (!c) return;
    if (c->range < 0) {
        // Ready once a reply to a request carrying this percentage shows the output there.
        ++repliesSinceDrive_;
        const bool there = std::fabs(r.OutputFraction - c->percent / 100.0) < 1e-6 &&
                           main_.PageControl1->ActivePage() == main_.TabSheet_KimenetEllenorzes;
        Button_RecordPoint->setEnabled(repliesSinceDrive_ >= 2 && there);
        station::ScpiInstrument* meter = benchMeter();
        if (!meter || !Button_RecordPoint->isEnabled()) return;
        // The bench meter's settled reading stands for the typed one.
        const station::RunOptions o;
        std::string error;
        const auto reading =
            station::settledReading(*meter, scpiQuantity(*c), o.meterSettle, o.meterReadings, &error);
        if (!reading) {
            stopVerify();
            Label_Status->setText(q(error));
            return;
        }
        nameReference(*meter);
        finishPoint(procedure_.take(fromScpi(*c, *reading), profile_.tolerances, profile_.rule));
    } else if (gate_.armed()) {
        if (const auto value = gate_.offer(r, r.StatusFlags & in::kStatusInputRangeError))
            finishPoint(procedure_.take(*value, profile_.tolerances, profile_.rule));
    }
}

void RecordsWindow::recordPoint() {
    const rec::CheckPoint* c = procedure_.current();
    if (!c || !Button_RecordPoint->isEnabled()) return;
    if (c->range >= 0) {
        gate_.arm(*c, ForceSelection{main_.RadioGroup_GainForceCH->ItemIndex(),
                                     main_.RadioGroup_DividerForce->ItemIndex(),
                                     main_.RadioGroup_GainForce->ItemIndex()});
        Button_RecordPoint->setEnabled(false);
        Label_Instruction->setText(Label_Instruction->text() + QLatin1Char(' ') +
                                   inLanguage(Text::WaitingForSettledReading));
        return;
    }
    const auto value = typed(Edit_Reference->text());
    if (!value) {
        Label_Status->setText(inLanguage(Text::ReadingNotANumber));
        return;
    }
    Edit_Reference->clear();
    finishPoint(procedure_.take(*value, profile_.tolerances, profile_.rule));
}

void RecordsWindow::finishPoint(std::optional<rec::Point> p) {
    if (!p) return;
    addPoint(*p);
    run_.points.push_back(*p);
    if (!procedure_.running()) {
        stopVerify();
        Label_Status->setText(inLanguage(Text::CheckComplete));
        return;
    }
    showCurrent();
}

void RecordsWindow::addPoint(const rec::Point& p) {
    const int row = Table_Points->rowCount();
    Table_Points->insertRow(row);
    const in::InputRange* range = in::inputRange(p.check.range);
    const QString unit = QLatin1Char(' ') + q(p.check.unit);
    const QString cells[8] = {p.phase == rec::Phase::AsFound ? inLanguage(Text::AsFound)
                                                             : inLanguage(Text::AsLeft),
                              (range ? q(std::string(range->name)) : inLanguage(Text::SeriesOutput)) +
                                  QStringLiteral(" %1 %").arg(p.check.percent),
                              shown(p.check.nominal, 4) + unit,
                              shown(p.reference, 4) + unit,
                              shown(p.instrument, 4) + unit,
                              shown(p.result.errorPercent, 4),
                              QStringLiteral("±") + shown(p.result.limit, 4),
                              p.result.verdict == rec::Verdict::Pass   ? inLanguage(Text::Pass)
                              : p.result.verdict == rec::Verdict::Fail ? inLanguage(Text::Fail)
                                                                       : inLanguage(Text::Invalid)};
    for (int c = 0; c < 8; ++c)
        Table_Points->setItem(row, c, new QTableWidgetItem(cells[c]));
}

QString RecordsWindow::saveRecord() {
    stopVerify();
    const in::Reply& r = main_.LastReply;
    run_.trial = CheckBox_Trial->isChecked();
    run_.engineer = Edit_Engineer->text().trimmed().toStdString();
    run_.ambient = typed(Edit_Ambient->text());
    if (!Edit_Ambient->text().trimmed().isEmpty() && !run_.ambient)
        return inLanguage(Text::AmbientNotANumber);
    run_.rule = profile_.rule;
    run_.references.clear();
    for (int row = 0; row < Table_References->rowCount(); ++row) {
        const auto cell = [&](int c) {
            const QTableWidgetItem* i = Table_References->item(row, c);
            return i ? i->text().trimmed().toStdString() : std::string();
        };
        if (Table_References->item(row, 0) && Table_References->item(row, 0)->checkState() == Qt::Checked)
            run_.references.push_back({cell(0), cell(1), cell(2), cell(3)});
    }
    // A scanner acting as a keyboard may leave a line end or blanks around the number.
    run_.unit.serial = Edit_Serial->text().trimmed().toStdString();
    if (main_.HaveReply) run_.unit = rec::unitFromReply(r, run_.unit.serial);
    if (run_.points.empty()) return inLanguage(Text::NothingCheckedYet);
    rec::Run saving = run_;
    if (!history_.save(saving, today().toStdString())) return history_.error();
    const QString error =
        rec::exportRun(saving, languageOf(ComboBox_CertificateLanguage), exportFolder_, rec::writePdf);
    emit saved(saving.id);
    newRecord();
    Label_Status->setText(
        error.isEmpty() ? inLanguage(Text::SavedAs).arg(q(saving.certificate), exportFolder_) : error);
    return error;
}

// ---- the history window

HistoryWindow::HistoryWindow(TForm_Main& main, rec::History& history, const QString& exportFolder)
    : QWidget(nullptr, Qt::Window), main_(main), history_(history), exportFolder_(exportFolder) {
    setObjectName(QStringLiteral("Form_CalibrationHistory"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* top = new QVBoxLayout(this);
    top->setSizeConstraint(QLayout::SetNoConstraint);
    setMinimumSize(420, 260);
    auto* search = new QHBoxLayout;
    Edit_SearchSerial = edit(this, "Edit_SearchSerial");
    Edit_From = edit(this, "Edit_From");
    Edit_To = edit(this, "Edit_To");
    Button_Search = button(this, "Button_Search");
    for (QWidget* w : std::initializer_list<QWidget*>{Edit_SearchSerial, Edit_From, Edit_To, Button_Search})
        search->addWidget(w);
    top->addLayout(search);
    Tree_Runs = new QTreeWidget(this);
    Tree_Runs->setObjectName(QStringLiteral("Tree_Runs"));
    Tree_Runs->setColumnCount(5);
    Tree_Runs->setUniformRowHeights(true);
    Tree_Runs->setColumnWidth(0, 240);
    Tree_Runs->setColumnWidth(1, 100);
    Tree_Runs->setColumnWidth(2, 160);
    top->addWidget(Tree_Runs, 1);
    auto* bottom = new QHBoxLayout;
    ComboBox_CertificateLanguage = new QComboBox(this);
    ComboBox_CertificateLanguage->setObjectName(QStringLiteral("ComboBox_CertificateLanguage"));
    fillLanguages(ComboBox_CertificateLanguage, main.GsSelectedLanguage != QLatin1String("english"));
    Button_Export = button(this, "Button_Export");
    Button_Correct = button(this, "Button_Correct");
    for (QWidget* w :
         std::initializer_list<QWidget*>{ComboBox_CertificateLanguage, Button_Export, Button_Correct})
        bottom->addWidget(w);
    bottom->addStretch();
    top->addLayout(bottom);
    Label_Status = new QLabel(this);
    Label_Status->setObjectName(QStringLiteral("Label_Status"));
    Label_Status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    top->addWidget(Label_Status);

    connect(Button_Search, &QPushButton::clicked, this, &HistoryWindow::refresh);
    for (QLineEdit* e : {Edit_SearchSerial, Edit_From, Edit_To})
        connect(e, &QLineEdit::returnPressed, this, &HistoryWindow::refresh);
    connect(Button_Export, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(this, Button_Export->text(), exportFolder_);
        if (!folder.isEmpty()) Label_Status->setText(exportSelected(folder));
    });
    connect(Button_Correct, &QPushButton::clicked, this, [this] {
        if (const auto id = selected())
            if (const auto run = history_.load(*id)) emit correctionAsked(*run);
    });
    connect(&main_, &TForm_Main::languageApplied, this, &HistoryWindow::applyTexts);
    applyTexts();
    refresh();
    resize(760, 520);
}

QString HistoryWindow::inLanguage(Text key) const {
    return main_.inLanguage(key);
}

void HistoryWindow::applyTexts() {
    setWindowTitle(inLanguage(Text::HistoryTitle));
    Edit_SearchSerial->setPlaceholderText(inLanguage(Text::SerialNumber));
    Edit_From->setPlaceholderText(inLanguage(Text::FromDate));
    Edit_To->setPlaceholderText(inLanguage(Text::ToDate));
    Button_Search->setText(inLanguage(Text::Search));
    Button_Export->setText(inLanguage(Text::ExportAgain));
    Button_Correct->setText(inLanguage(Text::Correct));
    Tree_Runs->setHeaderLabels({inLanguage(Text::UnitCertificate), inLanguage(Text::Date),
                                inLanguage(Text::ColumnEngineer), inLanguage(Text::PointsFailed),
                                inLanguage(Text::Note)});
}

void HistoryWindow::refresh() {
    Tree_Runs->clear();
    QList<QTreeWidgetItem*> units;
    QTreeWidgetItem* unit = nullptr;
    std::vector<rec::RunSummary> runs = history_.find(Edit_SearchSerial->text().trimmed(),
                                                      Edit_From->text().trimmed(), Edit_To->text().trimmed());
    // Grouped by unit, each unit's runs newest first.
    std::stable_sort(runs.begin(), runs.end(),
                     [](const rec::RunSummary& a, const rec::RunSummary& b) { return a.serial < b.serial; });
    for (const rec::RunSummary& s : runs) {
        if (!unit || unit->text(0) != s.serial) {
            unit = new QTreeWidgetItem(QStringList{s.serial});
            units << unit;
        }
        QString note = s.trial ? inLanguage(Text::Trial) : QString();
        if (s.replaces)
            note += (note.isEmpty() ? QString() : QStringLiteral(", ")) +
                    inLanguage(Text::Replaces).arg(*s.replaces);
        auto* item = new QTreeWidgetItem(unit, {s.certificate, s.created.left(10), s.engineer,
                                                QStringLiteral("%1 / %2").arg(s.failed).arg(s.points), note});
        item->setData(0, Qt::UserRole, QVariant::fromValue<qint64>(s.id));
    }
    Tree_Runs->addTopLevelItems(units);
    if (units.size() <= 20) Tree_Runs->expandAll();
    Label_Status->setText(inLanguage(Text::RecordsOfUnits).arg(runs.size()).arg(units.size()));
}

std::optional<std::int64_t> HistoryWindow::selected() const {
    const QTreeWidgetItem* item = Tree_Runs->currentItem();
    if (!item || !item->data(0, Qt::UserRole).isValid()) return std::nullopt;
    return item->data(0, Qt::UserRole).toLongLong();
}

QString HistoryWindow::exportSelected(const QString& folder) {
    const auto id = selected();
    if (!id) return inLanguage(Text::ChooseRecordFirst);
    const auto run = history_.load(*id);
    if (!run) return history_.error();
    const QString to = folder.isEmpty() ? exportFolder_ : folder;
    const QString error = rec::exportRun(*run, languageOf(ComboBox_CertificateLanguage), to, rec::writePdf);
    return error.isEmpty() ? inLanguage(Text::WrittenTo).arg(q(run->certificate), to) : error;
}

// ---- the entry on the main window

Records::Records(TForm_Main& main) : QObject(&main), main_(main) {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    setPaths(rec::History::defaultPath(), data + QStringLiteral("/vx2207-profile.ini"),
             data + QStringLiteral("/certificates"));
    Menu_Calibration = main.MenuBar_Main->addMenu(QString());
    Menu_Calibration->setObjectName(QStringLiteral("Menu_Calibration"));
    Action_Run = Menu_Calibration->addAction(QString(), this, [this] { showRun(); });
    Action_History = Menu_Calibration->addAction(QString(), this, [this] { showHistory(); });
    connect(&main, &TForm_Main::languageApplied, this, &Records::applyTexts);
    // Maker mode only, like the service pages.
    connect(&main, &TForm_Main::accessModeApplied, this,
            [this] { Menu_Calibration->menuAction()->setVisible(main_.MakerAccess); });
    Menu_Calibration->menuAction()->setVisible(main.MakerAccess);
    applyTexts();
}

Records::~Records() {
    delete run_;
    delete historyWindow_;
}

void Records::setPaths(const QString& history, const QString& profile, const QString& exportFolder) {
    historyPath_ = history;
    profilePath_ = profile;
    exportFolder_ = exportFolder;
}

void Records::applyTexts() {
    Menu_Calibration->setTitle(main_.inLanguage(Text::MenuCalibration));
    Action_Run->setText(main_.inLanguage(Text::ActionCalibrationRecord));
    Action_History->setText(main_.inLanguage(Text::ActionCalibrationHistory));
}

bool Records::ensureOpen() {
    if (history_.isOpen() || history_.open(historyPath_)) return true;
    QMessageBox::warning(&main_, main_.inLanguage(Text::HistoryTitle), history_.error());
    return false;
}

RecordsWindow* Records::showRun() {
    if (!ensureOpen()) return nullptr;
    if (!run_) {
        run_ =
            new RecordsWindow(main_, history_, rec::loadProfile(profilePath_.toStdString()), exportFolder_);
        connect(run_, &RecordsWindow::historyAsked, this, &Records::showHistory);
        connect(run_, &RecordsWindow::saved, this, [this] {
            if (historyWindow_) historyWindow_->refresh();
        });
    }
    bringUp(run_);
    return run_;
}

HistoryWindow* Records::showHistory() {
    if (!ensureOpen()) return nullptr;
    if (!historyWindow_) {
        historyWindow_ = new HistoryWindow(main_, history_, exportFolder_);
        connect(historyWindow_, &HistoryWindow::correctionAsked, this, [this](const rec::Run& run) {
            if (RecordsWindow* w = showRun()) w->correct(run);
        });
    }
    bringUp(historyWindow_);
    return historyWindow_;
}

} // namespace vx::app::records
