#include "core/settings/settings_set.h"

#include "core/settings/interlocks.h"

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
    setValue(s, static_cast<long long>(
                    std::llround(std::clamp(value, double(r.min) - 1.0, double(r.max) + 1.0))));
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
        const bool differs =
            r.kind == Kind::Text ? text(r.id) != other.text(r.id) : values_[i] != other.values_[i];
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

namespace
{

// A settings set as the interlocks read it: a setting is in use when all its rules hold.
class SetInputs final : public interlocks::Inputs
{
public:
    explicit SetInputs(const SettingsSet &set) : set_(set) {}
    int value(Setting s) const override { return set_.value(s); }
    bool inUse(Setting s) const override
    {
        for (const interlocks::Rule &r : interlocks::rules())
            if (r.dependant == s && !interlocks::holds(r, *this))
                return false;
        return true;
    }

private:
    const SettingsSet &set_;
};

} // namespace

bool relaySetActive(const SettingsSet &set, int number)
{
    return interlocks::relaySetActive(number, SetInputs(set));
}

bool settingInUse(const SettingsSet &set, Setting s)
{
    return SetInputs(set).inUse(s);
}

SettingsSet withFixedValues(SettingsSet set)
{
    for (const interlocks::FixedValue &f : interlocks::fixedValues())
        set.setValue(f.setting, f.value);
    return set;
}

} // namespace qvoksb
