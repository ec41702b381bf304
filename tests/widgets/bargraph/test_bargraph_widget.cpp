// The bar graph control: property rules, update triggers and what ends up on screen.
#include "widgets/mbargraph.h"

#include <QApplication>
#include <QGridLayout>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

TEST(BarGraphWidget, ConstructionValuesAndClamps) {
    TMBarGraph g;
    EXPECT_EQ(g.size(), QSize(105, 17));
    EXPECT_EQ(g.minimumSize(), QSize(30, 5));
    EXPECT_EQ(g.MBGValue(), 0.5);
    EXPECT_EQ(g.MBGMode(), modeUnsigned);
    EXPECT_EQ(g.MBGTextPosition(), tpAuto);
    EXPECT_EQ(g.labelText(), "0%");
    EXPECT_EQ(g.currentLayout().lastShownValue, 0.0);

    g.setMBGDecimals(9);
    EXPECT_EQ(g.MBGDecimals(), 4);
    g.setMBGDecimals(-2);
    EXPECT_EQ(g.MBGDecimals(), 0);
    g.setMBGOrientation(orientationVertical);
    EXPECT_EQ(g.minimumSize(), QSize(6, 30));
    g.setMBGOrientation(orientationHorizontal);
    EXPECT_EQ(g.minimumSize(), QSize(30, 6));
}

TEST(BarGraphWidget, ValueIsStoredRawAndShownClamped) {
    TMBarGraph g;
    g.setMBGValue(2.0); // the first unforced update lays out: nothing was shown yet
    EXPECT_EQ(g.MBGValue(), 2.0);
    EXPECT_EQ(g.labelText(), "200%");
    EXPECT_EQ(g.currentLayout().positive.rect, (vx::BarRect{1, 1, 103, 15}));

    g.setMBGValue(std::nan(""));
    EXPECT_TRUE(std::isnan(g.MBGValue()));
    EXPECT_EQ(g.labelText(), "NAN%");
    EXPECT_FALSE(g.currentLayout().positive.visible);

    g.setMBGMode(modeSigned);
    g.setMBGValue(-std::numeric_limits<double>::infinity());
    EXPECT_EQ(g.currentLayout().negative.rect, (vx::BarRect{1, 1, 51, 15}));
    EXPECT_FALSE(g.currentLayout().label.visible);
}

TEST(BarGraphWidget, UnforcedUpdateKeepsBarsButRefreshesTheLabel) {
    TMBarGraph g; // hidden, so a resize relays nothing by itself
    g.setMBGTextPosition(tpOutside);
    g.setMBGValue(1.0);
    const vx::BarShape bar = g.currentLayout().positive;
    const int labelLeft = g.currentLayout().label.left;

    g.resize(205, 17);
    g.setMBGValue(1.0); // unchanged: the bar keeps its old length
    EXPECT_EQ(g.currentLayout().positive, bar);
    g.setMBGValue(1.25); // still full scale: the bar stays, the text changes
    EXPECT_EQ(g.currentLayout().positive, bar);
    EXPECT_EQ(g.labelText(), "125%");
    EXPECT_EQ(g.currentLayout().label.left, labelLeft);

    g.setMBGPlusColorAt1(0x00FF00); // any property write relays
    EXPECT_EQ(g.currentLayout().positive.rect, (vx::BarRect{1, 1, 203, 15}));
    EXPECT_EQ(g.currentLayout().positive.fill, 0x00FF00u);

    // Shown, a resize relays on its own.
    g.show();
    g.resize(105, 17);
    EXPECT_EQ(g.currentLayout().positive.rect, (vx::BarRect{1, 1, 103, 15}));
}

namespace {
QRgb pixel(const QImage& img, int x, int y) {
    return img.pixel(x, y) & 0xFFFFFF;
}
} // namespace

TEST(BarGraphWidget, RendersBarsOutlineAndBackground) {
    TMBarGraph g;
    g.setMBGShowText(false);
    g.setMBGValue(0.5); // bar x = 1..52, fill halfway from white to red
    const QImage img = g.grab().toImage();
    ASSERT_EQ(img.size(), QSize(105, 17));
    const QRgb face = g.palette().color(QPalette::Button).rgb() & 0xFFFFFF;
    EXPECT_EQ(pixel(img, 20, 8), qRgb(255, 127, 127) & 0xFFFFFF);
    EXPECT_EQ(pixel(img, 1, 8), 0u);  // outline
    EXPECT_EQ(pixel(img, 52, 8), 0u); // outline at the bar end
    EXPECT_EQ(pixel(img, 53, 8), face);
    EXPECT_EQ(pixel(img, 90, 8), face);

    g.setMBGMode(modeSigned);
    g.setMBGValue(-1.0); // centre 52: negative bar 1..51, marker at 53
    const QImage signedImg = g.grab().toImage();
    EXPECT_EQ(pixel(signedImg, 30, 8), qRgb(0, 0, 255) & 0xFFFFFF);
    EXPECT_EQ(pixel(signedImg, 53, 8), 0u);
    EXPECT_EQ(pixel(signedImg, 80, 8), face);

    // The label is drawn in black beside the bar.
    g.setMBGMode(modeUnsigned);
    g.setMBGShowText(true);
    g.setMBGTextPosition(tpOutside);
    g.setMBGValue(0.2);
    const QImage textImg = g.grab().toImage();
    int dark = 0;
    for (int x = 27; x < 60; ++x)
        for (int y = 2; y < 15; ++y)
            if (qGray(textImg.pixel(x, y)) < 100) ++dark;
    EXPECT_GT(dark, 5);
}

