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
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    // By Kind: a question, a note, an error, and a message with no icon.
    static constexpr QMessageBox::Icon icons[] = {QMessageBox::Question, QMessageBox::Information,
                                                  QMessageBox::Critical, QMessageBox::NoIcon};
    box.setIcon(icons[int(kind)]);
    if (kind == Kind::Confirmation) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    return box.exec() == QMessageBox::Yes;
}

} // namespace

QString plainToolTip(const QString &text)
{
    if (text.isEmpty())
        return text;
    // Rich text that keeps the line breaks and spaces of the plain text it carries.
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + text.toHtmlEscaped() +
           QStringLiteral("</p>");
}

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
