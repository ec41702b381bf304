#include "widgets/pagecontrol.h"

#include <QTabBar>

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent) {
    connect(this, &QTabWidget::currentChanged, this, [this](int) {
        if (!fromCode_) emit Change();
    });
}

QWidget* TPageControl::addPage(const QString& name, const QString& caption) {
    auto* page = new QWidget;
    page->setObjectName(name);
    // Pages wear the window's face colour, like every other panel of the window, so opaque labels
    // on them blend in.
    page->setAutoFillBackground(true);
    page->setBackgroundRole(QPalette::Window);
    const bool wasFromCode = fromCode_;
    fromCode_ = true;
    addTab(page, caption);
    fromCode_ = wasFromCode;
    return page;
}

void TPageControl::setActivePage(QWidget* page) {
    const int i = indexOf(page);
    if (i < 0) return;
    fromCode_ = true;
    setCurrentIndex(i);
    fromCode_ = false;
    // The toolkit hides a page whose tab it hides; an active page shows all the same.
    page->show();
}

bool TPageControl::TabVisible(QWidget* page) const {
    const int i = indexOf(page);
    return i >= 0 && isTabVisible(i);
}

void TPageControl::setTabVisibleFor(QWidget* page, bool visible) {
    const int i = indexOf(page);
    if (i < 0) return;
    // Hiding the active page's tab moves the selection; that is the code's doing, not the user's.
    fromCode_ = true;
    setTabVisible(i, visible);
    fromCode_ = false;
    if (currentWidget()) currentWidget()->show();
}

void TPageControl::setCaption(QWidget* page, const QString& caption) {
    const int i = indexOf(page);
    if (i >= 0) setTabText(i, caption);
}

QString TPageControl::caption(QWidget* page) const {
    const int i = indexOf(page);
    return i >= 0 ? tabText(i) : QString();
}

QStringList TPageControl::visibleTabNames() const {
    QStringList out;
    for (int i = 0; i < count(); ++i)
        if (isTabVisible(i)) out << widget(i)->objectName();
    return out;
}
