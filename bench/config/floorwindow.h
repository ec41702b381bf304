#pragma once
// The floor for the display's cost: a bare Qt Widgets window, written the plain way (a grid layout,
// QLabel texts, lamps recoloured through their palette, QProgressBar bars), that changes a given
// number of labels, lamps and bars on every cycle.
#include <QWidget>

#include <vector>

class QLabel;
class QProgressBar;

namespace vx::bench {

class FloorWindow : public QWidget {
public:
    FloorWindow(int labels, int lamps, int bars);
    // One cycle's display: every label gets a new number, every lamp the other colour, every bar a new
    // value.
    void cycle();

private:
    std::vector<QLabel*> labels_;
    std::vector<QLabel*> lamps_;
    std::vector<QProgressBar*> bars_;
    unsigned n_ = 0;
};

} // namespace vx::bench
