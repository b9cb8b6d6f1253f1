#include "Messages.h"

#include <QMessageBox>

namespace Messages
{

std::function<bool(Kind, const QString &)> hook;

namespace
{

bool show(QWidget *parent, Kind kind, const QString &text)
{
    if (hook)
        return hook(kind, text);
    QMessageBox box(parent);
    box.setText(text);
    switch (kind) {
    case Kind::Confirmation:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case Kind::Information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Kind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Kind::Plain:
        box.setIcon(QMessageBox::NoIcon);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
    return box.exec() == QMessageBox::Yes;
}

} // namespace

bool Confirm(QWidget *parent, const QString &text)
{
    return show(parent, Kind::Confirmation, text);
}
void Information(QWidget *parent, const QString &text)
{
    show(parent, Kind::Information, text);
}
void Error(QWidget *parent, const QString &text)
{
    show(parent, Kind::Error, text);
}
void Plain(QWidget *parent, const QString &text)
{
    show(parent, Kind::Plain, text);
}

} // namespace Messages
