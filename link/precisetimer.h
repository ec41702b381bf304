#pragma once
// A one-shot timer for the link's pause and time-out, delivered on the GUI thread like any Qt timer
// but armed on the kernel's monotonic clock to the nanosecond: Qt's own timers wait in whole
// milliseconds, which stretched every 50 ms pause by half a millisecond on average.
#include <QObject>

#include <chrono>

class QSocketNotifier;
class QTimer;

class TPreciseTimer : public QObject {
    Q_OBJECT
public:
    explicit TPreciseTimer(QObject* parent = nullptr);
    ~TPreciseTimer() override;

    using Clock = std::chrono::steady_clock; // the kernel's monotonic clock, as the timer's

    void start(int ms);
    // Fires at `deadline`; one already past fires as soon as control is back in the event loop.
    void startAt(Clock::time_point deadline);
    void stop();
    bool isActive() const { return active_; }
    int interval() const { return interval_; }
    // When the last start made it due.
    Clock::time_point deadline() const { return deadline_; }

signals:
    void timeout();

private:
    void expired();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* fallback_ = nullptr;
    bool active_ = false;
    int interval_ = 0;
    Clock::time_point deadline_{};
};
