#pragma once
// Tabbed pages with the tabs along the bottom edge, wrapping to as many rows as their captions
// need, so that no caption is ever cut short. The tab under the pointer is highlighted.
#include <QWidget>

class QButtonGroup;
class QStackedWidget;
class QToolButton;

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

    QStackedWidget *stack_;
    QWidget *tabArea_;
    QButtonGroup *group_;
    QList<QToolButton *> tabs_;
};
