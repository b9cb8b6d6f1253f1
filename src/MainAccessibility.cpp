#include "MainAccessibility.h"

#include "AccessibleWidgets.h"
#include "LedIndicator.h"

#include <QAccessible>
#include <QGroupBox>
#include <QLabel>

namespace
{

// The frames of the output relays (ВЫКЛ, ВЫХ.1 to ВЫХ.3) and of the three inputs: each holds the
// same captions as its neighbours.
constexpr const char *repeatingFrames[] = {"GroupBox2", "GroupBox3", "GroupBox4", "GroupBox1",
                                           "GroupBox5", "GroupBox6", "GroupBox7"};

// The LED rows: the heading above each row and the LEDs in it.
struct LedRow {
    const char *heading;
    const char *leds[4];
};
constexpr LedRow ledRows[] = {
    {"StaticText9", {"VrBlinkLedBit1", "VrBlinkLedBit2", "VrBlinkLedBit3", "VrBlinkLedBit4"}},
    {"StaticText2", {"VrBlinkLed1", "VrBlinkLed2", "VrBlinkLed3", "VrBlinkLed4"}},
};

// "ЦИФРОВЫЕ ВХОДЫ:" is read as "Цифровые входы": a heading in capitals would be spelt out letter
// by letter by some screen readers.
QString headingAsName(const QString &heading)
{
    QString s = heading.simplified();
    while (s.endsWith(QLatin1Char(':')))
        s.chop(1);
    s = s.toLower();
    if (!s.isEmpty())
        s[0] = s[0].toUpper();
    return s;
}

bool hasLineBreak(const QString &s)
{
    return s.contains(QLatin1Char('\n')) || s.contains(QLatin1Char('\r'));
}

} // namespace

void nameControlsForAssistiveTechnology(QWidget *window)
{
    AccessibleWidgets::install();

    for (const char *frameName : repeatingFrames) {
        auto *frame = window->findChild<QGroupBox *>(QLatin1String(frameName));
        if (!frame)
            continue;
        // The caption too: a list is named by its caption's label, not by a name of its own.
        const QString title = frame->title().simplified();
        for (QLabel *label : frame->findChildren<QLabel *>()) {
            const QString name = title + QStringLiteral(": ") + label->text().simplified();
            label->setAccessibleName(name);
            if (QWidget *control = label->buddy())
                control->setAccessibleName(name);
        }
    }

    for (const LedRow &row : ledRows) {
        auto *heading = window->findChild<QLabel *>(QLatin1String(row.heading));
        const QString prefix = heading ? headingAsName(heading->text()) + QStringLiteral(": ")
                                       : QString();
        for (const char *ledName : row.leds) {
            if (auto *led = window->findChild<LedIndicator *>(QLatin1String(ledName)))
                led->setAccessibleName(prefix + led->caption());
        }
    }

    if (auto *section = window->findChild<QWidget *>(QStringLiteral("SpeedBar1Section")))
        section->setAccessibleName(QStringLiteral("Команды"));
    // Shown only when the bar is too short for its buttons.
    if (auto *more = window->findChild<QWidget *>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(QStringLiteral("Остальные кнопки"));

    // Captions written on two lines keep their break on screen, not in what is read out.
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (!w->accessibleName().isEmpty()) {
            if (hasLineBreak(w->accessibleName()))
                w->setAccessibleName(w->accessibleName().simplified());
            continue;
        }
        QString text;
        if (auto *label = qobject_cast<QLabel *>(w))
            text = label->text();
        else if (QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w))
            text = iface->text(QAccessible::Name);
        if (hasLineBreak(text))
            w->setAccessibleName(text.simplified());
    }
}
