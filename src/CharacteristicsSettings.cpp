#include "CharacteristicsSettings.h"

#include "Main.h"
#include "UserSettings.h"

#include <algorithm>

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

namespace
{

const char *secondaryKey(Protection protection)
{
    return protection == Protection::Earth ? "EarthSecondaryA" : "PhaseSecondaryA";
}

} // namespace

std::vector<int> secondaryChoices(Protection protection)
{
    return protection == Protection::Earth ? std::vector<int>{0, 1, 5} : std::vector<int>{5, 1};
}

int storedSecondaryA(Protection protection)
{
    bool number = false;
    const int stored = storedValue("Characteristics", secondaryKey(protection)).toInt(&number);
    const std::vector<int> choices = secondaryChoices(protection);
    return number && std::find(choices.begin(), choices.end(), stored) != choices.end()
               ? stored
               : choices.front();
}

void storeSecondaryA(Protection protection, int amperes)
{
    // A choice that cannot be kept still holds for this run.
    storeValue("Characteristics", secondaryKey(protection), QString::number(amperes));
}

QString secondaryNote(int amperes)
{
    if (amperes <= 0)
        return QStringLiteral("Вторичный ток не указан: задан только первичный ток.");
    return QStringLiteral("Вторичный ток — для ТТ с номинальным вторичным током %1 А.")
        .arg(amperes);
}

Tolerance storedTolerance()
{
    Tolerance t;
    bool ok = false;
    const double percent = storedValue("Characteristics", "TolerancePercent").toDouble(&ok);
    if (ok && percent >= 0 && percent <= 100)
        t.percent = percent;
    const int ms = storedValue("Characteristics", "ToleranceMs").toInt(&ok);
    if (ok && ms >= 0 && ms <= 10000)
        t.ms = ms;
    return t;
}

void storeTolerance(const Tolerance &tolerance)
{
    storeValue("Characteristics", "TolerancePercent", QString::number(tolerance.percent));
    storeValue("Characteristics", "ToleranceMs", QString::number(tolerance.ms));
}
