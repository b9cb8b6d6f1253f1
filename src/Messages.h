#pragma once
// The standard message boxes of the main window: a Yes/No confirmation, an information and an
// error box with OK, and a plain box with OK. Their titles and buttons come from the toolkit (in
// Russian, through the translations the program loads at start).
//
// A message often carries text from outside (a file name, a path, what the unit or the system
// said): it is always shown as plain text, never read as HTML.
#include <QString>

#include <functional>

class QWidget;

namespace Messages
{

enum class Kind { Confirmation, Information, Error, Plain };

// True when the user answered Yes.
bool Confirm(QWidget *parent, const QString &text);
void Information(QWidget *parent, const QString &text);
void Error(QWidget *parent, const QString &text);
void Plain(QWidget *parent, const QString &text);

// A tool tip that shows `text` as it stands: Qt reads a tip that looks like HTML as rich text
// (and would load the pictures it names), so outside text goes in escaped.
QString plainToolTip(const QString &text);

// Tests play the user: when set, the hook is called instead of showing a box; its result is the
// answer to a confirmation (true for Yes) and ignored for the others.
extern std::function<bool(Kind kind, const QString &text)> hook;

} // namespace Messages
