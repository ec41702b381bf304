// Geometry and colours of the bar graph, checked on the toolkit-free layout.
#include "widgets/mbargraph_layout.h"

#include "common/pictureformat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

using namespace vx;

namespace {

BarGraphInput input(int width, int height, TMBGMode mode, double value,
                    TMBGOrientation o = orientationHorizontal) {
    BarGraphInput in;
    in.width = width;
    in.height = height;
    in.props.mode = mode;
    in.props.orientation = o;
    in.displayValue = barDisplayValue(value);
    in.forced = true;
    return in;
}

BarGraphLayout lay(const BarGraphInput& in) {
    return layoutBarGraph(initialBarGraphLayout(in.width, in.height), in);
}

} // namespace

TEST(BarGraphColour, BlendRoundsHalvesToEvenAndClampsTheFraction) {
    // White towards red (0x0000FF) halfway: green and blue go 255 + round(-127.5) = 127.
    EXPECT_EQ(blendColour(0xFFFFFF, 0x0000FF, 0.5), 0x7F7FFFu);
    // 0 + round(255 * 0.5) = round(127.5) = 128 going up.
    EXPECT_EQ(blendColour(0x000000, 0xFFFFFF, 0.5), 0x808080u);
    EXPECT_EQ(blendColour(0x102030, 0x405060, -3.0), 0x102030u);
    EXPECT_EQ(blendColour(0x102030, 0x405060, 7.0), 0x405060u);
    EXPECT_EQ(blendColour(0x102030, 0x405060, std::nan("")), 0x102030u);
    // Only the three channels take part: bits above blue never leak into the result.
    EXPECT_EQ(blendColour(0xFF000000u | 0x0000FF, 0x0000FF, 0.3), 0x0000FFu);

    EXPECT_EQ(complementColour(0x123456), 0xEDCBA9u);
    EXPECT_EQ(complementColour(0x80000000u), 0xFFFFFFu);
}

TEST(BarGraphLayout, SignedHorizontalWorkedExample) {
    BarGraphLayout l = lay(input(249, 17, modeSigned, -0.5));
    // centre 124, centreRight 127: the left half bar reaches from 124 + round(-61.5) = 62.
    EXPECT_EQ(l.negative.rect, (BarRect{62, 1, 62, 15}));
    EXPECT_TRUE(l.negative.visible);
    EXPECT_FALSE(l.positive.visible);
    EXPECT_EQ(l.negative.fill, blendColour(0xFFFFFF, 0xFF0000, 0.5));
    EXPECT_EQ(l.zero.rect, (BarRect{125, 1, 1, 15}));
    EXPECT_TRUE(l.zero.visible);

    // The positive side starts at centreRight; 121 x 0.5 = 60.5 rounds to 60.
    l = lay(input(249, 17, modeSigned, 0.5));
    EXPECT_EQ(l.positive.rect, (BarRect{127, 1, 60, 15}));
    EXPECT_TRUE(l.positive.visible);
    EXPECT_FALSE(l.negative.visible);
    // Beyond full scale clamps to the whole half.
    EXPECT_EQ(lay(input(249, 17, modeSigned, -7.0)).negative.rect, (BarRect{1, 1, 123, 15}));

    // Width 10: centre = round(4.5) = 4, so the marker stands at x = 5.
    EXPECT_EQ(lay(input(10, 17, modeSigned, 0.0)).zero.rect, (BarRect{5, 1, 1, 15}));
}

TEST(BarGraphLayout, ZeroAndNegativeValuesShowNoBar) {
    // Signed zero leaves only the marker; unsigned zero or below shows nothing at all.
    const std::pair<TMBGMode, double> cases[] = {
        {modeSigned, 0.0}, {modeUnsigned, 0.0}, {modeUnsigned, -0.3}};
    for (auto [mode, v] : cases) {
        BarGraphInput in = input(105, 17, mode, 0.6);
        in.displayValue = v;
        const BarGraphLayout l = layoutBarGraph(lay(input(105, 17, mode, 0.6)), in);
        EXPECT_FALSE(l.positive.visible || l.negative.visible) << v;
        EXPECT_EQ(l.zero.visible, mode == modeSigned);
    }
}

