#include "SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <cmath>

SpinEdit::SpinEdit(QWidget *parent) : QSpinBox(parent)
{
    setAccelerated(false);
    setKeyboardTracking(false);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    // The edit field only displays the number; stepping is the only way to change it.
    lineEdit()->setReadOnly(true);
    lineEdit()->setAcceptDrops(false);
    setAcceptDrops(false);
}

void SpinEdit::setValueFromProgram(double value)
{
    if (std::isnan(value)) {
        setValue(minimum());
        return;
    }
    if (value <= minimum()) {
        setValue(minimum());
    } else if (value >= maximum()) {
        setValue(maximum());
    } else {
        setValue(static_cast<int>(std::lround(value)));
    }
}

void SpinEdit::setValueFromProgram(long long value)
{
    if (value <= minimum())
        setValue(minimum());
    else if (value >= maximum())
        setValue(maximum());
    else
        setValue(static_cast<int>(value));
}

void SpinEdit::setHexadecimal(bool hex)
{
    hex_ = hex;
    setDisplayIntegerBase(hex ? 16 : 10);
    lineEdit()->setText(textFromValue(value()));
}

QString SpinEdit::textFromValue(int value) const
{
    return hex_ ? QString::number(value, 16).toUpper() : QString::number(value);
}

int SpinEdit::valueFromText(const QString &text) const
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, hex_ ? 16 : 10);
    // A text that is not a number normalises to the minimum.
    return ok ? qBound(minimum(), v, maximum()) : minimum();
}

QValidator::State SpinEdit::validate(QString &text, int &pos) const
{
    Q_UNUSED(pos);
    bool ok = false;
    text.trimmed().toInt(&ok, hex_ ? 16 : 10);
    return ok ? QValidator::Acceptable : QValidator::Intermediate;
}

void SpinEdit::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        QSpinBox::keyPressEvent(event);
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
        event->ignore();
        return;
    default:
        break;
    }
    if (event->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) {
        event->ignore(); // menu shortcuts
        return;
    }
    // Typing, pasting, cutting and deleting are refused.
    QApplication::beep();
    event->accept();
}

void SpinEdit::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}

void SpinEdit::focusOutEvent(QFocusEvent *event)
{
    // Normalise the text: whatever is shown becomes the clamped value.
    const int v = valueFromText(lineEdit()->text());
    QSpinBox::focusOutEvent(event);
    setValue(v);
    lineEdit()->setText(textFromValue(value()));
}

void SpinEdit::contextMenuEvent(QContextMenuEvent *event)
{
    event->accept(); // no Paste / Cut / Delete menu
}
