#include "app/bench/BenchStation.h"

#include "app/Main.h"
#include "app/texts/Texts.h"
#include "common/profilefile.h"
#include "link/mb.h"
#include "station/benchrun.h"
#include "station/transport.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>
#include <iterator>
#include <utility>

namespace vx::app::bench {
namespace {

// A unit that leaves this long without a good reply has stopped the run.
constexpr int kSilenceMs = 3000;
// Replies allowed for the unit to show a new PWM value, and for a store to be acknowledged.
constexpr int kReplyBound = 20;
// How long a closing window waits for its last request to drop the forcing.
constexpr int kCloseBoundMs = 2000;

// The window's section of the program's settings file and its keys, in the fields' order.
constexpr const char* kSettingsSection = "BenchInstruments";
constexpr const char* kSettingsKeys[] = {"MeterAddress", "MeterProfile", "SourceAddress", "SourceProfile"};

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

// What the output run does at a wizard step: "searching 4 mA" or "checking 12 mA".
QString outputActivity(const TForm_Main& main, const station::OutputCommand& c, int step) {
    if (c.kind == station::OutputCommand::Kind::Check)
        return main.inLanguage(Text::BenchChecking)
            .arg(c.point == app::CheckPoint::I12mA ? QStringLiteral("12 mA") : QStringLiteral("6 V"));
    QString target;
    for (const station::OutputTarget& t : station::kOutputTargets)
        if (t.step == step)
            target = t.quantity == station::Quantity::Current
                         ? QStringLiteral("%1 mA").arg(std::lround(t.target * 1000))
                         : QStringLiteral("%1 V").arg(t.target);
    return main.inLanguage(Text::BenchSearching).arg(target);
}

} // namespace

BenchStation::BenchStation(TForm_Main& main) : QObject(&main), main_(main) {
    action_ = main_.Menu_Tools->addAction(QString(), this, [this] { showWindow(); });
    action_->setObjectName(QStringLiteral("Action_Bench"));
    connect(&main_, &TForm_Main::languageApplied, this, &BenchStation::applyTexts);
    applyTexts();
    // The bench belongs to the maker's mode.
    connect(main_.Menu_Tools, &QMenu::aboutToShow, this, [this] { action_->setVisible(main_.MakerAccess); });
    silence_ = new QTimer(this);
    silence_->setSingleShot(true);
    silence_->setInterval(kSilenceMs);
    connect(silence_, &QTimer::timeout, this, [this] {
        if (running()) end(false, QStringLiteral("unit: no reply for %1 s").arg(kSilenceMs / 1000));
    });
    connect(&main_, &TForm_Main::replyShown, this, &BenchStation::onReply);
    // Nothing more reaches the unit: the run ends here rather than after the silence.
    for (auto signal : {&TPortSession::closed, &TPortSession::lost})
        connect(&main_.MB1->session(), signal, this, [this] {
            if (running()) end(false, QStringLiteral("unit: the port closed or was lost"));
        });
    // Close on the link panel waits, as the window's close does, for a request that unforces the unit.
    // The hold outlives this object in the session: it holds nothing once this is gone.
    main_.MB1->session().setCloseHold([self = QPointer<BenchStation>(this)](std::function<void()> proceed) {
        return self && self->endUnforced(self->main_.inLanguage(Text::BenchPortClosed), std::move(proceed));
    });
    outputPanel_ = buildPagePanel(main_.TabSheet_OutputCalibration, QRect(8, 400, 530, 50), "AutoOutput");
    // The input page's free space lies in its step sheet, beside the empty picture, above the store button.
    inputPanel_ = buildPagePanel(main_.TabSheet1, QRect(176, 246, 317, 50), "AutoInput");
}

BenchStation::PagePanel BenchStation::buildPagePanel(QWidget* parent, const QRect& where, const char* name) {
    PagePanel p;
    p.box = new QWidget(parent);
    p.box->setObjectName(QStringLiteral("Panel_%1").arg(QLatin1String(name)));
    p.box->setGeometry(where);
    // The line on top, the bar and Stop below it.
    const int buttonWidth = 80, gap = 6, barWidth = where.width() - buttonWidth - gap;
    p.text = new QLabel(p.box);
    p.text->setObjectName(QStringLiteral("Label_%1").arg(QLatin1String(name)));
    p.text->setGeometry(0, 0, where.width(), 22);
    p.bar = new QProgressBar(p.box);
    p.bar->setObjectName(QStringLiteral("ProgressBar_%1").arg(QLatin1String(name)));
    p.bar->setGeometry(0, 24, barWidth, 24);
    p.stop = new QPushButton(p.box);
    p.stop->setObjectName(QStringLiteral("Button_%1Stop").arg(QLatin1String(name)));
    p.stop->setGeometry(barWidth + gap, 23, buttonWidth, 26);
    connect(p.stop, &QPushButton::clicked, this, [this] { stop(QStringLiteral("stopped")); });
    p.box->hide();
    return p;
}

bool BenchStation::closeUnforced(std::function<void()> proceed) {
    return endUnforced(QStringLiteral("the window closed"), std::move(proceed));
}

bool BenchStation::endUnforced(const QString& why, std::function<void()> proceed) {
    if (!running()) return false;
    end(false, why);
    if (!main_.MB1->MBPortOpen()) return false;
    // The request under way may still carry the forcing; any built from here on does not.
    auto* guard = new QObject(this);
    auto sent = std::make_shared<bool>(false);
    auto finish = [this, guard, done = std::make_shared<bool>(false), proceed] {
        if (std::exchange(*done, true)) return;
        guard->deleteLater();
        // Not from inside the link's report: the window closes its port.
        QTimer::singleShot(0, this, proceed);
    };
    connect(&main_, &TForm_Main::requestSent, guard, [sent] { *sent = true; });
    connect(&main_, &TForm_Main::replyShown, guard, [sent, finish] {
        if (*sent) finish();
    });
    QTimer::singleShot(kCloseBoundMs, guard, finish);
    return true;
}

BenchStation::~BenchStation() {
    // The window going away in the middle of a run: its controls are going too, and its port closes,
    // so the unit's requests end; the source is switched off here.
    if (running() && source_) source_->off();
    delete window_;
}

QWidget* BenchStation::showWindow() {
    if (!window_) buildWindow();
    window_->show();
    return window_;
}

void BenchStation::buildWindow() {
    window_ = new QWidget(nullptr, Qt::Window);
    window_->setObjectName(QStringLiteral("Form_Bench"));
    auto* form = new QFormLayout;
    const QString hint = QStringLiteral("tcp:HOST[:5025], /dev/usbtmc0 or /dev/ttyUSB0:9600:8N1");
    // Address and profile file side by side; "…" picks the file.
    auto row = [&](QLabel** label, QLineEdit** address, QLineEdit** profile, const char* name, QLabel** id) {
        *address = new QLineEdit;
        (*address)->setObjectName(QStringLiteral("Edit_Bench%1").arg(QLatin1String(name)));
        (*address)->setPlaceholderText(hint);
        *profile = new QLineEdit;
        (*profile)->setObjectName(QStringLiteral("Edit_Bench%1Profile").arg(QLatin1String(name)));
        auto* browse = new QToolButton;
        browse->setObjectName(QStringLiteral("Button_Bench%1Profile").arg(QLatin1String(name)));
        browse->setText(QStringLiteral("…"));
        connect(browse, &QToolButton::clicked, this, [this, edit = *profile] {
            const QString file = QFileDialog::getOpenFileName(
                window_, main_.inLanguage(Text::BenchChooseProfile), edit->text());
            if (!file.isEmpty()) edit->setText(file);
        });
        auto* line = new QHBoxLayout;
        line->addWidget(*address, 3);
        line->addWidget(*profile, 2);
        line->addWidget(browse);
        *label = new QLabel;
        form->addRow(*label, line);
        *id = new QLabel;
        form->addRow(QString(), *id);
    };
    row(&meterLabel_, &meterEdit_, &meterProfile_, "Meter", &meterId_);
    row(&sourceLabel_, &sourceEdit_, &sourceProfile_, "Source", &sourceId_);
    // What the last run of the program had in the fields.
    const std::string settings = QFile::encodeName(main_.settingsPath()).toStdString();
    QLineEdit* const fields[] = {meterEdit_, meterProfile_, sourceEdit_, sourceProfile_};
    if (!settings.empty())
        for (std::size_t i = 0; i < std::size(fields); ++i)
            fields[i]->setText(q(readProfileString(settings, kSettingsSection, kSettingsKeys[i], "")));
    connectButton_ = new QPushButton;
    connectButton_->setObjectName(QStringLiteral("Button_BenchConnect"));
    connect(connectButton_, &QPushButton::clicked, this, [this] { connectInstruments(); });
    store_ = new QCheckBox;
    store_->setObjectName(QStringLiteral("CheckBox_BenchStore"));
    outputButton_ = new QPushButton;
    outputButton_->setObjectName(QStringLiteral("Button_AutoOutput"));
    inputButton_ = new QPushButton;
    inputButton_->setObjectName(QStringLiteral("Button_AutoInput"));
    stopButton_ = new QPushButton;
    stopButton_->setObjectName(QStringLiteral("Button_BenchStop"));
    stopButton_->setEnabled(false);
    connect(outputButton_, &QPushButton::clicked, this, [this] { startOutput(); });
    connect(inputButton_, &QPushButton::clicked, this, [this] { startInput(); });
    connect(stopButton_, &QPushButton::clicked, this, [this] { stop(QStringLiteral("stopped")); });
    progress_ = new QProgressBar;
    progress_->setObjectName(QStringLiteral("ProgressBar_Bench"));
    status_ = new QLabel;
    status_->setObjectName(QStringLiteral("Label_BenchStatus"));
    status_->setWordWrap(true);
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {outputButton_, inputButton_, stopButton_})
        buttons->addWidget(b);
    auto* box = new QVBoxLayout(window_);
    // A fixed least size, set before the window exists: a layout-driven one would have to be handed to
    // the window on the screen on every change of the status text.
    box->setSizeConstraint(QLayout::SetNoConstraint);
    window_->setMinimumSize(640, 300);
    box->addLayout(form);
    box->addWidget(connectButton_);
    box->addWidget(store_);
    box->addLayout(buttons);
    box->addWidget(progress_);
    box->addWidget(status_);
    window_->resize(720, 320);
    applyTexts();
}

