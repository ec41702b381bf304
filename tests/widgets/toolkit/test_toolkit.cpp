#include "widgets/pagecontrol.h"
#include "widgets/radiogroup.h"
#include "widgets/speedbutton.h"

#include <QLabel>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TSpeedButton* make(QWidget* parent, int group, bool allowAllUp = false) {
    auto* b = new TSpeedButton(parent);
    b->setGroupIndex(group);
    b->setAllowAllUp(allowAllUp);
    b->resize(60, 25);
    return b;
}

TEST(SpeedButton, GroupsActAmongSiblingsOnly) {
    QWidget top, other;
    auto* a = make(&top, 30);
    auto* b = make(&top, 30);
    auto* c = make(&top, 31);
    auto* far = make(&other, 30); // same index, other parent: not in the group
    top.show();
    far->setDown(true);
    c->setDown(true);
    a->setDown(true);
    QSignalSpy clicks(b, &TSpeedButton::clicked);
    QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_TRUE(b->Down());
    EXPECT_FALSE(a->Down());
    EXPECT_TRUE(c->Down());
    EXPECT_TRUE(far->Down());

    // Without all-up the down button stays down, by click or by code.
    QTest::mouseClick(b, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 2);
    EXPECT_TRUE(b->Down());
    b->setDown(false);
    EXPECT_TRUE(b->Down());
    // Setting from code releases the sibling but raises no click.
    a->setDown(true);
    EXPECT_FALSE(b->Down());
    EXPECT_EQ(clicks.count(), 2);
}

TEST(SpeedButton, AllowAllUpAndPlainButtons) {
    QWidget top;
    auto* read = make(&top, 101, true);
    auto* write = make(&top, 101, true);
    auto* plain = make(&top, 0);
    top.show();
    read->setDown(true);
    QTest::mouseClick(write, Qt::LeftButton);
    EXPECT_TRUE(write->Down());
    EXPECT_FALSE(read->Down());
    QTest::mouseClick(write, Qt::LeftButton);
    EXPECT_FALSE(write->Down());
    EXPECT_FALSE(read->Down());
    read->setDown(true);
    read->setDown(false);
    EXPECT_FALSE(read->Down());

    QSignalSpy clicks(plain, &TSpeedButton::clicked);
    plain->setDown(true);
    QTest::mouseClick(plain, Qt::LeftButton);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_FALSE(plain->Down());
}

TEST(RadioGroup, CodeSelectionRaisesClickOnChangeOnly) {
    TRadioGroup g;
    g.resize(150, 90);
    g.setItems({"Current", "Voltage"});
    QSignalSpy clicks(&g, &TRadioGroup::clicked);
    EXPECT_EQ(g.ItemIndex(), -1);
    g.setItemIndex(1);
    EXPECT_EQ(clicks.count(), 1);
    g.setItemIndex(1);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_TRUE(g.button(1)->isChecked());

    // Out-of-range indexes clamp; -1 clears without a click.
    g.setItemIndex(7);
    EXPECT_EQ(g.ItemIndex(), 1);
    g.setItemIndex(-5);
    EXPECT_EQ(g.ItemIndex(), -1);
    EXPECT_FALSE(g.button(0)->isChecked() || g.button(1)->isChecked());
    EXPECT_EQ(clicks.count(), 1);

    // Clearing leaves nothing selected, so selecting the old index again is a change.
    g.setItemIndex(0);
    g.clearItems();
    EXPECT_EQ(g.ItemIndex(), -1);
    EXPECT_EQ(g.itemCount(), 0);
    g.setItems({"Áram", "Feszültség"});
    g.setItemIndex(0);
    EXPECT_EQ(clicks.count(), 3);
    EXPECT_EQ(g.Items(), QStringList({"Áram", "Feszültség"}));
}

TEST(RadioGroup, UserClicksSelectAndCannotDeselect) {
    TRadioGroup g;
    g.resize(150, 90);
    g.setItems({"RTU", "ASCII"});
    g.setItemIndex(0);
    g.show();
    QSignalSpy clicks(&g, &TRadioGroup::clicked);
    const auto click = [&](int i) { QTest::mouseClick(g.button(i), Qt::LeftButton, {}, QPoint(8, 8)); };
    click(1);
    EXPECT_EQ(g.ItemIndex(), 1);
    EXPECT_EQ(clicks.count(), 1);
    EXPECT_FALSE(g.button(0)->isChecked());
    click(1);
    EXPECT_EQ(g.ItemIndex(), 1);
    EXPECT_TRUE(g.button(1)->isChecked());
    EXPECT_EQ(clicks.count(), 1);
    // The whole row is the item, also right of its text.
    QTest::mouseClick(g.button(0), Qt::LeftButton, {}, QPoint(g.button(0)->width() - 3, 8));
    EXPECT_EQ(g.ItemIndex(), 0);
}

TEST(PageControl, HiddenTabsAndUserOnlyChange) {
    TPageControl pc;
    pc.resize(300, 200);
    QWidget* a = pc.addPage("A", "Alpha");
    QWidget* b = pc.addPage("B", "Beta");
    QWidget* c = pc.addPage("C", "Gamma");
    pc.show();
    QSignalSpy changes(&pc, &TPageControl::Change);
    pc.setTabVisibleFor(b, false);
    EXPECT_EQ(pc.visibleTabNames(), QStringList({"A", "C"}));
    pc.setActivePage(c);
    pc.setActivePage(a);
    EXPECT_EQ(changes.count(), 0);

    // Hiding the active page's tab moves the selection without a Change.
    pc.setTabVisibleFor(a, false);
    EXPECT_EQ(pc.ActivePage(), c);
    EXPECT_EQ(changes.count(), 0);
    pc.setTabVisibleFor(a, true);

    QTabBar* bar = pc.findChild<QTabBar*>();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    EXPECT_EQ(pc.ActivePage(), a);
    EXPECT_EQ(changes.count(), 1);

    // A wizard: every tab hidden, any page can still be the one shown.
    for (QWidget* p : {a, b, c})
        pc.setTabVisibleFor(p, false);
    EXPECT_TRUE(pc.visibleTabNames().isEmpty());
    for (QWidget* p : {a, b, c, a}) {
        pc.setActivePage(p);
        EXPECT_EQ(pc.ActivePage(), p);
        EXPECT_TRUE(p->isVisible());
    }
    pc.setCaption(c, "Delta");
    EXPECT_EQ(pc.caption(c), "Delta");
}

} // namespace
