#pragma once
// A one-shot timer for the link's pause and time-out, delivered on the GUI thread like any Qt timer
// but armed on the kernel's monotonic clock to the nanosecond: Qt's own timers wait in whole
// milliseconds, which stretched every 50 ms pause by half a millisecond on average.
#include <QObject>

class QSocketNotifier;
class QTimer;

class TPreciseTimer : public QObject {
    Q_OBJECT
public:
    explicit TPreciseTimer(QObject* parent = nullptr);
    ~TPreciseTimer() override;

    void start(int ms);
    void stop();
    bool isActive() const { return active_; }
    int interval() const { return interval_; }

signals:
    void timeout();

private:
    void expired();

    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* fallback_ = nullptr;
    bool active_ = false;
    int interval_ = 0;
};