void BenchStation::applyTexts() {
    action_->setText(main_.inLanguage(Text::BenchAction));
    if (!window_) return;
    window_->setWindowTitle(main_.inLanguage(Text::BenchTitle));
    meterLabel_->setText(main_.inLanguage(Text::BenchMeter));
    sourceLabel_->setText(main_.inLanguage(Text::BenchSource));
    connectButton_->setText(main_.inLanguage(Text::BenchConnect));
    store_->setText(main_.inLanguage(Text::BenchStoreWhenDone));
    outputButton_->setText(main_.inLanguage(Text::BenchAutoOutput));
    inputButton_->setText(main_.inLanguage(Text::BenchAutoInput));
    stopButton_->setText(main_.inLanguage(Text::BenchStop));
    // After a Connect the lines show the identities or the failures.
    if (!connectTried_)
        for (QLabel* id : {meterId_, sourceId_})
            id->setText(main_.inLanguage(Text::BenchNotConnected));
    for (QLineEdit* profile : {meterProfile_, sourceProfile_})
        profile->setPlaceholderText(main_.inLanguage(Text::BenchProfileHint));
    for (QToolButton* browse : window_->findChildren<QToolButton*>())
        browse->setToolTip(main_.inLanguage(Text::BenchChooseProfile));
}

