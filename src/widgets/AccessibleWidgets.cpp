#include "AccessibleWidgets.h"

#include "LedIndicator.h"
#include "PageControl.h"
#include "SpinEdit.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QToolButton>

namespace
{

bool ownClassesInstalled = false;

QString withoutMnemonic(QString text)
{
    // "&&" is a literal ampersand; a single "&" marks the mnemonic letter.
    text.replace(QLatin1String("&&"), QString(QChar(0xE000)));
    text.remove(QLatin1Char('&'));
    text.replace(QChar(0xE000), QLatin1Char('&'));
    return text;
}

// --- SpinEdit ---------------------------------------------------------------------------------

// QAccessibleWidget is already an action interface; the value interface comes on top, and the
// text interface of the edit field inside, as Qt's own spin boxes have it: the number as shown
// (hexadecimal where so shown), the cursor and the selection, whatever the value says.
class SpinEditAccessible : public QAccessibleWidget,
                           public QAccessibleValueInterface,
                           public QAccessibleTextInterface
{
public:
    explicit SpinEditAccessible(SpinEdit *spin) : QAccessibleWidget(spin, QAccessible::SpinBox) {}

    SpinEdit *spin() const { return static_cast<SpinEdit *>(widget()); }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        if (t == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        if (t == QAccessible::TextInterface && edit())
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(t);
    }

    // --- the text of the edit field, as the screen shows it. Qt gives the edit field inside a
    // spin box no interface of its own, so its public API serves.
    QLineEdit *edit() const { return spin()->findChild<QLineEdit *>(); }
    void selection(int index, int *start, int *end) const override
    {
        *start = *end = 0;
        if (index == 0 && edit()->hasSelectedText()) {
            *start = edit()->selectionStart();
            *end = edit()->selectionEnd();
        }
    }
    int selectionCount() const override { return edit()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override
    {
        if (index == 0)
            edit()->deselect();
    }
    void setSelection(int index, int start, int end) override
    {
        if (index == 0)
            edit()->setSelection(start, end - start);
    }
    int cursorPosition() const override { return edit()->cursorPosition(); }
    void setCursorPosition(int position) override { edit()->setCursorPosition(position); }
    QString text(int start, int end) const override
    {
        const QString shown = edit()->displayText();
        if (end < 0 || end > shown.size())
            end = int(shown.size());
        start = qBound(0, start, end);
        return shown.mid(start, end - start);
    }
    int characterCount() const override { return int(edit()->displayText().size()); }
    QRect characterRect(int offset) const override
    {
        // From where the edit field puts a cursor before the character and after it.
        QLineEdit *e = edit();
        const QString shown = e->displayText();
        if (offset < 0 || offset >= shown.size())
            return {};
        const QFontMetrics metrics = e->fontMetrics();
        const int before = metrics.horizontalAdvance(shown.left(offset));
        const int width = metrics.horizontalAdvance(shown.at(offset));
        const QRect field = e->contentsRect();
        const int left = field.left() + (e->alignment() & Qt::AlignRight
                                             ? field.width() - metrics.horizontalAdvance(shown)
                                             : 0);
        const QRect r(left + before, field.top() + (field.height() - metrics.height()) / 2, width,
                      metrics.height());
        return QRect(e->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint &point) const override
    {
        return edit()->cursorPositionAt(edit()->mapFromGlobal(point));
    }
    void scrollToSubstring(int, int) override {} // the whole number is always in view
    QString attributes(int offset, int *start, int *end) const override
    {
        *start = 0;
        *end = characterCount();
        Q_UNUSED(offset);
        return {};
    }

    // The edit field inside only displays the number; the spin box itself carries it.
    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return spin()->text();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.readOnly = !spin()->isEnabled();
        return s;
    }

    QVariant currentValue() const override { return spin()->value(); }
    void setCurrentValue(const QVariant &value) override
    {
        bool ok = false;
        const double v = value.toDouble(&ok);
        if (!ok || !spin()->isEnabled())
            return;
        spin()->setValueFromProgram(v);
    }
    QVariant maximumValue() const override { return spin()->maximum(); }
    QVariant minimumValue() const override { return spin()->minimum(); }
    QVariant minimumStepSize() const override { return spin()->singleStep(); }

    QStringList actionNames() const override
    {
        return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override
    {
        if (name == increaseAction() || name == decreaseAction()) {
            // stepBy goes by the current step and stops at the range's ends.
            if (spin()->isEnabled())
                spin()->stepBy(name == increaseAction() ? 1 : -1);
            return;
        }
        QAccessibleWidget::doAction(name);
    }
    QStringList keyBindingsForAction(const QString &name) const override
    {
        if (name == increaseAction())
            return {QStringLiteral("Up")};
        if (name == decreaseAction())
            return {QStringLiteral("Down")};
        return QAccessibleWidget::keyBindingsForAction(name);
    }
};

// --- LedIndicator -----------------------------------------------------------------------------

class LedAccessible : public QAccessibleWidget
{
public:
    explicit LedAccessible(LedIndicator *led) : QAccessibleWidget(led, QAccessible::CheckBox) {}

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = static_cast<LedIndicator *>(widget())->isLit();
        s.readOnly = true;
        return s;
    }
    // An LED shows the unit's state; it cannot be operated.
    QStringList actionNames() const override { return {}; }
};

// --- PageControl ------------------------------------------------------------------------------

class TabListAccessible : public QAccessibleWidget
{
public:
    explicit TabListAccessible(QWidget *area) : QAccessibleWidget(area, QAccessible::PageTabList)
    {
    }
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return QStringLiteral("Страницы");
        return QAccessibleWidget::text(t);
    }
};

class TabAccessible : public QAccessibleWidget
{
public:
    explicit TabAccessible(QToolButton *tab) : QAccessibleWidget(tab, QAccessible::PageTab) {}

