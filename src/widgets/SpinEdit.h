#pragma once
// An integer spin edit that the user can only step: its text cannot be typed into, pasted or
// cut. The value moves by the current step through the arrow buttons (which repeat while held)
// or the Up and Down keys, and is always kept within [minimum, maximum]. The step may change at
// run time; a new step applies from the next press. Every change of the shown number emits
// valueChanged, whether the user or the program caused it.
#include <QSpinBox>

class SpinEdit : public QSpinBox
{
    Q_OBJECT
public:
    explicit SpinEdit(QWidget *parent = nullptr);

    // Values supplied by the program (a file, the unit) are rounded to the nearest integer and
    // clamped to the range; huge or non-finite numbers clamp to the nearer end.
    void setValueFromProgram(double value);
    void setValueFromProgram(long long value);

    // Show the value in upper-case hexadecimal without prefix (the Modbus address).
    void setHexadecimal(bool hex);

protected:
    QString textFromValue(int value) const override;
    int valueFromText(const QString &text) const override;
    QValidator::State validate(QString &text, int &pos) const override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    bool hex_ = false;
};