TEST(BarGraphLayout, UnsignedHorizontalFillsTheTrackAndClampsAtFullScale) {
    BarGraphLayout l = lay(input(105, 17, modeUnsigned, 2.0));
    EXPECT_EQ(l.positive.rect, (BarRect{1, 1, 103, 15}));
    EXPECT_EQ(l.positive.fill, 0x0000FFu);
    EXPECT_FALSE(l.zero.visible);
    EXPECT_EQ(barCaption(2.0, 0), "200%");
    // 103 x 0.5 = 51.5 rounds to 52.
    EXPECT_EQ(lay(input(105, 17, modeUnsigned, 0.5)).positive.rect, (BarRect{1, 1, 52, 15}));
}

TEST(BarGraphLayout, VerticalModes) {
    // Height 100: centre = round(49.5) = 50, centreBelow 53, bottom 99.
    BarGraphLayout l = lay(input(17, 100, modeSigned, 0.5, orientationVertical));
    EXPECT_EQ(l.positive.rect, (BarRect{1, 25, 15, 24})); // 1 + round(24.5), round(24.5)
    EXPECT_EQ(l.zero.rect, (BarRect{1, 51, 15, 1}));
    l = lay(input(17, 100, modeSigned, -0.5, orientationVertical));
    EXPECT_EQ(l.negative.rect, (BarRect{1, 53, 15, 23}));
    EXPECT_TRUE(l.negative.visible);
    EXPECT_FALSE(l.positive.visible);

    l = lay(input(17, 100, modeUnsigned, 0.25, orientationVertical));
    EXPECT_EQ(l.positive.rect, (BarRect{1, 75, 15, 24})); // 1 + round(73.5), round(24.5)
    EXPECT_FALSE(l.zero.visible);
    // No label outside the unsigned horizontal mode: it would never be brought up to date there.
    EXPECT_FALSE(l.label.visible);
    EXPECT_FALSE(lay(input(249, 17, modeSigned, 0.5)).label.visible);
}

TEST(BarGraphLabel, PositionsByTextPosition) {
    BarGraphInput in = input(105, 17, modeUnsigned, 0.5); // bar 1..52, end at 53
    in.textWidth = 20;
    in.textHeight = 13;
    in.props.textPosition = tpInside;
    BarGraphLayout l = lay(in);
    EXPECT_EQ(l.label.left, 53 - 20 - 5);
    EXPECT_EQ(l.label.top, 1 + 1); // round((15 - 13) / 2) + 1
    EXPECT_EQ(l.label.colour, 0x000000u);
    EXPECT_TRUE(l.label.visible);

    in.props.textPosition = tpOutside;
    EXPECT_EQ(lay(in).label.left, 58);
    in.props.textPosition = tpCentre;
    EXPECT_EQ(lay(in).label.left, 52 + 1 - 10); // round(103 / 2) = 52 (halves to even)
    in.props.textPosition = tpFix;
    in.props.textLeft = -7;
    in.props.textTop = 40;
    EXPECT_EQ(lay(in).label.left, -7);
    EXPECT_EQ(lay(in).label.top, 40);

    // Inverse text is the complement of the bar's fill.
    in.props.inverseText = true;
    EXPECT_EQ(lay(in).label.colour, complementColour(blendColour(0xFFFFFF, 0x0000FF, 0.5)));

    // Extreme fixed positions and text sizes saturate instead of overflowing.
    in.props.textPosition = tpOutside;
    in.textWidth = std::numeric_limits<int>::max();
    in.textHeight = std::numeric_limits<int>::max();
    l = lay(in);
    EXPECT_EQ(l.label.left, 58);
    in.props.textPosition = tpInside;
    EXPECT_LT(lay(in).label.left, 0);
}

