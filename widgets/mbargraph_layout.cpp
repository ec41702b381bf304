#include "widgets/mbargraph_layout.h"

#include "common/pictureformat.h"
#include "common/rounding.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vx {

namespace {

int channel(TMBGColor c, int shift) {
    return static_cast<int>((c >> shift) & 0xFFu);
}

// Label positions may come from arbitrary text positions and sizes; keep the sums inside int.
int saturate(long long v) {
    return static_cast<int>(
        std::clamp<long long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

void layoutSignedHorizontal(BarGraphLayout& out, const BarGraphInput& in, bool relay) {
    const BarGraphProps& p = in.props;
    const double v = in.displayValue;
    const int left = 1;
    const int centre = roundToInt((in.width - 2 + left) / 2.0);
    const int centreRight = centre + 3;
    const int right = in.width - 1;
    out.zero.visible = true;
    if (relay) {
        if (v < 0) {
            const int barLeft = centre + roundToInt((centre - left) * v);
            out.negative.rect = {barLeft, 1, centre - barLeft, in.height - 2};
            out.negative.fill = blendColour(p.minusAt0, p.minusAt1, -v);
            out.negative.visible = true;
            out.positive.visible = false;
        } else if (v > 0) {
            out.positive.rect = {centreRight, 1, roundToInt((right - centreRight) * v), in.height - 2};
            out.positive.fill = blendColour(p.plusAt0, p.plusAt1, v);
            out.positive.visible = true;
            out.negative.visible = false;
        }
        out.lastShownValue = v;
    }
    if (v == 0) out.negative.visible = out.positive.visible = false;
    out.zero.rect = {centre + 1, 1, centreRight - centre - 2, in.height - 2};
}

void layoutSignedVertical(BarGraphLayout& out, const BarGraphInput& in, bool relay) {
    const BarGraphProps& p = in.props;
    const double v = in.displayValue;
    const int top = 1;
    const int centre = roundToInt((in.height - 2 + top) / 2.0);
    const int centreBelow = centre + 3;
    const int bottom = in.height - 1;
    out.zero.visible = true;
    if (relay) {
        if (v < 0) {
            out.negative.rect = {1, centreBelow, in.width - 2, roundToInt((centreBelow - bottom) * v)};
            out.negative.fill = blendColour(p.minusAt0, p.minusAt1, -v);
            out.negative.visible = true;
            out.positive.visible = false;
        } else if (v > 0) {
            out.positive.rect = {1, top + roundToInt((1 - v) * (centre - top)), in.width - 2,
                                 roundToInt((centre - top) * v)};
            out.positive.fill = blendColour(p.plusAt0, p.plusAt1, v);
            out.positive.visible = true;
            out.negative.visible = false;
        }
        out.lastShownValue = v;
    }
    if (v == 0) out.negative.visible = out.positive.visible = false;
    out.zero.rect = {1, centre + 1, in.width - 2, centreBelow - centre - 2};
}

void placeLabel(BarGraphLayout& out, const BarGraphInput& in, int left, int right) {
    const BarGraphProps& p = in.props;
    const BarRect& bar = out.positive.rect;
    const long long barEnd = static_cast<long long>(bar.left) + bar.width;
    const long long w = in.textWidth;
    const long long inside = barEnd - w - 5;
    const long long outside = barEnd + 5;
    long long x = 0;
    switch (p.textPosition) {
    case tpInside:
        x = inside;
        break;
    case tpOutside:
        x = outside;
        break;
    case tpAuto:
        // Two thresholds, so a bar hovering around one of them does not make the text flicker.
        if (bar.width < w + 10) out.textOutside = true;
        if (bar.width > w + 20) out.textOutside = false;
        x = out.textOutside ? outside : inside;
        break;
    case tpFix:
        x = p.textLeft;
        break;
    case tpCentre:
        x = static_cast<long long>(roundToInt((static_cast<double>(right) - left) / 2)) + bar.left -
            roundToInt(static_cast<double>(w) / 2);
        break;
    }
    out.label.left = saturate(x);
    out.label.top = p.textPosition == tpFix
                        ? p.textTop
                        : saturate(static_cast<long long>(
                                       roundToInt((static_cast<double>(bar.height) - in.textHeight) / 2)) +
                                   bar.top);
    out.label.colour = p.inverseText ? complementColour(out.positive.fill) : 0x000000;
}

void layoutUnsignedHorizontal(BarGraphLayout& out, const BarGraphInput& in, bool relay) {
    const BarGraphProps& p = in.props;
    const double v = in.displayValue;
    const int left = 1;
    const int right = in.width - 1;
    out.zero.visible = false;
    if (relay) {
        if (v <= 0) {
            // An empty bar at the zero edge, so the label sits where the bar starts rather than
            // beside the end of a bar that is no longer shown.
            out.positive.rect = {left, 1, 0, in.height - 2};
            out.positive.fill = blendColour(p.plusAt0, p.plusAt1, 0);
            out.negative.visible = out.positive.visible = false;
        } else {
            out.positive.rect = {left, 1, roundToInt((right - left) * v), in.height - 2};
            out.positive.fill = blendColour(p.plusAt0, p.plusAt1, v);
            out.positive.visible = true;
            out.negative.visible = false;
        }
        out.lastShownValue = v;
    }
    if (p.showText) placeLabel(out, in, left, right);
}

void layoutUnsignedVertical(BarGraphLayout& out, const BarGraphInput& in, bool relay) {
    const BarGraphProps& p = in.props;
    const double v = in.displayValue;
    const int top = 1;
    const int bottom = in.height - 1;
    out.zero.visible = false;
    if (!relay) return;
    if (v <= 0) {
        out.positive.rect = {1, bottom, in.width - 2, 0};
        out.positive.fill = blendColour(p.plusAt0, p.plusAt1, 0);
        out.negative.visible = out.positive.visible = false;
    } else {
        out.positive.rect = {1, top + roundToInt((1 - v) * (bottom - top)), in.width - 2,
                             roundToInt((bottom - top) * v)};
        out.positive.fill = blendColour(p.plusAt0, p.plusAt1, v);
        out.positive.visible = true;
        out.negative.visible = false;
    }
    out.lastShownValue = v;
}

} // namespace

TMBGColor blendColour(TMBGColor c0, TMBGColor c1, double t) {
    if (!(t > 0)) t = 0; // also catches not-a-number
    if (t > 1) t = 1;
    TMBGColor out = 0;
    for (int shift : {0, 8, 16}) {
        const int a = channel(c0, shift), b = channel(c1, shift);
        const int c = (a + roundToInt((b - a) * t)) & 0xFF;
        out |= static_cast<TMBGColor>(c) << shift;
    }
    return out;
}

TMBGColor complementColour(TMBGColor c) {
    return ~c & 0xFFFFFFu;
}

double barDisplayValue(double value) {
    if (std::isnan(value)) return 0.0;
    return std::clamp(value, -1.0, 1.0);
}

std::string barCaption(double value, int decimals) {
    static constexpr const char* patterns[] = {"0", "0.0", "0.00", "0.000", "0.0000"};
    std::string s = formatPicture(value * 100, patterns[std::clamp(decimals, 0, 4)]);
    s += '%';
    return s;
}

BarGraphLayout initialBarGraphLayout(int width, int height) {
    // A freshly built control holds a full negative bar, a full positive bar (both hidden) and the
    // zero marker of the signed horizontal layout, with the label "0%" at the origin.
    BarGraphLayout l;
    const int centre = roundToInt((width - 1) / 2.0);
    const BarGraphProps p;
    l.negative = {{1, 1, centre - 1, height - 2}, p.minusAt1, false};
    l.positive = {{centre + 3, 1, width - 1 - (centre + 3), height - 2}, p.plusAt1, false};
    l.zero = {{centre + 1, 1, 1, height - 2}, 0xFFFFFF, true};
    return l;
}

BarGraphLayout layoutBarGraph(const BarGraphLayout& previous, const BarGraphInput& in) {
    BarGraphLayout out = previous;
    const bool relay = in.forced || in.displayValue != previous.lastShownValue;
    const bool horizontal = in.props.orientation == orientationHorizontal;
    if (in.props.mode == modeSigned) {
        if (horizontal)
            layoutSignedHorizontal(out, in, relay);
        else
            layoutSignedVertical(out, in, relay);
    } else {
        if (horizontal)
            layoutUnsignedHorizontal(out, in, relay);
        else
            layoutUnsignedVertical(out, in, relay);
    }
    // Only the unsigned horizontal bar keeps its label up to date; elsewhere a stale "0%" would
    // misinform, so it is not shown there.
    out.label.visible = in.props.showText && in.props.mode == modeUnsigned && horizontal;
    return out;
}

} // namespace vx
