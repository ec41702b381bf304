#pragma once
// Waiting for a lost network port: no device node comes back to announce it, so the server is asked,
// with a connect that is only looked at (the window never waits on it), at growing intervals. When it
// takes connections again the holder is told, and reopens the port as for a returning device.
#include "link/netchannel.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

class QTimer;

class TNetReconnect : public QObject {
public:
    // waitingFor: the name the holder still waits for (empty when it no longer waits); back: the server
    // at that name takes connections again.
    TNetReconnect(std::function<QString()> waitingFor, std::function<void()> back, QObject* parent);
    // Starts waiting for `name`; nothing happens for a name that is no network address.
    void begin(const QString& name);
    bool active() const;

private:
    void tick();

    std::function<QString()> waitingFor_;
    std::function<void()> back_;
    QTimer* timer_;
    QString name_;
    mb::port::NetAddress address_;
    mb::port::ConnectProbe probe_;
    bool pending_ = false;
    std::chrono::steady_clock::time_point pendingSince_{};
    unsigned attempt_ = 0;
};
