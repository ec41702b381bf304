#pragma once
// Names that come from outside (adapter names, program names from /proc, paths) go into tooltips as
// plain text: Qt renders a tooltip as markup when it merely looks like some, so such a text is escaped.
#include <QString>
#include <QTextDocument>

namespace mb {

inline QString plainToolTip(const QString& text) {
    if (!Qt::mightBeRichText(text)) return text;
    return QStringLiteral("<p style='white-space:pre-wrap'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

} // namespace mb