void BenchStation::saveSettings(std::vector<ProfileEntry>& entries) const {
    if (!window_) return;
    const QLineEdit* const fields[] = {meterEdit_, meterProfile_, sourceEdit_, sourceProfile_};
    for (std::size_t i = 0; i < std::size(fields); ++i)
        entries.push_back({kSettingsSection, kSettingsKeys[i], fields[i]->text().trimmed().toStdString()});
}

bool BenchStation::connectInstruments() {
    if (running()) return false;
    showWindow();
    connectTried_ = true;
    QStringList failures;
    auto open = [&](QLineEdit* address, QLineEdit* profile, const char* role, QLabel* id,
                    std::unique_ptr<station::ScpiInstrument>* out) {
        station::OpenedInstrument opened =
            station::openInstrument(role, address->text().trimmed().toStdString(),
                                    QFile::encodeName(profile->text().trimmed()).toStdString());
        *out = std::move(opened.instrument);
        std::string error = std::string(role) + ": " + opened.error;
        if (*out) {
            if ((*out)->identify()) {
                id->setText(q((*out)->identity()));
                return true;
            }
            error = (*out)->error();
        }
        out->reset();
        id->setText(q(error));
        failures << q(error);
        return false;
    };
    const bool meter = open(meterEdit_, meterProfile_, "meter", meterId_, &meter_);
    const bool source = open(sourceEdit_, sourceProfile_, "source", sourceId_, &source_);
    status_->setText(failures.join(QLatin1Char('\n')));
    return meter && source;
}

