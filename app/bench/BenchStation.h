#pragma once
// The bench instruments in the maker's mode: a window to connect the reference meter and the signal
// source, and the automatic runs of the output and input calibrations on the window's own pages. A run
// does what an engineer would do there (sets the PWM value, presses the check points, Next and the
// store buttons) and at the bench (reads the meter, sets the source), one reply of the poll cycle at a
// time; it never sends on the link itself. Stop, a failed instrument or a silent unit end it with the
// output unforced, the forcing dropped, the store withdrawn and the source off.
#include "station/autocal.h"
#include "station/scpi.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QRect;
class QPushButton;
class QTimer;
class QWidget;
class TForm_Main;

namespace vx {
struct ProfileEntry;
}

namespace vx::app::bench {

class BenchStation : public QObject {
    Q_OBJECT
public:
    explicit BenchStation(TForm_Main& main);
    ~BenchStation() override;

    QWidget* showWindow();
    QWidget* window() const { return window_; }
    // Connects both instruments at the addresses in the window, each with the profile its file holds
    // (the default one where no file is named). False with the reason shown; an instrument that failed,
    // also for its profile, stays unconnected.
    bool connectInstruments();
    bool startOutput();
    bool startInput();
    void stop(const QString& why = QString());
    bool running() const { return mode_ != Mode::Idle; }
    // "" while running or after success; the failure otherwise.
    QString lastError() const { return error_; }
    // The main window is closing. A run under way ends unforced; true while that still has to reach the
    // unit: `proceed` then runs (once, from the event loop) after a reply to a request that carried it,
    // or after a bound.
    bool closeUnforced(std::function<void()> proceed);
    // The connected instruments, for the record window's checks; null when not connected.
    station::ScpiInstrument* meter() const { return connected(meter_) ? meter_.get() : nullptr; }
    station::ScpiInstrument* source() const { return connected(source_) ? source_.get() : nullptr; }
    // The addresses and profile files, for the program's settings file; nothing when the window was
    // never opened (the file keeps what it has).
    void saveSettings(std::vector<ProfileEntry>& entries) const;

signals:
    void finished(bool ok);

private:
    enum class Mode { Idle, Output, Input };
    enum class Wait { None, Pwm, Fresh, Store };
    void buildWindow();
    void applyTexts(); // the window's labels and the menu's entry in the window's language
    void onReply();
    bool begin(Mode mode);
    void end(bool ok, const QString& text);
    void doOutput(station::OutputCommand c);
    void doInput(station::InputCommand c);
    bool setSource(const station::SourceSetting& s);
    std::optional<double> settledMeter(station::Quantity q);
    void unforce();
    // Ends a run under way for `why`; true while the unforced state still has to reach the unit, then
    // `proceed` runs as closeUnforced's does.
    bool endUnforced(const QString& why, std::function<void()> proceed);
    void showProgress(int done, int of, const QString& text);
    static bool connected(const std::unique_ptr<station::ScpiInstrument>& i) { return i && !i->failed(); }

    // Progress and Stop on a calibration page, in free space below its own controls.
    struct PagePanel {
        QWidget* box = nullptr;
        QLabel* text = nullptr;
        QProgressBar* bar = nullptr;
        QPushButton* stop = nullptr;
    };
    PagePanel buildPagePanel(QWidget* parent, const QRect& where, const char* name);
    PagePanel outputPanel_, inputPanel_;

    TForm_Main& main_;
    QAction* action_ = nullptr;
    QPointer<QWidget> window_;
    QLineEdit *meterEdit_ = nullptr, *sourceEdit_ = nullptr;
    QLineEdit *meterProfile_ = nullptr, *sourceProfile_ = nullptr;
    QLabel *meterLabel_ = nullptr, *sourceLabel_ = nullptr;
    QPushButton* connectButton_ = nullptr;
    bool connectTried_ = false;
    QLabel *meterId_ = nullptr, *sourceId_ = nullptr, *status_ = nullptr;
    QCheckBox* store_ = nullptr;
    QPushButton *outputButton_ = nullptr, *inputButton_ = nullptr, *stopButton_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTimer* silence_ = nullptr;

    std::unique_ptr<station::ScpiInstrument> meter_, source_;
    Mode mode_ = Mode::Idle;
    Wait wait_ = Wait::None;
    int bound_ = 0; // replies left for the unit to show the PWM value or acknowledge the store
    station::OutputCommand pendingOut_;
    std::unique_ptr<station::OutputAutoCalibration> output_;
    std::unique_ptr<station::InputAutoCalibration> input_;
    int inputStep_ = -1; // the procedure's state the machine last saw
    int channel_ = 1;
    std::uint8_t storeBit_ = 0;
    QString error_;
};

} // namespace vx::app::bench
