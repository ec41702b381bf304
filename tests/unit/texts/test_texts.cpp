// What every text of the catalogue keeps. Unique names and both forms given are the compiler's to check.
#include "app/texts/Texts.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

using vx::app::Text;
using vx::app::textIn;

namespace {
// The arguments a text takes (%1, %2, ...), sorted: a form that drops one shows the raw marker.
QStringList placeholders(const QString& s) {
    QStringList found;
    for (const QRegularExpressionMatch& m : QRegularExpression(QStringLiteral("%\\d")).globalMatch(s))
        found << m.captured();
    found.sort();
    return found;
}
} // namespace

TEST(TextCatalogue, EveryTextHasTwoSoundFormsThatTakeTheSameArguments) {
    for (int i = 0; i < vx::app::kTextCount; ++i) {
        const QString english = textIn(Text(i), true), hungarian = textIn(Text(i), false);
        SCOPED_TRACE(english.toStdString());
        EXPECT_FALSE(english.isEmpty());
        EXPECT_FALSE(hungarian.isEmpty());
        // Broken UTF-8 in the list would show as replacement characters.
        EXPECT_FALSE(english.contains(QChar::ReplacementCharacter));
        EXPECT_FALSE(hungarian.contains(QChar::ReplacementCharacter));
        EXPECT_EQ(placeholders(english), placeholders(hungarian));
        // A menu entry keeps its keyboard shortcut in both languages.
        EXPECT_EQ(english.count(QLatin1Char('&')), hungarian.count(QLatin1Char('&')));
    }
    EXPECT_TRUE(textIn(Text(vx::app::kTextCount), true).isNull());
}
