#pragma once
// The interlocks between the settings, as data: which setting is in use depending on which
// other, on which values. A function's parameters matter only while its relay set drives a
// relay; a time-dependent function uses either its delay (independent time) or its multiplier
// (a curve); a pulse length matters only in pulse mode; output 3 is unavailable while the
// self-diagnosis drives it. A setting that is not in use keeps its value: it is still saved and
// still sent to the unit, the unit merely ignores it.
//
// The main window enables a setting and its caption while it is in use; a settings set is asked
// the same question through settingInUse() and relaySetActive() (settings_set.h).
//
// Beside them, two rules that switch nothing off: a box that always stays checked (the phase
// cut-off always trips the breaker) and the spin edits whose step grows with their value.
#include "core/settings/settings_catalogue.h"

#include <cstdint>
#include <span>

namespace qvoksb::interlocks
{

enum class When : uint8_t {
    RelaySetActive, // the relay set drives a relay
    FirstItem,      // the list shows its item 0
    OtherItem,      // the list shows any other item, or none
};

// One rule: `dependant` is in use only while the rule holds. A setting named by several rules
// is in use while all of them hold; a setting named by none is always in use.
struct Rule {
    Setting dependant;
    When when;
    uint8_t relaySet;    // RelaySetActive: the set 1..9, otherwise 0
    Setting list;        // FirstItem, OtherItem: the list whose item decides
    bool whileListInUse; // and only while that list is itself in use
};

// Every rule, grouped by what triggers it: a relay set's boxes, or a list.
std::span<const Rule> rules();

// What a rule reads: the values of the settings and whether a setting is in use. A settings set
// answers "in use" from the rules themselves; the window from the state its controls were
// last given.
class Inputs
{
public:
    virtual int value(Setting s) const = 0;
    virtual bool inUse(Setting s) const = 0;

protected:
    ~Inputs() = default;
};

// A relay set drives a relay when one of its boxes is checked and in use (the "ВЫХ.3" box is
// not while the self-diagnosis holds output 3).
bool relaySetActive(int number, const Inputs &in);
bool holds(const Rule &rule, const Inputs &in);

// The rules run by a change of a relay set's boxes, or of a list.
inline bool triggeredBy(const Rule &rule, int relaySet)
{
    return rule.when == When::RelaySetActive && rule.relaySet == relaySet;
}
inline bool triggeredBy(const Rule &rule, Setting list)
{
    return rule.when != When::RelaySetActive && rule.list == list;
}

// A relay box whose value never changes (1 checked): the phase cut-off always trips the breaker,
// so its "ВЫКЛ" box stays checked whatever a person, a file or the unit says. Its relay set is
// therefore always active, and the cut-off's parameters always in use.
struct FixedValue {
    Setting setting;
    int value;
};
std::span<const FixedValue> fixedValues();

// A spin edit whose step follows its value: the long delays step by 10 ms below a second, by
// 100 ms up to ten seconds and by a second above; the cut-off thresholds by 1 % up to 99 % and
// by 10 % above. A band's step holds from its value up to the next band.
struct StepBand {
    int from;
    int step;
};
struct StepRule {
    Setting setting;
    std::span<const StepBand> bands;
};
std::span<const StepRule> stepRules();
// The step of `s` at `value`; 0 when its step does not follow its value.
int stepFor(Setting s, int value);

} // namespace qvoksb::interlocks
