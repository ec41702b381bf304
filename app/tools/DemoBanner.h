#pragma once
// The banner that says, while the demo instrument is connected, that every value on the window is
// simulated: a screenshot or a call with a customer must never pass it off as a measurement.
#include <QLabel>

namespace vx::app::tools {

class DemoBanner : public QLabel {
public:
    explicit DemoBanner(QWidget* parent);
    // The link opened or closed `port`; shown while it is the demo instrument.
    void follow(bool open, const QString& port);
    void setEnglish(bool english);

private:
    void showText();
    bool english_ = true;
};

} // namespace vx::app::tools