    QToolButton *tab() const { return static_cast<QToolButton *>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name && tab()->accessibleName().isEmpty())
            return withoutMnemonic(tab()->text());
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = tab()->isChecked();
        s.checkable = false;
        s.checked = false;
        return s;
    }
    QStringList actionNames() const override
    {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override
    {
        if (name == pressAction()) {
            if (tab()->isEnabled())
                tab()->click();
            return;
        }
        QAccessibleWidget::doAction(name);
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }
};

// --- menus --------------------------------------------------------------------------------------

// The menu or menu bar an action stands in.
QWidget *menuOwner(const QAction *action)
{
    for (QObject *o : action->associatedObjects()) {
        if (qobject_cast<QMenu *>(o) || qobject_cast<QMenuBar *>(o))
            return static_cast<QWidget *>(o);
    }
    return nullptr;
}

class MenuItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    explicit MenuItemAccessible(QAction *action) : action_(action) {}

    bool isValid() const override { return action_ && menuOwner(action_); }
    QObject *object() const override { return action_; }
    QWindow *window() const override
    {
        QWidget *owner = action_ ? menuOwner(action_) : nullptr;
        return owner ? owner->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(menuOwner(action_));
    }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 && action_->menu() ? QAccessible::queryAccessibleInterface(action_->menu())
                                            : nullptr;
    }
    int childCount() const override { return action_->menu() ? 1 : 0; }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && action_->menu() && child->object() == action_->menu() ? 0 : -1;
    }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return withoutMnemonic(action_->text());
        if (t == QAccessible::Accelerator)
            return action_->shortcut().toString(QKeySequence::NativeText);
        return {};
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override
    {
        QWidget *owner = menuOwner(action_);
        QRect r;
        if (auto *menu = qobject_cast<QMenu *>(owner))
            r = menu->actionGeometry(action_);
        else if (auto *bar = qobject_cast<QMenuBar *>(owner))
            r = bar->actionGeometry(action_);
        return owner ? r.translated(owner->mapToGlobal(QPoint(0, 0))) : r;
    }
    QAccessible::Role role() const override
    {
        if (action_->isSeparator())
            return QAccessible::Separator;
        if (!action_->isCheckable())
            return QAccessible::MenuItem;
        const QActionGroup *group = action_->actionGroup();
        return group && group->exclusionPolicy() != QActionGroup::ExclusionPolicy::None
                   ? QAccessible::RadioButton
                   : QAccessible::CheckBox;
    }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        QWidget *owner = menuOwner(action_);
        if (!owner || !owner->isVisible() || !action_->isVisible())
            s.invisible = true;
        if (auto *menu = qobject_cast<QMenu *>(owner); menu && menu->activeAction() == action_)
            s.focused = true;
        if (auto *bar = qobject_cast<QMenuBar *>(owner); bar && bar->activeAction() == action_)
            s.focused = true;
        s.focusable = !action_->isSeparator();
        s.disabled = action_->isSeparator() || !action_->isEnabled();
        s.checkable = action_->isCheckable();
        s.checked = action_->isChecked();
        s.hasPopup = action_->menu() != nullptr;
        return s;
    }

    void *interface_cast(QAccessible::InterfaceType t) override
    {
        return t == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface *>(this)
                                                 : nullptr;
    }
    QStringList actionNames() const override
    {
        if (!action_ || action_->isSeparator())
            return {};
        if (action_->menu())
            return {showMenuAction()};
        if (action_->isCheckable())
            return {toggleAction()};
        return {pressAction()};
    }
    void doAction(const QString &name) override
    {
        if (!action_->isEnabled())
            return;
        if (name == pressAction() || name == toggleAction()) {
            action_->trigger();
        } else if (name == showMenuAction()) {
            QWidget *owner = menuOwner(action_);
            if (action_->menu()->isVisible())
                action_->menu()->hide();
            else if (auto *bar = qobject_cast<QMenuBar *>(owner))
                bar->setActiveAction(action_);
            else if (auto *menu = qobject_cast<QMenu *>(owner))
                menu->setActiveAction(action_);
        }
    }
    // The underlined letter: Alt with it on the menu bar ("Файл" opens with Alt+Ф), the letter
    // alone inside an open menu.
    QStringList keyBindingsForAction(const QString &) const override
    {
        if (!action_)
            return {};
        const QKeySequence mnemonic = QKeySequence::mnemonic(action_->text());
        if (mnemonic.isEmpty())
            return {};
        const bool onBar = qobject_cast<QMenuBar *>(menuOwner(action_)) != nullptr;
        const QKeySequence key = onBar ? mnemonic : QKeySequence(mnemonic[0].key());
        return {key.toString(QKeySequence::NativeText)};
    }

