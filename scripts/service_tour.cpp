// Walks the maker's service pages against a live vx2207-sim and grabs each state to a PNG file:
// the settings editor with differing fields and the write question, the seven output calibration steps, the
// output check, the input calibration at a measuring step and at its closing step, and the test page forced.
// Used by scripts/screenshots.sh.
//   vx_service_tour SIMULATOR OUTPUT_FOLDER [english|magyar]
#include "app/Main.h"
#include "link/mb.h"
#include "scripts/tour.h"
#include "sim/harness.h"
#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

void settle(TForm_Main& w, int replies = 3) {
    for (int i = 0; i < replies; ++i)
        nextReply(w);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: vx_service_tour SIMULATOR OUTPUT_FOLDER [english|magyar]\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QByteArray language = argc > 3 ? QByteArray(argv[3]) : QByteArray("english");
    QDir().mkpath(out);
    vx::app::prepareApplication(); // the look and numbers of vx2207-config

    vx::sim::SimProcess sim(argv[1], {"--signal", "0.1234", "--noise", "20", "--exit-with-parent"});
    if (!sim.started()) {
        std::fprintf(stderr, "vx_service_tour: the simulator did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString settings = languageSettings(dir, language);
    if (settings.isEmpty()) return 1;

    TForm_Main::Options options;
    options.settingsPath = settings;
    options.arguments = QStringList{QStringLiteral("/QARNEL")};
    TForm_Main w(std::move(options));
    w.show();
    w.FormActivate();
    if (!openSimulator(w, sim.devicePath())) {
        std::fprintf(stderr, "vx_service_tour: no reply from the simulator\n");
        return 1;
    }
    int status = 0;
    const auto shot = [&](const QString& name) {
        const QString file = out + QLatin1Char('/') + name + QLatin1Char('-') +
                             QString::fromLatin1(language) + QStringLiteral(".png");
        if (!w.grab().save(file)) status = 1;
        std::printf("%s\n", qPrintable(file));
    };

    // The settings editor with two fields that differ from the instrument, one of them unusable, and the
    // question a write then asks.
    w.Edit_InputHigh->setText(QStringLiteral("12"));
    w.Edit_OutputHigh->setText(w.Edit_OutputLow->text());
    settle(w, 2);
    shot(QStringLiteral("settings-marked"));
    w.ConfirmWrite = [&](const QString& text) {
        const std::unique_ptr<QMessageBox> box = w.WriteQuestion(text);
        box->show();
        const QString file =
            out + QStringLiteral("/write-confirm-") + QString::fromLatin1(language) + QStringLiteral(".png");
        if (!box->grab().save(file)) status = 1;
        std::printf("%s\n", qPrintable(file));
        return false;
    };
    w.SpeedButton_WriteSettings->click();

    // Output calibration: a value adjusted on every adjusting step, a check point chosen on the checks.
    w.PageControl1->setActivePage(w.TabSheet_OutputCalibration);
    const int adjust[7] = {8, 1, -1, 8, 1, -1, -1}; // index into the step buttons, -1: none
    for (int step = 1; step <= 7; ++step) {
        if (adjust[step - 1] >= 0) {
            w.PWMStepButtons[static_cast<std::size_t>(adjust[step - 1])]->click();
            w.PWMStepButtons[static_cast<std::size_t>(adjust[step - 1]) + 1]->click();
        }
        settle(w);
        shot(QStringLiteral("outcal-step%1").arg(step));
        if (step < 7) w.SpeedButton_OutputCalibrationNext->click();
    }

    w.PageControl1->setActivePage(w.TabSheet_KimenetEllenorzes);
    w.TrackBar_OutCheck->setValue(13);
    settle(w);
    shot(QStringLiteral("output-check"));

    // Input calibration: three readings taken, then through to the closing step.
    w.PageControl1->setActivePage(w.TabSheet_InputCalibration);
    for (int i = 0; i < 3; ++i) {
        settle(w, 2);
        w.SpeedButton_InputCalibrationNext->click();
    }
    settle(w, 4);
    shot(QStringLiteral("incal-measuring"));
    while (w.InCal.step != 0) {
        w.SpeedButton_InputCalibrationNext->click();
        nextReply(w);
    }
    settle(w);
    shot(QStringLiteral("incal-closing"));

    w.PageControl1->setActivePage(w.TabSheet_Test);
    w.RadioGroup_GainForceCH->setItemIndex(1);
    w.RadioGroup_GainForce->setItemIndex(2);
    w.RadioGroup_MereshatarForce->setItemIndex(4);
    settle(w, 6);
    shot(QStringLiteral("test-forced"));

    w.MB1->MBClosePort();
    return status;
}
