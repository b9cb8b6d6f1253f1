#pragma once
// Tabbed pages with the tabs along the bottom edge, wrapping to as many rows as their captions
// need, so that no caption is ever cut short. The tab under the pointer is highlighted.
// Anywhere in the window Ctrl+Tab and Ctrl+PgDn show the next page, Ctrl+Shift+Tab and Ctrl+PgUp
// the previous one, going round at the ends.
#include <QToolButton>
#include <QWidget>

class QButtonGroup;
class QStackedWidget;

// The row of tabs and one tab: classes of their own, so that assistive technology can present
// them as a page-tab list and its page tabs (see AccessibleWidgets).
class PageTabBar : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;
};

class PageTab : public QToolButton
{
    Q_OBJECT
public:
    using QToolButton::QToolButton;
};

class PageControl : public QWidget
{
    Q_OBJECT
public:
    explicit PageControl(QWidget *parent = nullptr);

    // Adds a page; its objectName names it (TabSheet1 ...), caption is the tab's text.
    int addPage(QWidget *page, const QString &caption);
    int count() const;
    QWidget *page(int index) const;
    QToolButton *tab(int index) const;
    QWidget *tabArea() const { return tabArea_; }
    QWidget *ActivePage() const;
    void setActivePage(QWidget *page);
    int currentIndex() const;
    void setCurrentIndex(int index);

signals:
    void currentChanged(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutTabs();
    void showNeighbour(int direction);

    QStackedWidget *stack_;
    QWidget *tabArea_;
    QButtonGroup *group_;
    QList<QToolButton *> tabs_;
};
