// The link panel on the offscreen platform: texts, formats, colours, positions and the port list.
#include "link/mbpanel.h"
#include "link/plaintext.h"
#include "link/portdiscovery.h"
#include "linktesting.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <unistd.h>

namespace {

QColor background(const QLabel* l) {
    return l->palette().color(QPalette::Window);
}

} // namespace

TEST(TMBPanel, FreshPanelAndItsDeferredSetUp) {
    ::unsetenv("MB_EXTRA_PORTS");
    TMB mb;
    const QColor face = mb.palette().color(QPalette::Button);
    auto* tx = mb.findChild<QLabel*>("Label_Tx");
    auto* attempt = mb.findChild<QLabel*>("Label_Attempt");
    auto* baud = mb.findChild<QComboBox*>("ComboBox_Baud");
    auto* refresh = mb.findChild<QPushButton*>("Button_Refresh");
    EXPECT_EQ(mb.title(), "MB Master v2015-01-29");
    EXPECT_EQ(mb.size(), QSize(153, 145));
    EXPECT_EQ(tx->text(), "Tx");
    EXPECT_EQ(tx->geometry(), QRect(6, 13, 13, 13));
    EXPECT_EQ(background(tx), face);
    EXPECT_EQ(background(mb.findChild<QLabel*>("Label_Rx")), face);
    EXPECT_EQ(mb.findChild<QLabel*>("Label_TxCounter")->text(), "0 frames");
    EXPECT_EQ(mb.findChild<QLabel*>("Label_RxCounter")->text(), "0 frames");
    EXPECT_EQ(mb.findChild<TMBShape*>("Shape_Status")->brushColor(), face);
    EXPECT_EQ(mb.findChild<TMBShape*>("Shape_Status")->toolTip(), "Reset counters");
    EXPECT_EQ(mb.findChild<QLabel*>("Label_LastStatus")->text(), "Last status: Closed Port");
    EXPECT_EQ(mb.findChild<QLabel*>("Label_Speed")->text(), "0");
    EXPECT_TRUE(attempt->isHidden());
    EXPECT_EQ(attempt->text(), "1");
    EXPECT_EQ(attempt->x(), 139);
    EXPECT_FALSE(mb.findChild<QPushButton*>("SpeedButton_Open")->isEnabled());
    EXPECT_EQ(mb.findChild<QPushButton*>("SpeedButton_Open")->text(), "Open");
    EXPECT_FALSE(refresh->isEnabled());
    EXPECT_FALSE(baud->isEnabled());
    EXPECT_EQ(baud->count(), 0);
    EXPECT_EQ(mb.findChild<QLabel*>("Label_BitsPerSecond")->text(), "");

    // The first tick of the statistics timer fills the baud box and enables what waits for it.
    ASSERT_WAIT(refresh->isEnabled(), 3000);
    EXPECT_TRUE(baud->isEnabled());
    ASSERT_EQ(baud->count(), 21);
    EXPECT_EQ(baud->itemText(0), "75 baud");
    EXPECT_EQ(baud->itemText(10), "7200 baud");
    EXPECT_EQ(baud->itemText(20), "921600 baud");
    EXPECT_EQ(baud->currentText(), "115200 baud");
    auto* bps = mb.findChild<QLabel*>("Label_BitsPerSecond");
    EXPECT_EQ(bps->text(), "115 200 bits / second");
    EXPECT_EQ(mb.findChild<QLabel*>("Label_Speed")->text(), "0");

    // Choosing a rate in the box sets it; writing the property selects the entry.
    baud->setCurrentIndex(11);
    emit baud->activated(11);
    EXPECT_EQ(mb.MBBaud(), mb::baud009600);
    EXPECT_EQ(bps->text(), "9 600 bits / second");
    mb.setMBBaud(mb::baud128000);
    EXPECT_EQ(baud->currentText(), "128000 baud");
    EXPECT_EQ(bps->text(), "128 000 bits / second");

    EXPECT_FALSE(baud->isHidden());
    mb.setMBBaudEditVisible(false);
    EXPECT_TRUE(baud->isHidden());
    EXPECT_FALSE(bps->isHidden());

    // Later ticks write the speed with its bracket.
    ASSERT_WAIT(mb.findChild<QLabel*>("Label_Speed")->text() == "0 frames / sec [0]", 3000);
}

TEST(TMBPanel, RefreshIsBoldWhenTheListWaitsForTheUser) {
    PtyPair pty;
    ::setenv("MB_EXTRA_PORTS", pty.slavePath().c_str(), 1);
    TMB mb;
    mb.setMBRefreshListOnStartup(false);
    auto* refresh = mb.findChild<QPushButton*>("Button_Refresh");
    auto* list = mb.findChild<QListWidget*>("ListBox_Ports");
    ASSERT_WAIT(refresh->isEnabled(), 3000);
    EXPECT_TRUE(refresh->font().bold());
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(mb.findChild<QPushButton*>("SpeedButton_Open")->isEnabled());
    QTest::mouseClick(refresh, Qt::LeftButton);
    EXPECT_FALSE(refresh->font().bold());
    EXPECT_GE(rowOf(mb, pty.slavePath()), 0);
    EXPECT_TRUE(mb.findChild<QPushButton*>("SpeedButton_Open")->isEnabled());
    ::unsetenv("MB_EXTRA_PORTS");
}

