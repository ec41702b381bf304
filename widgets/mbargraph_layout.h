#pragma once
// Geometry and colours of the bar graph, computed without any toolkit: the widget measures its
// caption, hands sizes and properties in, and paints exactly what comes out.
#include <cstdint>
#include <string>

enum TMBGOrientation { orientationHorizontal, orientationVertical };
enum TMBGMode { modeSigned, modeUnsigned };
enum TMBGTextPosition { tpInside, tpOutside, tpAuto, tpFix, tpCentre };

// Colours are plain RGB held as 0x00BBGGRR.
using TMBGColor = std::uint32_t;

namespace vx {

// Blends c0 (t = 0) towards c1 (t = 1) channel by channel; t is clamped to 0..1 (not-a-number reads 0).
TMBGColor blendColour(TMBGColor c0, TMBGColor c1, double t);
// Each channel replaced by 255 minus itself; bits above the blue channel are dropped.
TMBGColor complementColour(TMBGColor c);

// The value the bar shows: clamped to -1..+1. Not-a-number shows as 0 (an empty bar); the infinities
// clamp like any other out-of-range value.
double barDisplayValue(double value);

// Percentage caption of the unsigned horizontal bar: value x 100 in the pattern of the decimals
// (0..4, anything else clamped), followed by "%". Uses the locale's decimal separator.
std::string barCaption(double value, int decimals);

struct BarRect {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const BarRect&) const = default;
};

struct BarShape {
    BarRect rect;
    TMBGColor fill = 0;
    bool visible = false;
    bool operator==(const BarShape&) const = default;
};

struct BarLabel {
    int left = 0, top = 0;
    TMBGColor colour = 0;
    bool visible = true;
    bool operator==(const BarLabel&) const = default;
};

struct BarGraphProps {
    TMBGOrientation orientation = orientationHorizontal;
    TMBGMode mode = modeUnsigned;
    TMBGColor minusAt0 = 0xFFFFFF, minusAt1 = 0xFF0000, plusAt0 = 0xFFFFFF, plusAt1 = 0x0000FF;
    bool showText = true;
    bool inverseText = false;
    TMBGTextPosition textPosition = tpAuto;
    int textLeft = 0, textTop = 0;
};

// Everything the widget shows, plus the state an update carries over to the next one.
struct BarGraphLayout {
    BarShape negative, positive, zero; // painted in this order, the label last
    BarLabel label;
    double lastShownValue = 0.0;
    bool textOutside = true; // the remembered choice of tpAuto
    bool operator==(const BarGraphLayout&) const = default;
};

struct BarGraphInput {
    int width = 0, height = 0;
    BarGraphProps props;
    double displayValue = 0.0;         // already clamped (barDisplayValue)
    int textWidth = 0, textHeight = 0; // the caption as measured with the control's font
    bool forced = false;
};

// The layout a freshly built control holds before its first update.
BarGraphLayout initialBarGraphLayout(int width, int height);

// One update. Bars move only when forced or when the display value differs from the last shown one;
// the label of the unsigned horizontal bar is placed on every update.
BarGraphLayout layoutBarGraph(const BarGraphLayout& previous, const BarGraphInput& in);

} // namespace vx
