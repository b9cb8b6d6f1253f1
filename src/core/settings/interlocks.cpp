#include "core/settings/interlocks.h"

#include <array>
#include <climits>
#include <tuple>
#include <type_traits>

namespace qvoksb::interlocks
{

namespace
{

using enum Setting;

constexpr Rule relaySet(int set, Setting dependant)
{
    return {dependant, When::RelaySetActive, uint8_t(set), dependant, false};
}
constexpr Rule list(Setting list, When when, Setting dependant, bool whileListInUse = false)
{
    return {dependant, when, 0, list, whileListInUse};
}

constexpr When First = When::FirstItem, Other = When::OtherItem;

// Within a trigger the rows are in the order the window applies them. A dependant that is
// itself a list runs its own rules after its trigger's rows (the characteristic lists after
// their relay sets, the relay mode of output 3 after the self-diagnosis mode); the "ВЫХ.3"
// boxes run nothing when output 3 is taken or released: their sets are evaluated again only
// when one of their boxes changes.
constexpr std::array table = {
    // The parameters of each function, while its relay set drives a relay. The phase cut-off
    // (set 5) always trips the breaker and has none.
    relaySet(1, RxSpinEdit5),
    relaySet(2, RxSpinEdit6),
    relaySet(3, RxSpinEdit7),
    relaySet(4, RxSpinEdit8),
    relaySet(4, ComboBox3),
    relaySet(6, RxSpinEdit13),
    relaySet(6, RxSpinEdit14),
    relaySet(7, RxSpinEdit15),
    relaySet(7, ComboBox4),
    relaySet(8, RxSpinEdit18),
    relaySet(8, RxSpinEdit19),
    relaySet(9, RxSpinEdit20),
    relaySet(9, RxSpinEdit21),
    // Zero-sequence detection ("НУЛЕВАЯ ПОСЛЕДОВАТЕЛЬНОСТЬ") needs the ratio of its transformer.
    list(ComboBox1, Other, RxSpinEdit3),
    // With self-diagnosis on ("ДА") output 3 belongs to it.
    list(ComboBox2, Other, CheckBox3),
    list(ComboBox2, Other, CheckBox6),
    list(ComboBox2, Other, CheckBox11),
    list(ComboBox2, Other, CheckBox15),
    list(ComboBox2, Other, CheckBox19),
    list(ComboBox2, Other, CheckBox23),
    list(ComboBox2, Other, CheckBox27),
    list(ComboBox2, Other, CheckBox31),
    list(ComboBox2, Other, CheckBox35),
    list(ComboBox2, Other, ComboBox8),
    // Independent time ("НЕЗАВИСИМОЕ") with its delay, a curve with its multiplier; a function
    // that drives no relay offers neither.
    list(ComboBox3, First, RxSpinEdit9, true),
    list(ComboBox3, Other, RxSpinEdit10, true),
    list(ComboBox4, First, RxSpinEdit16, true),
    list(ComboBox4, Other, RxSpinEdit17, true),
    // The pulse length of an output in pulse mode ("ИМПУЛЬСНЫЙ").
    list(ComboBox5, Other, RxSpinEdit22),
    list(ComboBox6, Other, RxSpinEdit23),
    list(ComboBox7, Other, RxSpinEdit24),
    list(ComboBox8, Other, RxSpinEdit25, true),
};

constexpr bool wellFormed()
{
    constexpr std::size_t sets = std::tuple_size_v<std::remove_cvref_t<decltype(RelaySets)>>;
    for (std::size_t i = 0; i < table.size(); ++i) {
        const Rule &r = table[i];
        if (r.when == When::RelaySetActive ? r.relaySet < 1 || r.relaySet > sets
                                           : r.relaySet != 0 || r.list == r.dependant)
            return false;
        // A rule that asks whether its list is in use leans only on the rules above it, so
        // that asking a settings set whether a setting is in use comes to an end.
        for (std::size_t j = i; j < table.size(); ++j)
            if (r.whileListInUse && table[j].dependant == r.list)
                return false;
    }
    return true;
}
static_assert(wellFormed());

constexpr std::array fixed = {FixedValue{CheckBox16, 1}};

// The delays in ms. The single value 9999, which only a file or the unit can supply, keeps the
// step of the values below ten seconds, so that one press down brings it back among them.
constexpr StepBand delayBands[] = {{INT_MIN, 10}, {1000, 100}, {10000, 1000}};
// The cut-off thresholds in % of the CT rating.
constexpr StepBand thresholdBands[] = {{INT_MIN, 1}, {100, 10}};

constexpr std::array steps = {
    StepRule{RxSpinEdit9, delayBands},      StepRule{RxSpinEdit14, delayBands},
    StepRule{RxSpinEdit16, delayBands},     StepRule{RxSpinEdit21, delayBands},
    StepRule{RxSpinEdit11, thresholdBands}, StepRule{RxSpinEdit18, thresholdBands},
};

} // namespace

std::span<const Rule> rules()
{
    return table;
}

std::span<const FixedValue> fixedValues()
{
    return fixed;
}

std::span<const StepRule> stepRules()
{
    return steps;
}

int stepFor(Setting s, int value)
{
    for (const StepRule &r : steps) {
        if (r.setting != s)
            continue;
        int step = 0;
        for (const StepBand &band : r.bands)
            if (value >= band.from)
                step = band.step;
        return step;
    }
    return 0;
}

bool relaySetActive(int number, const Inputs &in)
{
    if (number < 1 || std::size_t(number) > RelaySets.size())
        return false;
    const RelaySet &rs = RelaySets[std::size_t(number - 1)];
    for (std::size_t box = rs.hasTripBox ? 0 : 1; box < rs.boxes.size(); ++box)
        if (in.value(rs.boxes[box]) != 0 && in.inUse(rs.boxes[box]))
            return true;
    return false;
}

bool holds(const Rule &rule, const Inputs &in)
{
    switch (rule.when) {
    case When::RelaySetActive:
        return relaySetActive(rule.relaySet, in);
    case When::FirstItem:
        return in.value(rule.list) == 0 && (!rule.whileListInUse || in.inUse(rule.list));
    case When::OtherItem:
        return in.value(rule.list) != 0 && (!rule.whileListInUse || in.inUse(rule.list));
    }
    return false;
}

} // namespace qvoksb::interlocks