TEST(TMBPanel, PortListHighestFirstRemembersTheLastPortAndAppendsTheOpenOne) {
    PtyPair a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    const QString lo = QString::fromStdString(std::min(a.slavePath(), b.slavePath(), mb::port::naturalLess));
    const QString hi = QString::fromStdString(std::max(a.slavePath(), b.slavePath(), mb::port::naturalLess));
    ::setenv("MB_EXTRA_PORTS", (a.slavePath() + ":" + b.slavePath()).c_str(), 1);
    TMB mb;
    mb.setMBLastUsedPort(lo);
    auto* list = mb.findChild<QListWidget*>("ListBox_Ports");
    ASSERT_WAIT(mb.findChild<QPushButton*>("SpeedButton_Open")->isEnabled(), 3000);
    auto row = [&](const QString& p) { return rowOf(mb, p.toStdString()); };
    EXPECT_GE(row(hi), 0);
    EXPECT_EQ(row(lo), row(hi) + 1);
    EXPECT_EQ(list->currentRow(), row(lo));
    // A short name, the whole path in the tooltip.
    EXPECT_EQ(list->item(row(lo))->text(), lo.mid(5));
    EXPECT_TRUE(list->item(row(lo))->toolTip().startsWith(lo));

    // Choosing with the arrow keys is remembered as a click is; a rebuild keeps that choice.
    QTest::keyClick(list, Qt::Key_Up);
    EXPECT_EQ(list->currentRow(), row(hi));
    EXPECT_EQ(mb.MBLastUsedPort(), hi);
    mb.MBRefreshPortList();
    EXPECT_EQ(list->currentRow(), row(hi));
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(mb.MBLastUsedPort(), lo);

    // An absent remembered port: the first entry is chosen, but the remembered port stays.
    mb.setMBLastUsedPort("/dev/vx-gone");
    mb.MBRefreshPortList();
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(mb.MBLastUsedPort(), "/dev/vx-gone");

    // While open, the port this component holds comes last, and the list is disabled.
    ASSERT_TRUE(mb.MBOpenPort(lo));
    EXPECT_EQ(mb.Port(), lo);
    EXPECT_FALSE(list->isEnabled());
    EXPECT_FALSE(mb.findChild<QPushButton*>("Button_Refresh")->isEnabled());
    EXPECT_FALSE(mb.findChild<QComboBox*>("ComboBox_Baud")->isEnabled());
    mb.MBRefreshPortList();
    EXPECT_EQ(row(lo), list->count() - 1);
    EXPECT_EQ(list->findItems(lo.mid(5), Qt::MatchExactly).size(), 1);
    mb.MBClosePort();
    EXPECT_TRUE(list->isEnabled());
    ::unsetenv("MB_EXTRA_PORTS");
}

TEST(TMBPanel, LampsCountersAndResetFollowTheTraffic) {
    OpenLink link;
    TMB& mb = *link.mb;
    ASSERT_TRUE(mb.MBPortOpen());
    const QColor face = mb.palette().color(QPalette::Button);
    const QColor orange(249, 124, 0);
    auto* tx = link.child<QLabel>("Label_Tx");
    auto* rx = link.child<QLabel>("Label_Rx");
    auto* attempt = link.child<TMBClickLabel>("Label_Attempt");
    EXPECT_EQ(link.child<TMBShape>("Shape_Port")->brushColor(), QColor(0, 255, 0));
    EXPECT_EQ(link.child<QPushButton>("SpeedButton_Open")->text(), "Close");
    EXPECT_FALSE(attempt->isHidden());
    EXPECT_EQ(link.child<QLabel>("Label_LastStatus")->text(), "Last status: OK");

    mb.MBClearTXDataBuffer();
    mb.MBMasterSend(0);
    EXPECT_EQ(background(tx), orange);
    EXPECT_EQ(attempt->x(), 139);
    EXPECT_EQ(link.child<QLabel>("Label_TxCounter")->text(), "1 frames");
    ASSERT_WAIT_EQ(background(tx), face, 1000);
    link.pty.drain();
    ASSERT_TRUE(link.pty.write(reply(1, 0, {})));
    ASSERT_WAIT_EQ(link.ends.size(), 1u, 2000);
    EXPECT_EQ(background(rx), orange);
    EXPECT_EQ(link.child<TMBShape>("Shape_Status")->brushColor(), QColor(0, 255, 0));
    ASSERT_WAIT_EQ(background(rx), face, 1000);

    // A click on the attempt indicator resets the statistics, as the status lamp does.
    QTest::mouseClick(attempt, Qt::LeftButton);
    EXPECT_EQ(attempt->text(), "0");
    EXPECT_EQ(attempt->x(), 138);
    EXPECT_EQ(link.child<QLabel>("Label_TxCounter")->text(), "0 frames");
    EXPECT_EQ(link.child<QLabel>("Label_RxCounter")->text(), "0 frames");
    EXPECT_EQ(link.child<TMBShape>("Shape_Status")->brushColor(), face);
    EXPECT_EQ(link.child<TMBShape>("Shape_Port")->brushColor(), QColor(0, 255, 0));

    // Closing: indicator hidden, status lamp red, port lamp neutral.
    mb.MBClosePort();
    EXPECT_TRUE(attempt->isHidden());
    EXPECT_EQ(link.child<TMBShape>("Shape_Status")->brushColor(), QColor(255, 0, 0));
    EXPECT_EQ(link.child<TMBShape>("Shape_Port")->brushColor(), face);
    EXPECT_EQ(link.child<QLabel>("Label_LastStatus")->text(), "Last status: Closed Port");
}