private:
    QPointer<QAction> action_;
};

// A pop-up menu lists its actions through the interfaces above, so that a radio item knows its
// place in the menu.
class MenuAccessible : public QAccessibleWidget
{
public:
    explicit MenuAccessible(QMenu *menu) : QAccessibleWidget(menu, QAccessible::PopupMenu) {}

    QMenu *menu() const { return static_cast<QMenu *>(widget()); }

    int childCount() const override { return int(menu()->actions().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QAction *> actions = menu()->actions();
        return index >= 0 && index < actions.size()
                   ? QAccessible::queryAccessibleInterface(actions.at(index))
                   : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(menu()->actions().indexOf(qobject_cast<QAction *>(child->object())))
                     : -1;
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        QAction *a = menu()->actionAt(menu()->mapFromGlobal(QPoint(x, y)));
        return a && !a->isSeparator() ? QAccessible::queryAccessibleInterface(a) : nullptr;
    }
    QAccessibleInterface *parent() const override
    {
        QAction *own = menu()->menuAction();
        if (own && menuOwner(own))
            return QAccessible::queryAccessibleInterface(own);
        return QAccessibleWidget::parent();
    }
    QString text(QAccessible::Text t) const override
    {
        QString s = QAccessibleWidget::text(t);
        if (s.isEmpty() && t == QAccessible::Name)
            s = withoutMnemonic(menu()->title());
        return s;
    }
};

// The program's own widget classes, and the menu actions, which Qt's own factory leaves alone.
QAccessibleInterface *ownClassesFactory(const QString &key, QObject *object)
{
    if (key == QLatin1String("SpinEdit"))
        return new SpinEditAccessible(static_cast<SpinEdit *>(object));
    if (key == QLatin1String("LedIndicator"))
        return new LedAccessible(static_cast<LedIndicator *>(object));
    if (key == QLatin1String("PageTab"))
        return new TabAccessible(static_cast<QToolButton *>(object));
    if (key == QLatin1String("PageTabBar"))
        return new TabListAccessible(static_cast<QWidget *>(object));
    if (key == QLatin1String("QAction")) {
        auto *action = static_cast<QAction *>(object);
        return menuOwner(action) ? new MenuItemAccessible(action) : nullptr;
    }
    return nullptr;
}

// Qt's own classes whose interfaces are replaced. The factory installed last is asked first, so
// this one goes in after QApplication has installed Qt's.
QAccessibleInterface *qtClassesFactory(const QString &key, QObject *object)
{
    if (key == QLatin1String("QMenu"))
        return new MenuAccessible(static_cast<QMenu *>(object));
    return nullptr;
}

bool qtClassesInstalled = false;

void installOwnClasses()
{
    if (ownClassesInstalled)
        return;
    QAccessible::installFactory(ownClassesFactory);
    ownClassesInstalled = true;
}

} // namespace

void AccessibleWidgets::install()
{
    installOwnClasses();
    if (!qtClassesInstalled && qobject_cast<QApplication *>(QCoreApplication::instance())) {
        QAccessible::installFactory(qtClassesFactory);
        qtClassesInstalled = true;
    }
}

Q_COREAPP_STARTUP_FUNCTION(installOwnClasses)
