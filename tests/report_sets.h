#pragma once
// Settings sets for the report's tests and benchmark: every setting at the largest value its
// control allows, and a set that differs from the factory set in every setting.
#include "core/settings/settings_set.h"

#include <string>

// Every number at its maximum, every list at its last item, every relay box checked, and
// last-trip texts as long as a configuration file can carry (2047 bytes).
inline qvoksb::SettingsSet largestSettings()
{
    qvoksb::SettingsSet set;
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue())
        set.setValue(r.id, r.max);
    // A file holds 2047 letters of code page 1251; in UTF-8 a Russian letter takes two bytes.
    const std::string word = "ПЕРЕГРУЗКА ";
    std::string cause;
    for (std::size_t letters = 0; letters + 11 <= 2047; letters += 11)
        cause += word;
    set.setText(qvoksb::Setting::EEvent, cause);
    set.setText(qvoksb::Setting::EDt, std::string(2047, '9'));
    return set;
}

// Every setting moved off its factory value, each to a different place in its range.
inline qvoksb::SettingsSet changedSettings()
{
    qvoksb::SettingsSet set;
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue()) {
        if (r.kind == qvoksb::Kind::RelayBox) {
            set.setValue(r.id, !r.start);
            continue;
        }
        if (r.kind == qvoksb::Kind::Choice) {
            set.setValue(r.id, (r.start + 1) % (r.max + 1));
            continue;
        }
        const int up = r.start + r.step * (1 + int(qvoksb::indexOf(r.id)) % 3);
        set.setValue(r.id, up <= r.max ? up : r.min);
    }
    set.setText(qvoksb::Setting::EEvent, "ДИСТАНЦИОННОЕ ОТКЛЮЧЕНИЕ");
    set.setText(qvoksb::Setting::EDt, "7.3.2026 14:25:31");
    return set;
}
