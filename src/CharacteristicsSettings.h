#pragma once
// What the characteristics are drawn from beside the settings set: which settings they follow,
// and the choices of the characteristics window kept in QvoKsb.ini.
#include "core/settings/characteristics.h"

#include <QString>

#include <vector>

// The settings qvoksb::characteristics::settingsFrom reads, with those that decide whether a
// stage's relay set drives a relay: a window that shows the characteristics follows these.
std::vector<qvoksb::Setting> characteristicsInputs();

// The rated secondary current of the CT a protection's test sheet is given for, chosen in the
// characteristics window and kept in QvoKsb.ini: the window, the report and the copied sheet
// use the same. Phases: 5 or 1 A (5 at first). Earth: 0, the primary current only, at first,
// since the secondary of a zero-sequence CT is no quantity to inject; or 1 or 5 A.
int storedSecondaryA(qvoksb::characteristics::Protection protection);
void storeSecondaryA(qvoksb::characteristics::Protection protection, int amperes);
// The tolerance of the sheets' times, set in the characteristics window and kept beside it.
qvoksb::characteristics::Tolerance storedTolerance();
void storeTolerance(const qvoksb::characteristics::Tolerance &tolerance);
// The choices of a protection, in list order.
std::vector<int> secondaryChoices(qvoksb::characteristics::Protection protection);
// "Вторичный ток — для ТТ с номинальным вторичным током 5 А." or, for 0, that only the primary
// current is given.
QString secondaryNote(int amperes);
