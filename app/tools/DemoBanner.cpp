#include "app/tools/DemoBanner.h"

#include "app/texts/Texts.h"
#include "link/portopen.h"

namespace vx::app::tools {

DemoBanner::DemoBanner(QWidget* parent) : QLabel(parent) {
    setObjectName(QStringLiteral("Label_DemoBanner"));
    setAlignment(Qt::AlignCenter);
    setWordWrap(true);
    // Warning colours that read the same on a light and a dark desktop.
    setStyleSheet(QStringLiteral("QLabel { background: #f9a825; color: #000000; font-weight: bold; "
                                 "border: 1px solid #8d5a00; border-radius: 3px; padding: 2px; }"));
    showText();
    hide();
}

void DemoBanner::follow(bool open, const QString& port) {
    setVisible(open && mb::port::isDemoName(port.toStdString()));
    if (isVisible()) raise();
}

void DemoBanner::setEnglish(bool english) {
    english_ = english;
    showText();
}

void DemoBanner::showText() {
    setText(textIn(Text::DemoBanner, english_));
}

} // namespace vx::app::tools
