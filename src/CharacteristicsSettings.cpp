#include "CharacteristicsSettings.h"

#include "Main.h"

#include <QCheckBox>
#include <QComboBox>

using namespace qvoksb::characteristics;

namespace
{

// The relay sets of the six protection stages: "ВЫКЛ", "ВЫХ.1", "ВЫХ.2", "ВЫХ.3" by check box
// number, phases then earth.
constexpr int relaySetBoxes[6][4] = {{12, 13, 14, 15}, {16, 17, 18, 19}, {20, 21, 22, 23},
                                     {24, 25, 26, 27}, {28, 29, 30, 31}, {32, 33, 34, 35}};

} // namespace

Settings characteristicsSettings(const TFKsb &w)
{
    return settingsFrom(w.currentSettings());
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
    for (const auto &set : relaySetBoxes)
        for (int n : set)
            QObject::connect(w.checkBox(n), &QAbstractButton::toggled, context,
                             [changed](bool) { changed(); });
}
