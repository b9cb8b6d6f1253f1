#pragma once
// One complete settings set of a KSB-7: a value for every row of the settings catalogue. The
// window's controls, a configuration file and the unit's registers each give one; comparing two
// sets says what a write or an open would change.
#include "core/settings/settings_catalogue.h"

#include <array>
#include <string>
#include <vector>

namespace qvoksb
{

class SettingsSet
{
public:
    // The factory values, as the pages show them at a fresh start.
    SettingsSet();

    int value(Setting s) const { return values_[indexOf(s)]; }
    bool checked(Setting s) const { return values_[indexOf(s)] != 0; }
    // Numbers are clamped to the setting's range (not moved onto its step); an index outside
    // the list is -1, no item chosen; a relay box is checked by any value but 0. Ignored for
    // texts.
    void setValue(Setting s, long long value);
    // A number from outside (a file, the unit, a person) rounded to the nearest integer first.
    void setNumber(Setting s, double value);

    const std::string &text(Setting s) const { return texts_[textSlot(s)]; }
    void setText(Setting s, std::string utf8);

    bool operator==(const SettingsSet &other) const = default;
    // The settings whose values differ, in catalogue order.
    std::vector<Setting> differences(const SettingsSet &other) const;

private:
    // The two last-trip texts; every other setting is a number.
    static std::size_t textSlot(Setting s) { return s == Setting::EDt ? 1 : 0; }

    std::array<int, SettingCount> values_{};
    std::array<std::string, 2> texts_{};
};

// The value as a person reads it: the number, the list item's words ("не выбрано" for none),
// "да" or "нет" for a relay box, the text itself. No unit.
std::string valueText(Setting s, int value);
std::string valueText(const SettingsSet &set, Setting s);

// A relay-output set drives a relay when its "ВЫКЛ", "ВЫХ.1" or "ВЫХ.2" box is checked, or its
// "ВЫХ.3" box while output 3 is free of the self-diagnosis (ComboBox2 not at "ДА"). The
// parameters of a function whose set is not active do not matter to the unit.
bool relaySetActive(const SettingsSet &set, int number);
// Whether the unit uses the setting, given the others: every interlock on it holds (the
// interlocks are in interlocks.h). A setting that is not in use keeps its value.
bool settingInUse(const SettingsSet &set, Setting s);
// The set with the values the interlocks keep fixed: the phase cut-off's "ВЫКЛ" box checked,
// whatever a file or the unit said. The window holds every set so.
SettingsSet withFixedValues(SettingsSet set);

} // namespace qvoksb