void BenchStation::showProgress(int done, int of, const QString& now) {
    // The same line on the page and in this window: the step under way and what the run does now.
    const QString line = main_.inLanguage(Text::BenchStep).arg(std::min(done + 1, of)).arg(of).arg(now);
    const PagePanel& p = mode_ == Mode::Input ? inputPanel_ : outputPanel_;
    for (QProgressBar* bar : {progress_, p.bar}) {
        bar->setRange(0, of);
        bar->setValue(done);
    }
    status_->setText(line);
    p.text->setText(line);
}

bool BenchStation::begin(Mode mode) {
    showWindow();
    if (running()) return false;
    if (!meter_ || !source_ || meter_->failed() || source_->failed()) {
        error_ = QStringLiteral("Connect the reference meter and the signal source first.");
        status_->setText(error_);
        return false;
    }
    mode_ = mode;
    wait_ = Wait::None;
    error_.clear();
    outputButton_->setEnabled(false);
    inputButton_->setEnabled(false);
    stopButton_->setEnabled(true);
    silence_->start();
    outputPanel_.box->setVisible(mode == Mode::Output);
    inputPanel_.box->setVisible(mode == Mode::Input);
    const PagePanel& p = mode == Mode::Input ? inputPanel_ : outputPanel_;
    p.stop->setText(main_.inLanguage(Text::BenchStop));
    p.stop->setEnabled(true);
    p.text->clear();
    p.bar->reset();
    // As the engineer opens the page: the window's page switch runs as on a click.
    QWidget* page = mode == Mode::Output ? main_.TabSheet_OutputCalibration : main_.TabSheet_InputCalibration;
    if (main_.PageControl1->ActivePage() != page || mode == Mode::Input) {
        main_.PageControl1->setActivePage(page);
        main_.PageControl1Change();
    }
    return true;
}

bool BenchStation::startOutput() {
    if (!begin(Mode::Output)) return false;
    // Back to the first step, as the engineer would go.
    for (int guard = 0; main_.OutputCalibrationStep() > 1 && guard < 7; ++guard)
        main_.SpeedButton_OutputCalibrationBack->click();
    output_ = std::make_unique<station::OutputAutoCalibration>(store_->isChecked());
    doOutput(output_->start());
    return true;
}

bool BenchStation::startInput() {
    if (!begin(Mode::Input)) return false;
    input_ = std::make_unique<station::InputAutoCalibration>(store_->isChecked());
    inputStep_ = -1; // the page switch has shown the first step; the next reply hands it over
    return true;
}

void BenchStation::stop(const QString& why) {
    if (running()) end(false, why.isEmpty() ? QStringLiteral("stopped") : why);
}

void BenchStation::unforce() {
    main_.uPWMForce = 0;
    for (TRadioGroup* force : {main_.RadioGroup_GainForce, main_.RadioGroup_DividerForce,
                               main_.RadioGroup_GainForceCH, main_.RadioGroup_MereshatarForce})
        force->setItemIndex(0);
    // A store not yet acknowledged is withdrawn: nothing half-done reaches the instrument's memory.
    main_.SpeedButton_WriteOutputCalibrationToVX->setDown(false);
    main_.SpeedButton_ADCalBeiras->setDown(false);
    if (source_) source_->off();
}

void BenchStation::end(bool ok, const QString& text) {
    if (!ok) unforce();
    // The page keeps the outcome in view: which instrument failed, and how.
    const PagePanel& p = mode_ == Mode::Input ? inputPanel_ : outputPanel_;
    p.stop->setEnabled(false);
    p.text->setText(ok ? text : main_.inLanguage(Text::BenchStopped).arg(text));
    if (ok) p.bar->setValue(p.bar->maximum());
    mode_ = Mode::Idle;
    wait_ = Wait::None;
    silence_->stop();
    error_ = ok ? QString() : text;
    outputButton_->setEnabled(true);
    inputButton_->setEnabled(true);
    stopButton_->setEnabled(false);
    status_->setText(ok ? text : QStringLiteral("Stopped: ") + text);
    emit finished(ok);
}