// A value change repaints only when pixels move, and then only inside the frame unless the label
// reaches onto it: after any run of values the screen holds what a full painting of the end state shows.
TEST(BarGraphWidget, PartialRepaintsLeaveTheScreenAsAFullPaintingWould) {
    struct Case {
        const char* name;
        std::function<void(TMBarGraph&)> setUp;
        std::vector<double> values;
    };
    const std::vector<Case> cases = {
        {"text follows the bar", [](TMBarGraph&) {}, {0.05, 0.9, 0.31, 0.3101, 1.5, 0.0, 0.6, 0.0}},
        {"text beyond the end", [](TMBarGraph& g) { g.setMBGTextPosition(tpOutside); }, {0.97, 0.2, 0.93}},
        {"text fixed over the frame",
         [](TMBarGraph& g) {
             g.setMBGTextPosition(tpFix);
             g.setMBGTextLeft(92);
             g.setMBGTextTop(-4);
         },
         {0.1, 0.55, 1.0, 0.1}},
        {"signed",
         [](TMBarGraph& g) {
             g.setMBGMode(modeSigned);
             g.setMBGShowText(false);
         },
         {-0.5, 0.4, 0.0, -1.0, 0.401, 0.0}},
        {"vertical",
         [](TMBarGraph& g) {
             g.setMBGOrientation(orientationVertical);
             g.resize(17, 80);
         },
         {0.2, 0.8, 0.2, 0.0}},
    };
    for (const Case& c : cases) {
        QWidget top;
        top.resize(150, 110);
        auto* g = new TMBarGraph(&top);
        g->move(20, 10);
        c.setUp(*g);
        top.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&top)) << c.name;
        for (double v : c.values) {
            g->setMBGValue(v);
            QCoreApplication::processEvents(); // each change painted before the next
            const QImage screen =
                top.screen()->grabWindow(top.winId(), g->x(), g->y(), g->width(), g->height()).toImage();
            const QImage full = g->grab().toImage();
            EXPECT_EQ(screen.convertToFormat(full.format()), full) << c.name << " at " << v;
        }
    }
}

// Writes a gallery of the modes to the file named by VX_BARGRAPH_GALLERY, for looking at.
TEST(BarGraphWidget, Gallery) {
    const QByteArray path = qgetenv("VX_BARGRAPH_GALLERY");
    if (path.isEmpty()) GTEST_SKIP() << "set VX_BARGRAPH_GALLERY to write the gallery";
    QWidget w;
    auto* grid = new QGridLayout(&w);
    int row = 0;
    auto add = [&](const QString& title, auto setup, int width = 160, int height = 17) {
        grid->addWidget(new QLabel(title), row, 0);
        auto* g = new TMBarGraph;
        g->setFixedSize(width, height);
        setup(*g);
        grid->addWidget(g, row++, 1);
    };
    for (double v : {0.0, 0.05, 0.3, 0.75, 1.5})
        add(QString("unsigned %1").arg(v), [v](TMBarGraph& g) { g.setMBGValue(v); });
    add("tpInside 0.6, 1 dec", [](TMBarGraph& g) {
        g.setMBGTextPosition(tpInside);
        g.setMBGDecimals(1);
        g.setMBGValue(0.6);
    });
    add("tpCentre inverse 0.9", [](TMBarGraph& g) {
        g.setMBGTextPosition(tpCentre);
        g.setMBGInverseText(true);
        g.setMBGValue(0.9);
    });
    add("unsigned NaN", [](TMBarGraph& g) { g.setMBGValue(std::nan("")); });
    for (double v : {-1.0, -0.5, 0.0, 0.3, 1.0})
        add(QString("signed %1").arg(v), [v](TMBarGraph& g) {
            g.setMBGMode(modeSigned);
            g.setMBGShowText(false);
            g.setMBGValue(v);
        });
    auto* vbox = new QWidget;
    auto* hl = new QHBoxLayout(vbox);
    for (double v : {-0.8, 0.0, 0.4, 1.0}) {
        auto* g = new TMBarGraph;
        g->setMBGOrientation(orientationVertical);
        g->setMBGMode(modeSigned);
        g->setFixedSize(17, 80);
        g->setMBGValue(v);
        hl->addWidget(g);
    }
    for (double v : {0.25, 0.9}) {
        auto* g = new TMBarGraph;
        g->setMBGOrientation(orientationVertical);
        g->setFixedSize(17, 80);
        g->setMBGValue(v);
        hl->addWidget(g);
    }
    grid->addWidget(new QLabel("vertical"), row, 0);
    grid->addWidget(vbox, row, 1);
    // Not shown: the offscreen platform warns about size hints of top-level windows.
    grid->activate();
    w.resize(w.sizeHint());
    ASSERT_TRUE(w.grab().save(QString::fromLocal8Bit(path)));
}
