// Safeguards on the window that keep wrong values out of an instrument: command buttons that come back
// up when no instrument answers or the port changes (the rule itself is CommandGuard's), both
// calibration procedures restarted on every port event, and the question before a calibration set that
// cannot be right is stored.
#include "app/CalibrationChecks.h"
#include "app/Main.h"

#include "app/texts/Texts.h"
#include "common/pictureformat.h"
#include "widgets/pagecontrol.h"
#include "widgets/speedbutton.h"

#include <QLabel>
#include <QTimer>

namespace app = vx::app;

namespace {
QString q(const std::string& s) {
    return QString::fromStdString(s);
}
QString caption(const QAbstractButton* b) {
    return QStringLiteral("“") + QString(b->text()).remove(QLatin1Char('&')) + QStringLiteral("”");
}
} // namespace

void TForm_Main::connectCommandSafety() {
    Label_CommandNotice = new QLabel(client_);
    Label_CommandNotice->setObjectName(QStringLiteral("Label_CommandNotice"));
    // In the system box's free band between the temperatures and the firmware lines.
    Label_CommandNotice->setGeometry(14, 156, 278, 70);
    Label_CommandNotice->setWordWrap(true);
    Label_CommandNotice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label_CommandNotice->hide();
    Label_InputCalibrationWaiting = new QLabel(TabSheet_InputCalibration);
    Label_InputCalibrationWaiting->setObjectName(QStringLiteral("Label_InputCalibrationWaiting"));
    Label_InputCalibrationWaiting->setGeometry(216, 410, 380, 30);
    Label_InputCalibrationWaiting->hide();

    for (const auto& [bit, button] : commandButtons())
        connect(button, &QAbstractButton::toggled, this,
                [this, b = button](bool down) { commandPressed(b, down); });
    for (TSpeedButton* store : {SpeedButton_WriteOutputCalibrationToVX, SpeedButton_ADCalBeiras})
        connect(store, &QAbstractButton::clicked, this, [this, store] { storeCalibrationClick(store); });
}

void TForm_Main::showCommandNotice(const QString& buttons, const QString& why) {
    Label_CommandNotice->setText(buttons + inLanguage(Text::CameBackUp) + why + QLatin1Char('.'));
    Label_CommandNotice->setToolTip(Label_CommandNotice->text());
    Label_CommandNotice->show();
}

void TForm_Main::commandPressed(TSpeedButton* button, bool down) {
    if (!down) return;
    if (Commands.answering()) {
        Label_CommandNotice->hide();
        return;
    }
    button->setDown(false);
    showCommandNotice(caption(button), inLanguage(Text::NoInstrumentAnswersYet));
}

void TForm_Main::releaseCommands(app::CommandRelease why) {
    QStringList released;
    for (const auto& [bit, button] : commandButtons()) {
        if (why == app::CommandRelease::None || !button->Down()) continue;
        released << caption(button);
        button->setDown(false);
    }
    if (released.isEmpty()) return;
    QString text;
    switch (why) {
    case app::CommandRelease::PortOpened:
        text = inLanguage(Text::PortOpenedPressAgain);
        break;
    case app::CommandRelease::PortClosed:
        text = inLanguage(Text::PortClosedOrLost);
        break;
    case app::CommandRelease::Silent:
        text = inLanguage(Text::InstrumentStoppedAnswering);
        break;
    case app::CommandRelease::NoAnswer:
    case app::CommandRelease::None:
        text = inLanguage(Text::NoInstrumentAnswersYet);
        break;
    }
    showCommandNotice(released.join(QStringLiteral(", ")), text);
}

void TForm_Main::RestartCalibrations() {
    QWidget* const page = PageControl1->ActivePage();
    // The wizard's first step presets the PWM; only the calibration pages force the output with it.
    const std::uint16_t force = uPWMForce;
    PageControl4->setActivePage(TabSheet_OutCalStep[0]);
    ShowOutputCalibrationStep();
    if (page != TabSheet_OutputCalibration && page != TabSheet_InputCalibration) uPWMForce = force;
    if (page == TabSheet_InputCalibration) {
        InputCalibrationStart();
    } else {
        Timer_InCal->stop();
        InCal = {};
        Label_InputCalibrationWaiting->hide();
    }
}

void TForm_Main::storeCalibrationClick(TSpeedButton* button) {
    if (!button->Down()) return;
    // The output page speaks English and the input procedure Hungarian, whatever the language.
    const bool output = button == SpeedButton_WriteOutputCalibrationToVX;
    QStringList problems;
    if (output) {
        for (const app::OutputOrderProblem& p : app::implausibleOutputConstants(outputCalibrationValues()))
            problems << QStringLiteral("%1 = %2 is not below %3 = %4")
                            .arg(QLatin1String(p.lowName), q(vx::formatPicture(p.low, "## ##0")),
                                 QLatin1String(p.highName), q(vx::formatPicture(p.high, "## ##0")));
    } else {
        const auto counts = [](double v) { return q(vx::formatPicture(v, "0 000 000")); };
        for (const app::InputSpanProblem& p : app::implausibleInputConstants(Low, High))
            problems << QStringLiteral("Low%1 = %2, High%1 = %3: a különbség %4, várható %5 ... %6")
                            .arg(p.pair)
                            .arg(counts(p.low), counts(p.high), counts(static_cast<double>(p.span)),
                                 counts(p.band.min), counts(p.band.max));
    }
    if (problems.isEmpty()) return;
    // Nothing goes out while the engineer decides.
    button->setDown(false);
    const QString text =
        output
            ? QStringLiteral("These calibration values cannot be right:\n\n") +
                  problems.join(QLatin1Char('\n')) + QStringLiteral("\n\nWrite them to the device anyway?")
            : QStringLiteral("Ezek a kalibrálási értékek nem lehetnek helyesek:\n\n") +
                  problems.join(QLatin1Char('\n')) + QStringLiteral("\n\nMégis tárolja őket a készülékben?");
    if (askBeforeWriting(output ? QStringLiteral("Write Calibration to Device") : caption(button),
                         output ? QStringLiteral("Write anyway") : QStringLiteral("Mégis tárolja"), text))
        button->setDown(true);
}
