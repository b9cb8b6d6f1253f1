// The interlocks between the settings: a function's parameters are editable only while it drives
// a relay, the delay and the multiplier of a time-dependent function exclude each other, a pulse
// length matters only in pulse mode, output 3 is unavailable while the self-diagnosis uses it,
// and the long delays and the cut-off thresholds step by their size. The rules only enable and
// disable; a disabled setting keeps its value, which is still saved and sent to the unit. The
// one rule that changes a value keeps the trip relay of the phase cut-off checked.
#include "Main.h"

#include "core/settings/interlocks.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>
#include <utility>

namespace
{

// The state a widget was given itself, whatever its ancestors: a rule must not read a setting as
// disabled only because the whole window is.
bool ownEnabled(const QWidget *w)
{
    return !w->testAttribute(Qt::WA_ForceDisabled);
}

using qvoksb::Setting;
namespace rules = qvoksb::interlocks;

// The window as the interlocks read it: the values its controls show, and a setting is in use
// while its control is enabled. That state is what the rules gave it when they last ran: a
// relay set is evaluated again when one of its boxes changes, not when output 3 is taken or
// released.
class WindowInputs final : public rules::Inputs
{
public:
    explicit WindowInputs(const TFKsb &w) : w_(w) {}
    int value(Setting s) const override
    {
        QWidget *c = w_.settingControl(s);
        if (auto *box = qobject_cast<QCheckBox *>(c))
            return box->isChecked() ? 1 : 0;
        if (auto *list = qobject_cast<QComboBox *>(c))
            return list->currentIndex(); // no item chosen, -1, counts as not the first
        if (auto *spin = qobject_cast<QSpinBox *>(c))
            return spin->value();
        return 0;
    }
    bool inUse(Setting s) const override { return ownEnabled(w_.settingControl(s)); }

private:
    const TFKsb &w_;
};

// A value the rules keep fixed is put back at once. Putting it back raises the rule once more,
// which then finds nothing to change.
void keepFixedValue(const TFKsb &w, Setting s)
{
    for (const rules::FixedValue &f : rules::fixedValues()) {
        auto *box = static_cast<QCheckBox *>(w.settingControl(f.setting));
        if (f.setting == s && box->isChecked() != (f.value != 0))
            box->setChecked(f.value != 0);
    }
}

// The step after a change of the value; it applies from the next press: 990 up gives 1000, and
// only then 1100.
void applyStepRule(SpinEdit *spin)
{
    if (!spin)
        return;
    if (const qvoksb::SettingRow *r = qvoksb::findRow(spin->objectName().toStdString()))
        if (const int step = rules::stepFor(r->id, spin->value()))
            spin->setSingleStep(step);
}

} // namespace

QLabel *TFKsb::labelFor(QWidget *control) const
{
    // Every setting with the caption at its left; the relay boxes share the caption of their row
    // and have none of their own.
    if (!control)
        return nullptr;
    if (const qvoksb::SettingRow *r = qvoksb::findRow(control->objectName().toLatin1().constData()))
        return settingLabels_[qvoksb::indexOf(r->id)];
    // The controls of the pages that are no stored settings.
    const std::pair<const QWidget *, QLabel *> others[] = {
        {Edit1, LSystem5}, {RxSpinEdit26, Label1}, {RxSpinEdit27, Label2}};
    for (const auto &[c, label] : others)
        if (c == control)
            return label;
    return nullptr;
}

// A setting and its caption are switched together.
static void setSettingEnabled(const TFKsb &w, QWidget *control, bool on)
{
    control->setEnabled(on);
    if (QLabel *label = w.labelFor(control))
        label->setEnabled(on);
}

// Runs the rules of one trigger (a relay set's number, or a list): each dependant with its
// caption enabled while its rule holds. A dependant that is itself a list then runs its own
// rules, so that a time-dependent function that drives no relay offers neither its delay nor its
// multiplier, and the pulse length of output 3 follows its relay mode. The "ВЫХ.3" boxes are no
// list: taking output 3 leaves their sets' dependants as they are.
template <class Trigger> static void applyRules(const TFKsb &w, Trigger trigger)
{
    const WindowInputs in(w);
    for (const rules::Rule &r : rules::rules())
        if (rules::triggeredBy(r, trigger))
            setSettingEnabled(w, w.settingControl(r.dependant), rules::holds(r, in));
    for (const rules::Rule &r : rules::rules())
        if (rules::triggeredBy(r, trigger) &&
            qvoksb::rowOf(r.dependant).kind == qvoksb::Kind::Choice)
            applyRules(w, r.dependant);
}