void BenchStation::doOutput(station::OutputCommand c) {
    using K = station::OutputCommand::Kind;
    for (;;) {
        switch (c.kind) {
        case K::SetPwm:
            main_.uPWMValue = c.pwm;
            main_.ApplyPWMValue();
            break;
        case K::Check: {
            const std::pair<app::CheckPoint, TSpeedButton*> buttons[] = {
                {app::CheckPoint::I12mA, main_.SpeedButton_Test12mA},
                {app::CheckPoint::U6V, main_.SpeedButton_Test6V}};
            for (const auto& [point, button] : buttons)
                if (point == c.point) button->click();
            break;
        }
        case K::Next:
            main_.SpeedButton_OutputCalibrationNext->click();
            c = output_->done();
            continue;
        case K::Store:
            main_.SpeedButton_WriteOutputCalibrationToVX->click();
            wait_ = Wait::Store;
            bound_ = kReplyBound;
            showProgress(6, 7, main_.inLanguage(Text::BenchStoring));
            return;
        case K::Finished:
            end(true, QStringLiteral("Output calibration done: ") + QString::number(output_->readings()) +
                          QStringLiteral(" meter readings"));
            return;
        case K::Failed:
            end(false, q(c.error));
            return;
        }
        pendingOut_ = c;
        wait_ = Wait::Pwm;
        bound_ = kReplyBound;
        showProgress(output_->step() - 1, 7, outputActivity(main_, c, output_->step()));
        return;
    }
}

void BenchStation::doInput(station::InputCommand c) {
    using K = station::InputCommand::Kind;
    for (;;) {
        switch (c.kind) {
        case K::Source:
            if (!station::applySource(*source_, c.source)) return end(false, q(source_->error()));
            c = input_->sourceSet();
            continue;
        case K::Wait:
            channel_ = c.channel;
            wait_ = Wait::Fresh;
            bound_ = kReplyBound;
            showProgress(input_->stepIndex(), 15, main_.inLanguage(Text::BenchWaitingSettled));
            return;
        case K::Next:
            wait_ = Wait::None; // the procedure's next step shows within a tick
            main_.SpeedButton_InputCalibrationNext->click();
            return;
        case K::Store:
            main_.SpeedButton_ADCalBeiras->click();
            wait_ = Wait::Store;
            bound_ = kReplyBound;
            showProgress(14, 15, main_.inLanguage(Text::BenchStoring));
            return;
        case K::Finished:
            return end(true, QStringLiteral("Input calibration done"));
        case K::Failed:
            return end(false, q(c.error));
        }
    }
}

void BenchStation::onReply() {
    if (!running()) return;
    silence_->start();
    const instrument::Reply& r = main_.LastReply;
    if (mode_ == Mode::Output) {
        if (wait_ == Wait::Store) {
            if (!main_.SpeedButton_WriteOutputCalibrationToVX->Down()) return doOutput(output_->done());
        } else if (wait_ == Wait::Pwm && r.PwmValue == main_.uPWMForce) {
            // Every reply from here on answers a request that carried the value: the meter reads it.
            std::string error;
            const station::RunOptions o; // the windowless run's settling rule
            const auto v = station::settledReading(*meter_, pendingOut_.quantity, o.meterSettle,
                                                   o.meterReadings, &error);
            if (!v) return end(false, q(error));
            return doOutput(output_->reading(*v));
        }
    } else {
        const int step = main_.InCal.step;
        if (wait_ != Wait::Store && step != inputStep_ && (step % 10 == 1 || step == 0)) {
            // Changes made here reach the next request, so the next reply is a fresh one.
            inputStep_ = step;
            return doInput(input_->shown(step));
        }
        // The window's own rule for the procedure's readings: the source is set between replies, so a
        // reading fresh for the step's forcing is fresh for the source as well.
        if (const std::optional<app::Reading>& f = main_.Fresh.reading(); wait_ == Wait::Fresh && f)
            return doInput(input_->reading(channel_ == 0 ? f->adFiltered0 : f->adFiltered1));
        if (wait_ == Wait::Store && !main_.SpeedButton_ADCalBeiras->Down()) return doInput(input_->stored());
    }
    if (wait_ != Wait::None && --bound_ <= 0)
        end(false, wait_ == Wait::Pwm ? QStringLiteral("unit: does not drive the PWM value")
                   : wait_ == Wait::Fresh
                       ? QStringLiteral("unit: the replies do not show the forced measuring path")
                       : QStringLiteral("unit: the store was not acknowledged"));
}

} // namespace vx::app::bench
