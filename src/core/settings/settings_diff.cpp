#include "core/settings/settings_diff.h"

#include "core/settings/register_map.h"

namespace qvoksb
{

namespace
{

bool isCompared(const SettingRow &r, Compared compared)
{
    return compared == Compared::Everything || r.reg.encoding != RegisterEncoding::None;
}

DifferenceRow rowFor(const SettingRow &r, const SettingsSet &left, const SettingsSet &right)
{
    return {r.id,
            PageCaptions[static_cast<int>(r.page) - 1],
            displayCaption(r.id),
            valueWithUnit(left, r.id),
            valueWithUnit(right, r.id),
            // Only the two last-trip rows hold texts; the others are numbers alone.
            r.kind == Kind::Text ? left.text(r.id) != right.text(r.id)
                                 : left.value(r.id) != right.value(r.id)};
}

} // namespace

std::string valueWithUnit(const SettingsSet &set, Setting s)
{
    const SettingRow &r = rowOf(s);
    std::string text = valueText(set, s);
    if (r.kind == Kind::Numeric && r.unit[0] != '\0')
        text += std::string(" ") + r.unit;
    return text;
}

std::vector<DifferenceRow> differenceRows(const SettingsSet &left, const SettingsSet &right,
                                          Compared compared, bool all)
{
    std::vector<DifferenceRow> rows;
    for (const SettingRow &r : settingsCatalogue()) {
        if (!isCompared(r, compared))
            continue;
        DifferenceRow row = rowFor(r, left, right);
        if (all || row.differs)
            rows.push_back(std::move(row));
    }
    return rows;
}

std::size_t differenceCount(const SettingsSet &left, const SettingsSet &right, Compared compared)
{
    std::size_t count = 0;
    for (const Setting s : left.differences(right))
        count += isCompared(rowOf(s), compared) ? 1 : 0;
    return count;
}

std::vector<DifferenceRow> valuesTheUnitCannotCarry(const SettingsSet &set)
{
    const SettingsSet held = registers::asUnitHolds(set);
    std::vector<DifferenceRow> rows;
    for (const SettingRow &r : settingsCatalogue()) {
        if (r.reg.encoding == RegisterEncoding::None)
            continue;
        // A list with no item travels as a value the unit has no item for, whatever it reads
        // back as.
        const bool noItem = r.kind == Kind::Choice && set.value(r.id) < 0;
        if (noItem || set.value(r.id) != held.value(r.id))
            rows.push_back(rowFor(r, set, held));
    }
    return rows;
}

} // namespace qvoksb