TEST(TMBPanel, BitsPerSecondShownWhenThePortOpensWithinTheFirstSecond) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    ::setenv("MB_EXTRA_PORTS", pty.slavePath().c_str(), 1);
    TMB mb;
    ASSERT_TRUE(mb.MBOpenPort(QString::fromStdString(pty.slavePath())));
    auto* bps = mb.findChild<QLabel*>("Label_BitsPerSecond");
    EXPECT_EQ(bps->text(), "115 200 bits / second");
    QTest::qWait(1200); // past the deferred set-up, which keeps it
    EXPECT_EQ(bps->text(), "115 200 bits / second");
    mb.MBClosePort();
    ::unsetenv("MB_EXTRA_PORTS");
}

TEST(TMBPanel, NamesFromOutsideAreShownAsPlainText) {
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QTemporaryDir dir;
    const std::string path = dir.filePath("<b>port<i>").toStdString();
    ASSERT_EQ(::symlink(pty.slavePath().c_str(), path.c_str()), 0);
    ::setenv("MB_EXTRA_PORTS", path.c_str(), 1);
    TMB mb;
    ASSERT_WAIT(mb.findChild<QPushButton*>("SpeedButton_Open")->isEnabled(), 5000);
    const int row = rowOf(mb, path);
    ASSERT_GE(row, 0);
    const QString tip = mb.findChild<QListWidget*>()->item(row)->toolTip();
    EXPECT_TRUE(tip.contains("&lt;b&gt;port&lt;i&gt;")) << tip.toStdString();
    EXPECT_EQ(mb.findChild<QLabel*>("Label_PortNotice")->textFormat(), Qt::PlainText);
    EXPECT_EQ(mb::plainToolTip("ttyUSB0 FT232R"), "ttyUSB0 FT232R"); // nothing markup-like stays as it is
    ::unsetenv("MB_EXTRA_PORTS");
}

TEST(TMBPanel, TheNoticeBreaksOnlyAtSpacesAndElidesWhatDoesNotFit) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(11);
    const QFontMetrics m(font);
    const QString name = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    const QString waiting = " lost: waiting for it to come back.";
    const QChar dots(0x2026);
    const struct {
        QString text;
        int width, maxLines;
        bool whole;    // every word shown as it is
        int lines;     // -1: any number within maxLines
        QString first; // the first line, when given
    } cases[] = {
        {"", 141, 3, true, 0, ""},
        {"Reconnected to ttyUSB0 at 10:01:02.", 400, 3, true, 1, "Reconnected to ttyUSB0 at 10:01:02."},
        {"ttyUSB0" + waiting, 141, 3, true, -1, ""},
        {"  ttyUSB0 \n" + waiting, 141, 3, true, -1, ""},
        {name + waiting, 141, 3, false, -1, m.elidedText(name, Qt::ElideMiddle, 141)},
        {"ttyUSB0" + waiting + waiting + waiting, 141, 2, false, 2, ""},
        {name, 30, 1, false, 1, ""},
    };
    for (const auto& c : cases) {
        const QStringList lines = mb::noticeLines(c.text, m, c.width, c.maxLines);
        const QString all = lines.join(' ');
        SCOPED_TRACE(c.text.toStdString() + " -> " + lines.join('|').toStdString());
        EXPECT_LE(lines.size(), c.maxLines);
        EXPECT_TRUE(c.lines < 0 || lines.size() == c.lines);
        EXPECT_TRUE(c.first.isEmpty() || lines.value(0) == c.first);
        EXPECT_EQ(all == c.text.simplified(), c.whole);
        EXPECT_EQ(all.contains(dots), !c.whole);
        for (const QString& line : lines) {
            EXPECT_LE(m.horizontalAdvance(line), c.width);
            // A line ends with a whole word of the text, or with what was cut.
            const QString last = line.section(' ', -1);
            EXPECT_TRUE(last.contains(dots) || c.text.simplified().split(' ').contains(last));
        }
    }
}