void TFKsb::connectInterlocks()
{
    // A list's rule runs on the user's pick (mouse or keyboard); code sets a list through
    // SetListIndex, which runs the rule itself.
    for (int n = 1; n <= 8; ++n) {
        QComboBox *list = comboBox(n);
        connect(list, &QComboBox::activated, this, [this, list](int) { ComboBox1Change(list); });
    }

    // The relay-set rules look at the whole set, never at the box that changed. toggled fires on a
    // click and on every change of the checked state made by code.
    for (const qvoksb::RelaySet &set : qvoksb::RelaySets) {
        const auto all = rules::rules();
        if (std::none_of(all.begin(), all.end(),
                         [&](const rules::Rule &r) { return rules::triggeredBy(r, set.number); }))
            continue;
        for (std::size_t box = set.hasTripBox ? 0 : 1; box < set.boxes.size(); ++box)
            connect(static_cast<QCheckBox *>(settingControl(set.boxes[box])),
                    &QAbstractButton::toggled, this,
                    [this, n = set.number] { applyRelaySetRule(n); });
    }
    // The phase cut-off's trip box is put back at once; CheckBox17 to CheckBox19 only add
    // relays to the cut-off and have no rule.
    for (const rules::FixedValue &f : rules::fixedValues())
        connect(static_cast<QCheckBox *>(settingControl(f.setting)), &QAbstractButton::toggled,
                this, [this, s = f.setting] { keepFixedValue(*this, s); });

    for (const rules::StepRule &r : rules::stepRules()) {
        auto *spin = static_cast<SpinEdit *>(settingControl(r.setting));
        connect(spin, &QSpinBox::valueChanged, this, [spin](int) { applyStepRule(spin); });
    }
}

void TFKsb::SetListIndex(QComboBox *list, int index)
{
    if (!list)
        return;
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
    ComboBox1Change(list);
}

void TFKsb::applyStartupInterlocks()
{
    // The order matters: the earth-fault method and the self-diagnosis mode come first, because
    // the output-3 boxes they disable take part in the relay-set rules that follow.
    SetListIndex(ComboBox1, 1);
    SetListIndex(ComboBox2, 0);
    CheckBox1Click();
    CheckBox7Click();
    CheckBox8Click();
    SetListIndex(ComboBox3, 1);
    CheckBox20Click();
    SetListIndex(ComboBox4, 1);
    CheckBox28Click();
    CheckBox32Click();
    SetListIndex(ComboBox5, 0);
    SetListIndex(ComboBox6, 0);
    SetListIndex(ComboBox7, 0);
    // ComboBox8 is disabled by now (output 3 serves the self-diagnosis); its rule consults that
    // and leaves the pulse length disabled.
    SetListIndex(ComboBox8, 0);
    SetListIndex(ComboBox9, 0);
    SetListIndex(ComboBox10, 0);
    SetListIndex(ComboBox11, 2);
    SetListIndex(ComboBox12, 0);
    SetListIndex(ComboBox13, 1);
    SetListIndex(ComboBox14, 0);
    // The sets of the two time-dependent functions and of the phase cut-off start checked, and
    // the delay pairs were disabled by their characteristic lists above, so their rules need not
    // run here.
}

void TFKsb::ComboBox1Change(QComboBox *sender)
{
    // The rules of the list whose Tag the sender carries; the lists without rules change nothing.
    const int tag = sender ? Tag(sender) : 0;
    if (tag < 1 || std::size_t(tag) > comboBoxes_.size())
        return;
    if (const qvoksb::SettingRow *list = qvoksb::findRow(comboBox(tag)->objectName().toStdString()))
        applyRules(*this, list->id);
}

void TFKsb::applyRelaySetRule(int set)
{
    // Active when it drives a relay: "ВЫХ.3" counts only while it is not reserved for the
    // self-diagnosis. The phase cut-off (set 5) has no rule: it always trips.
    applyRules(*this, set);
}

void TFKsb::CheckBox1Click()
{
    applyRelaySetRule(1);
}

void TFKsb::CheckBox7Click()
{
    applyRelaySetRule(2);
}

void TFKsb::CheckBox8Click()
{
    applyRelaySetRule(3);
}

void TFKsb::CheckBox12Click()
{
    applyRelaySetRule(4);
}

void TFKsb::CheckBox16Click()
{
    keepFixedValue(*this, Setting::CheckBox16);
}

void TFKsb::CheckBox20Click()
{
    applyRelaySetRule(6);
}

void TFKsb::CheckBox24Click()
{
    applyRelaySetRule(7);
}

void TFKsb::CheckBox28Click()
{
    applyRelaySetRule(8);
}

void TFKsb::CheckBox32Click()
{
    applyRelaySetRule(9);
}

void TFKsb::RxSpinEdit9Change(SpinEdit *sender)
{
    applyStepRule(sender);
}

void TFKsb::RxSpinEdit11Change(SpinEdit *sender)
{
    applyStepRule(sender);
}