TEST(BarGraphLabel, AutoPlacementHasHysteresis) {
    // Track of 100 pixels, so the bar width equals value x 100; text 30 wide.
    BarGraphInput in = input(102, 17, modeUnsigned, 0.45);
    in.textWidth = 30;
    in.textHeight = 13;
    BarGraphLayout l = lay(in);
    EXPECT_TRUE(l.textOutside); // starts outside; 45 lies between the thresholds
    EXPECT_EQ(l.label.left, 1 + 45 + 5);

    auto step = [&](double v) {
        in.displayValue = v;
        l = layoutBarGraph(l, in);
        return l.textOutside;
    };
    EXPECT_TRUE(step(0.50));  // not wider than 50: stays outside
    EXPECT_FALSE(step(0.51)); // wider than 50: inside
    EXPECT_EQ(l.label.left, 1 + 51 - 30 - 5);
    EXPECT_FALSE(step(0.45)); // between: stays inside
    EXPECT_FALSE(step(0.40)); // not narrower than 40: stays inside
    EXPECT_TRUE(step(0.39));  // narrower than 40: outside
    EXPECT_TRUE(step(0.45));
    // An empty bar counts as width 0 at the zero edge: the label stands just beyond it.
    EXPECT_FALSE(step(0.8));
    EXPECT_TRUE(step(0.0));
    EXPECT_EQ(l.label.left, 1 + 0 + 5);
}

TEST(BarGraphLayout, UnforcedUpdateWithUnchangedValueMovesNoBar) {
    BarGraphInput in = input(105, 17, modeUnsigned, 0.5);
    in.textWidth = 20;
    in.textHeight = 13;
    in.props.textPosition = tpOutside;
    const BarGraphLayout before = lay(in);

    // Same value, new size, not forced: the bar stays; the label is placed again.
    in.width = 205;
    in.forced = false;
    in.textWidth = 40;
    in.props.textPosition = tpInside;
    BarGraphLayout after = layoutBarGraph(before, in);
    EXPECT_EQ(after.positive, before.positive);
    EXPECT_EQ(after.label.left, 53 - 40 - 5);

    // A changed value relays the bar against the new size.
    in.displayValue = 1.0;
    after = layoutBarGraph(before, in);
    EXPECT_EQ(after.positive.rect, (BarRect{1, 1, 203, 15}));
    EXPECT_EQ(after.lastShownValue, 1.0);
}

TEST(BarGraphValue, NonFiniteAndHugeValuesStayDefined) {
    EXPECT_EQ(barDisplayValue(std::nan("")), 0.0);
    EXPECT_EQ(barDisplayValue(std::numeric_limits<double>::infinity()), 1.0);
    EXPECT_EQ(barDisplayValue(-std::numeric_limits<double>::infinity()), -1.0);
    EXPECT_EQ(barDisplayValue(1e300), 1.0);

    EXPECT_EQ(barCaption(std::nan(""), 0), "NAN%");
    EXPECT_EQ(barCaption(std::numeric_limits<double>::infinity(), 2), "INF%");
    EXPECT_EQ(barCaption(-std::numeric_limits<double>::infinity(), 2), "-INF%");
    EXPECT_EQ(barCaption(1e307, 0), "INF%"); // x 100 overflows
    EXPECT_EQ(barCaption(1e300, 0), "1.0E+302%");
    EXPECT_EQ(barCaption(-0.0, 0), "0%");
}

TEST(BarGraphValue, CaptionFollowsDecimalsAndSeparator) {
    EXPECT_EQ(barCaption(0.1234567, 0), "12%");
    EXPECT_EQ(barCaption(0.125, 0), "12%"); // 12.5 halves to even
    EXPECT_EQ(barCaption(0.1234567, 4), "12.3457%");
    EXPECT_EQ(barCaption(0.1234567, 9), "12.3457%");
    EXPECT_EQ(barCaption(1.5, 1), "150.0%");
    setDecimalSeparator(",");
    EXPECT_EQ(barCaption(0.5, 1), "50,0%");
    setDecimalSeparator(".");
}
