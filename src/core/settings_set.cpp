#include "settings_set.h"

#include <algorithm>
#include <cmath>

namespace qvoksb
{

SettingsSet::SettingsSet()
{
    for (const SettingRow &r : settingsCatalogue())
        values_[indexOf(r.id)] = r.start;
}

void SettingsSet::setValue(Setting s, long long value)
{
    const SettingRow &r = rowOf(s);
    int &v = values_[indexOf(s)];
    switch (r.kind) {
    case Kind::Numeric:
        v = int(std::clamp<long long>(value, r.min, r.max));
        break;
    case Kind::Choice:
        v = value >= 0 && value <= r.max ? int(value) : -1;
        break;
    case Kind::RelayBox:
        v = value != 0 ? 1 : 0;
        break;
    case Kind::Text:
        break;
    }
}

void SettingsSet::setNumber(Setting s, double value)
{
    const SettingRow &r = rowOf(s);
    if (std::isnan(value))
        value = r.min;
    // Clamp before converting, so that huge and infinite values become the range's ends.
    setValue(s, static_cast<long long>(std::llround(std::clamp(value, double(r.min) - 1.0,
                                                               double(r.max) + 1.0))));
}

void SettingsSet::setText(Setting s, std::string utf8)
{
    if (rowOf(s).kind == Kind::Text)
        texts_[textSlot(s)] = std::move(utf8);
}

std::vector<Setting> SettingsSet::differences(const SettingsSet &other) const
{
    std::vector<Setting> differ;
    for (const SettingRow &r : settingsCatalogue()) {
        const std::size_t i = indexOf(r.id);
        const bool differs = r.kind == Kind::Text ? text(r.id) != other.text(r.id)
                                                  : values_[i] != other.values_[i];
        if (differs)
            differ.push_back(r.id);
    }
    return differ;
}

std::string valueText(Setting s, int value)
{
    const SettingRow &r = rowOf(s);
    switch (r.kind) {
    case Kind::Numeric:
        return std::to_string(value);
    case Kind::Choice: {
        const auto items = itemsOf(r.items);
        return value >= 0 && std::size_t(value) < items.size() ? items[std::size_t(value)]
                                                               : "не выбрано";
    }
    case Kind::RelayBox:
        return value ? "да" : "нет";
    case Kind::Text:
        break;
    }
    return {};
}

std::string valueText(const SettingsSet &set, Setting s)
{
    return rowOf(s).kind == Kind::Text ? set.text(s) : valueText(s, set.value(s));
}

bool relaySetActive(const SettingsSet &set, int number)
{
    for (const RelaySet &rs : RelaySets) {
        if (rs.number != number)
            continue;
        const bool output3Free = set.value(Setting::ComboBox2) != 0;
        return (rs.hasTripBox && set.checked(rs.boxes[0])) || set.checked(rs.boxes[1]) ||
               set.checked(rs.boxes[2]) || (set.checked(rs.boxes[3]) && output3Free);
    }
    return false;
}

} // namespace qvoksb
