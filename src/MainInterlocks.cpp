// The interlocks between the settings: a function's parameters are editable only while it drives
// a relay, the delay and the multiplier of a time-dependent function exclude each other, a pulse
// length matters only in pulse mode, output 3 is unavailable while the self-diagnosis uses it,
// and the long delays and the cut-off thresholds step by their size. The rules only enable and
// disable; a disabled setting keeps its value, which is still saved and sent to the unit. The
// one rule that changes a value keeps the trip relay of the phase cut-off checked.
#include "Main.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <array>
#include <utility>

namespace
{

// The state a widget was given itself, whatever its ancestors: a rule must not read a setting as
// disabled only because the whole window is.
bool ownEnabled(const QWidget *w)
{
    return !w->testAttribute(Qt::WA_ForceDisabled);
}

// Index 0 of every list with a rule is the choice that switches its dependants off ("УТЕЧКА",
// "ДА", "ЗАЩЕЛКА"), except the characteristic lists, whose index 0 "НЕЗАВИСИМОЕ" selects the
// delay instead of the multiplier. No item chosen counts as "not 0".
bool notFirst(const QComboBox *list)
{
    return list->currentIndex() != 0;
}

// Step of the long delays (ms): fine below a second, coarse from ten seconds. The single value
// 9999, which only a file or the unit can supply, keeps the step of the values below ten seconds
// so that one press down brings it back among them.
int delayStepFor(int valueMs)
{
    if (valueMs <= 999)
        return 10;
    if (valueMs < 10000)
        return 100;
    return 1000;
}

// Step of the cut-off thresholds (% of the CT rating).
int thresholdStepFor(int percent)
{
    return percent > 99 ? 10 : 1;
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

// A time-dependent function runs on independent time (index 0, "НЕЗАВИСИМОЕ") with its delay, or
// on a curve with its multiplier. A disabled list means the function drives no relay: then
// neither is offered, so that an idle function never shows one of them enabled, however the list
// was reached (a click, a file, the unit).
static void applyCharacteristic(const TFKsb &w, const QComboBox *list, SpinEdit *delay,
                                SpinEdit *multiplier)
{
    const bool listOn = ownEnabled(list);
    const bool independent = list->currentIndex() == 0;
    setSettingEnabled(w, delay, listOn && independent);
    setSettingEnabled(w, multiplier, listOn && !independent);
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
    const std::pair<std::array<int, 4>, void (TFKsb::*)()> sets[] = {
        {{1, 2, 3, 0}, &TFKsb::CheckBox1Click},      {{4, 5, 6, 7}, &TFKsb::CheckBox7Click},
        {{8, 9, 10, 11}, &TFKsb::CheckBox8Click},    {{12, 13, 14, 15}, &TFKsb::CheckBox12Click},
        {{20, 21, 22, 23}, &TFKsb::CheckBox20Click}, {{24, 25, 26, 27}, &TFKsb::CheckBox24Click},
        {{28, 29, 30, 31}, &TFKsb::CheckBox28Click}, {{32, 33, 34, 35}, &TFKsb::CheckBox32Click},
    };
    for (const auto &[boxes, handler] : sets)
        for (int n : boxes)
            if (n)
                connect(checkBox(n), &QAbstractButton::toggled, this, handler);
    // CheckBox17 to CheckBox19 only add relays to the phase cut-off and have no rule.
    connect(CheckBox16, &QAbstractButton::toggled, this, &TFKsb::CheckBox16Click);

    for (SpinEdit *s : {RxSpinEdit9, RxSpinEdit14, RxSpinEdit16, RxSpinEdit21})
        connect(s, &QSpinBox::valueChanged, this, [this, s](int) { RxSpinEdit9Change(s); });
    for (SpinEdit *s : {RxSpinEdit11, RxSpinEdit18})
        connect(s, &QSpinBox::valueChanged, this, [this, s](int) { RxSpinEdit11Change(s); });
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
    if (!sender)
        return;
    switch (Tag(sender)) {
    case 1: // zero-sequence detection needs the ratio of its transformer
        setSettingEnabled(*this, RxSpinEdit3, notFirst(ComboBox1));
        break;
    case 2: { // with self-diagnosis on ("ДА") output 3 belongs to it
        // Only the boxes change: a set whose one checked box is "ВЫХ.3" keeps its dependants as
        // they are until one of its boxes changes.
        const bool free = notFirst(ComboBox2);
        for (int n : {3, 6, 11, 15, 19, 23, 27, 31, 35})
            checkBox(n)->setEnabled(free);
        setSettingEnabled(*this, ComboBox8, free);
        setSettingEnabled(*this, RxSpinEdit25, free && notFirst(ComboBox8));
        break;
    }
    case 3:
        applyCharacteristic(*this, ComboBox3, RxSpinEdit9, RxSpinEdit10);
        break;
    case 4:
        applyCharacteristic(*this, ComboBox4, RxSpinEdit16, RxSpinEdit17);
        break;
    case 5:
        setSettingEnabled(*this, RxSpinEdit22, notFirst(ComboBox5));
        break;
    case 6:
        setSettingEnabled(*this, RxSpinEdit23, notFirst(ComboBox6));
        break;
    case 7:
        setSettingEnabled(*this, RxSpinEdit24, notFirst(ComboBox7));
        break;
    case 8:
        setSettingEnabled(*this, RxSpinEdit25, ownEnabled(ComboBox8) && notFirst(ComboBox8));
        break;
    default:
        break;
    }
}

void TFKsb::applyRelaySetRule(int set)
{
    // One row per relay-output set with a rule: the boxes "ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3" (0
    // where the set has none), the settings of the function that drives them, and the
    // characteristic list of a time-dependent function. The phase cut-off (set 5) has no row: it
    // always trips.
    struct Row {
        int set;
        std::array<int, 4> boxes;
        std::array<QWidget *, 2> settings;
        QComboBox *characteristic;
        SpinEdit *delay;
        SpinEdit *multiplier;
    };
    const Row rows[] = {
        {1, {0, 1, 2, 3}, {RxSpinEdit5, nullptr}, nullptr, nullptr, nullptr},
        {2, {7, 4, 5, 6}, {RxSpinEdit6, nullptr}, nullptr, nullptr, nullptr},
        {3, {8, 9, 10, 11}, {RxSpinEdit7, nullptr}, nullptr, nullptr, nullptr},
        {4, {12, 13, 14, 15}, {RxSpinEdit8, ComboBox3}, ComboBox3, RxSpinEdit9, RxSpinEdit10},
        {6, {20, 21, 22, 23}, {RxSpinEdit13, RxSpinEdit14}, nullptr, nullptr, nullptr},
        {7, {24, 25, 26, 27}, {RxSpinEdit15, ComboBox4}, ComboBox4, RxSpinEdit16, RxSpinEdit17},
        {8, {28, 29, 30, 31}, {RxSpinEdit18, RxSpinEdit19}, nullptr, nullptr, nullptr},
        {9, {32, 33, 34, 35}, {RxSpinEdit20, RxSpinEdit21}, nullptr, nullptr, nullptr},
    };
    for (const Row &row : rows) {
        if (row.set != set)
            continue;
        // Active when it drives a relay: "ВЫХ.3" counts only while it is not reserved for the
        // self-diagnosis.
        bool active = false;
        for (int i = 0; i < 3; ++i)
            active = active || (row.boxes[i] && checkBox(row.boxes[i])->isChecked());
        QCheckBox *out3 = checkBox(row.boxes[3]);
        active = active || (out3->isChecked() && ownEnabled(out3));
        for (QWidget *setting : row.settings)
            if (setting)
                setSettingEnabled(*this, setting, active);
        if (row.characteristic)
            applyCharacteristic(*this, row.characteristic, row.delay, row.multiplier);
        return;
    }
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
    // The phase cut-off always trips the breaker. Re-checking raises the rule once more, which
    // then finds nothing to change.
    if (!CheckBox16->isChecked())
        CheckBox16->setChecked(true);
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
    // The new step applies from the next press: 990 up gives 1000, and only then 1100.
    if (sender)
        sender->setSingleStep(delayStepFor(sender->value()));
}

void TFKsb::RxSpinEdit11Change(SpinEdit *sender)
{
    if (sender)
        sender->setSingleStep(thresholdStepFor(sender->value()));
}
