#pragma once
// TPageControl: pages with tabs that can be hidden one by one (a page with a hidden tab can still be the
// active page, which is how wizards step through their pages), and a Change signal that is raised only
// when the user picks a tab, never when code sets the active page or hides a tab.
#include <QTabWidget>

class TPageControl : public QTabWidget {
    Q_OBJECT
public:
    explicit TPageControl(QWidget* parent = nullptr);

    // Adds a page named name (its objectName) with the tab caption; returns the page.
    QWidget* addPage(const QString& name, const QString& caption);

    QWidget* ActivePage() const { return currentWidget(); }
    void setActivePage(QWidget* page);

    bool TabVisible(QWidget* page) const;
    void setTabVisibleFor(QWidget* page, bool visible);
    void setCaption(QWidget* page, const QString& caption);
    QString caption(QWidget* page) const;

    // Names of the pages whose tabs show, in tab order.
    QStringList visibleTabNames() const;

signals:
    void Change();

private:
    bool fromCode_ = false;
};
