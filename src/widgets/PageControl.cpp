#include "PageControl.h"

#include <QAccessible>
#include <QButtonGroup>
#include <QKeySequence>
#include <QResizeEvent>
#include <QShortcut>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int tabHeightPx = 20;
constexpr int tabPaddingPx = 14;
} // namespace

PageControl::PageControl(QWidget *parent)
    : QWidget(parent), stack_(new QStackedWidget(this)), tabArea_(new PageTabBar(this)),
      group_(new QButtonGroup(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    stack_->setFrameShape(QFrame::StyledPanel);
    layout->addWidget(stack_, 1);
    layout->addWidget(tabArea_);
    group_->setExclusive(true);
    connect(group_, &QButtonGroup::idClicked, this, &PageControl::setCurrentIndex);

    const std::pair<QKeySequence, int> keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
    };
    for (const auto &[key, direction] : keys) {
        auto *shortcut = new QShortcut(key, this);
        shortcut->setContext(Qt::WindowShortcut);
        const int d = direction;
        connect(shortcut, &QShortcut::activated, this, [this, d] { showNeighbour(d); });
    }
}

void PageControl::showNeighbour(int direction)
{
    if (count() == 0)
        return;
    setCurrentIndex((currentIndex() + direction + count()) % count());
}

int PageControl::addPage(QWidget *page, const QString &caption)
{
    const int index = stack_->addWidget(page);
    auto *tab = new PageTab(tabArea_);
    tab->setObjectName(page->objectName() + QStringLiteral("Tab"));
    tab->setText(caption);
    tab->setCheckable(true);
    tab->setAutoRaise(true); // raised only under the pointer: the hover highlight
    tab->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tab->setAccessibleName(caption);
    // The page is read by the caption of its tab.
    if (page->accessibleName().isEmpty())
        page->setAccessibleName(caption);
    group_->addButton(tab, index);
    tabs_.append(tab);
    if (index == 0)
        tab->setChecked(true);
    layoutTabs();
    return index;
}

int PageControl::count() const
{
    return stack_->count();
}

QWidget *PageControl::page(int index) const
{
    return stack_->widget(index);
}

QToolButton *PageControl::tab(int index) const
{
    return tabs_.value(index);
}

QWidget *PageControl::ActivePage() const
{
    return stack_->currentWidget();
}

void PageControl::setActivePage(QWidget *page)
{
    const int index = stack_->indexOf(page);
    if (index >= 0)
        setCurrentIndex(index);
}

int PageControl::currentIndex() const
{
    return stack_->currentIndex();
}

void PageControl::setCurrentIndex(int index)
{
    if (index < 0 || index >= count())
        return;
    const int previous = stack_->currentIndex();
    tabs_[index]->setChecked(true);
    if (previous != index) {
        stack_->setCurrentIndex(index);
        // Assistive technology hears that the selection moved from one tab to the other.
        QAccessible::State selected;
        selected.selected = true;
        if (previous >= 0 && previous < tabs_.size()) {
            QAccessibleStateChangeEvent left(tabs_[previous], selected);
            QAccessible::updateAccessibility(&left);
        }
        QAccessibleStateChangeEvent entered(tabs_[index], selected);
        QAccessible::updateAccessibility(&entered);
        emit currentChanged(index);
    }
}

void PageControl::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutTabs();
}

// Fills rows from the left; a tab that does not fit starts a new row. The tabs of each row are
// stretched to the full width, as multi-row tab controls do.
void PageControl::layoutTabs()
{
    const int width = qMax(1, this->width());
    QList<QList<QToolButton *>> rows(1);
    int used = 0;
    for (QToolButton *tab : tabs_) {
        const int w = tab->fontMetrics().horizontalAdvance(tab->text()) + tabPaddingPx;
        if (!rows.last().isEmpty() && used + w > width) {
            rows.append(QList<QToolButton *>());
            used = 0;
        }
        rows.last().append(tab);
        used += w;
    }
    int y = 0;
    for (const auto &row : rows) {
        int natural = 0;
        for (QToolButton *tab : row)
            natural += tab->fontMetrics().horizontalAdvance(tab->text()) + tabPaddingPx;
        int x = 0;
        const int extra = row.isEmpty() ? 0 : (width - natural) / int(row.size());
        for (int i = 0; i < row.size(); ++i) {
            QToolButton *tab = row[i];
            int w = tab->fontMetrics().horizontalAdvance(tab->text()) + tabPaddingPx + extra;
            if (i == row.size() - 1)
                w = width - x;
            tab->setGeometry(x, y, w, tabHeightPx);
            x += w;
        }
        y += tabHeightPx;
    }
    tabArea_->setFixedHeight(y);
}
