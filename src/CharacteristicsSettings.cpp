#include "CharacteristicsSettings.h"

#include "UserSettings.h"

#include <algorithm>

using namespace qvoksb::characteristics;

std::vector<qvoksb::Setting> characteristicsInputs()
{
    using S = qvoksb::Setting;
    std::vector<S> which = {S::RxSpinEdit2,  S::RxSpinEdit3,  S::RxSpinEdit8,  S::RxSpinEdit9,
                            S::RxSpinEdit10, S::RxSpinEdit11, S::RxSpinEdit12, S::RxSpinEdit13,
                            S::RxSpinEdit14, S::RxSpinEdit15, S::RxSpinEdit16, S::RxSpinEdit17,
                            S::RxSpinEdit18, S::RxSpinEdit19, S::RxSpinEdit20, S::RxSpinEdit21,
                            S::ComboBox1,    S::ComboBox2,    S::ComboBox3,    S::ComboBox4};
    // The relay sets of the six protection stages, phases (4 to 6) then earth (7 to 9).
    for (const qvoksb::RelaySet &set : qvoksb::RelaySets)
        if (set.number >= 4)
            for (std::size_t box = set.hasTripBox ? 0 : 1; box < set.boxes.size(); ++box)
                which.push_back(set.boxes[box]);
    return which;
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
