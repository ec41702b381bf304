// Placeholder so the window can be built before the bar graph lands; replaced by the real control.
#include "widgets/mbargraph.h"

namespace {
struct State {
    TMBGOrientation orientation = orientationHorizontal;
    double value = 0.5;
    TMBGColor minus0 = 0xFFFFFF, minus1 = 0xFF0000, plus0 = 0xFFFFFF, plus1 = 0x0000FF;
    TMBGMode mode = modeUnsigned;
    bool showText = true, inverseText = false;
    TMBGTextPosition textPosition = tpAuto;
    int textLeft = 0, textTop = 0, decimals = 0;
};
State& st(const TMBarGraph* g) {
    static State s; // placeholder only
    (void)g;
    return s;
}
} // namespace

TMBarGraph::TMBarGraph(QWidget* parent) : QFrame(parent) { resize(105, 17); }
TMBGOrientation TMBarGraph::MBGOrientation() const { return st(this).orientation; }
void TMBarGraph::setMBGOrientation(TMBGOrientation v) { st(this).orientation = v; }
double TMBarGraph::MBGValue() const { return st(this).value; }
void TMBarGraph::setMBGValue(double v) { st(this).value = v; }
TMBGColor TMBarGraph::MBGMinusColorAt0() const { return st(this).minus0; }
void TMBarGraph::setMBGMinusColorAt0(TMBGColor c) { st(this).minus0 = c; }
TMBGColor TMBarGraph::MBGMinusColorAt1() const { return st(this).minus1; }
void TMBarGraph::setMBGMinusColorAt1(TMBGColor c) { st(this).minus1 = c; }
TMBGColor TMBarGraph::MBGPlusColorAt0() const { return st(this).plus0; }
void TMBarGraph::setMBGPlusColorAt0(TMBGColor c) { st(this).plus0 = c; }
TMBGColor TMBarGraph::MBGPlusColorAt1() const { return st(this).plus1; }
void TMBarGraph::setMBGPlusColorAt1(TMBGColor c) { st(this).plus1 = c; }
TMBGMode TMBarGraph::MBGMode() const { return st(this).mode; }
void TMBarGraph::setMBGMode(TMBGMode v) { st(this).mode = v; }
bool TMBarGraph::MBGShowText() const { return st(this).showText; }
void TMBarGraph::setMBGShowText(bool v) { st(this).showText = v; }
bool TMBarGraph::MBGInverseText() const { return st(this).inverseText; }
void TMBarGraph::setMBGInverseText(bool v) { st(this).inverseText = v; }
TMBGTextPosition TMBarGraph::MBGTextPosition() const { return st(this).textPosition; }
void TMBarGraph::setMBGTextPosition(TMBGTextPosition v) { st(this).textPosition = v; }
int TMBarGraph::MBGTextLeft() const { return st(this).textLeft; }
void TMBarGraph::setMBGTextLeft(int v) { st(this).textLeft = v; }
int TMBarGraph::MBGTextTop() const { return st(this).textTop; }
void TMBarGraph::setMBGTextTop(int v) { st(this).textTop = v; }
int TMBarGraph::MBGDecimals() const { return st(this).decimals; }
void TMBarGraph::setMBGDecimals(int v) { st(this).decimals = v; }
