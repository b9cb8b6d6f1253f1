#include "CharacteristicsSettings.h"

#include "Main.h"

#include <QCheckBox>
#include <QComboBox>

using namespace qvoksb::characteristics;

namespace
{

// The relay sets of the six protection stages: "ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3" by check box
// number.
struct RelaySetBoxes {
    int trip, out1, out2, out3;
};
constexpr RelaySetBoxes phaseTimeSet{12, 13, 14, 15}, phaseCutOffSet{16, 17, 18, 19},
    phaseAlarmSet{20, 21, 22, 23}, earthTimeSet{24, 25, 26, 27}, earthCutOffSet{28, 29, 30, 31},
    earthAlarmSet{32, 33, 34, 35};
constexpr RelaySetBoxes relaySets[] = {phaseTimeSet, phaseCutOffSet, phaseAlarmSet,
                                       earthTimeSet, earthCutOffSet, earthAlarmSet};

// A set drives something when "ВЫКЛ", "ВЫХ.1" or "ВЫХ.2" is checked, or "ВЫХ.3" is checked while
// output 3 is free. Output 3 is free, and its boxes enabled, exactly when the self-diagnosis mode
// (ComboBox2) is not "ДА"; the mode is read rather than the box's enabled state because the
// list's rule enables the boxes only after the list has announced its new index.
bool active(const TFKsb &w, const RelaySetBoxes &set)
{
    const bool output3Free = w.ComboBox2->currentIndex() != 0;
    return w.checkBox(set.trip)->isChecked() || w.checkBox(set.out1)->isChecked() ||
           w.checkBox(set.out2)->isChecked() || (output3Free && w.checkBox(set.out3)->isChecked());
}

} // namespace

Settings characteristicsSettings(const TFKsb &w)
{
    Settings s;
    s.phaseCtPrimaryA = w.RxSpinEdit2->value();
    s.zeroSequenceCtPrimaryA = w.RxSpinEdit3->value();
    s.earthByZeroSequence = w.ComboBox1->currentIndex() != 0;

    s.phases.timeDependent = {active(w, phaseTimeSet), w.ComboBox3->currentIndex(),
                              w.RxSpinEdit8->value(), w.RxSpinEdit10->value(),
                              w.RxSpinEdit9->value()};
    s.phases.cutOff = {active(w, phaseCutOffSet), w.RxSpinEdit11->value(), w.RxSpinEdit12->value()};
    s.phases.alarm = {active(w, phaseAlarmSet), w.RxSpinEdit13->value(), w.RxSpinEdit14->value()};

    s.earth.timeDependent = {active(w, earthTimeSet), w.ComboBox4->currentIndex(),
                             w.RxSpinEdit15->value(), w.RxSpinEdit17->value(),
                             w.RxSpinEdit16->value()};
    s.earth.cutOff = {active(w, earthCutOffSet), w.RxSpinEdit18->value(), w.RxSpinEdit19->value()};
    s.earth.alarm = {active(w, earthAlarmSet), w.RxSpinEdit20->value(), w.RxSpinEdit21->value()};
    return s;
}

void connectCharacteristicsSettings(const TFKsb &w, QObject *context,
                                    const std::function<void()> &changed)
{
    for (SpinEdit *spin : {w.RxSpinEdit2, w.RxSpinEdit3, w.RxSpinEdit8, w.RxSpinEdit9,
                           w.RxSpinEdit10, w.RxSpinEdit11, w.RxSpinEdit12, w.RxSpinEdit13,
                           w.RxSpinEdit14, w.RxSpinEdit15, w.RxSpinEdit16, w.RxSpinEdit17,
                           w.RxSpinEdit18, w.RxSpinEdit19, w.RxSpinEdit20, w.RxSpinEdit21})
        QObject::connect(spin, &QSpinBox::valueChanged, context, [changed](int) { changed(); });
    for (QComboBox *list : {w.ComboBox1, w.ComboBox2, w.ComboBox3, w.ComboBox4})
        QObject::connect(list, &QComboBox::currentIndexChanged, context,
                         [changed](int) { changed(); });
    for (const RelaySetBoxes &set : relaySets)
        for (int n : {set.trip, set.out1, set.out2, set.out3})
            QObject::connect(w.checkBox(n), &QAbstractButton::toggled, context,
                             [changed](bool) { changed(); });
}
