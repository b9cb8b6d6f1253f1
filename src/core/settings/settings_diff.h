#pragma once
// What differs between two settings sets, as a person reads it: one row per setting with its
// page, its caption (with the frame it sits in) and both values in words with their units. The
// difference window and the command-line tool show the same rows.
//
// Texts are UTF-8.
#include "core/settings/settings_set.h"

#include <string>
#include <vector>

namespace qvoksb
{

struct DifferenceRow {
    Setting setting;
    std::string page;    // "УСТАВКИ МТЗ"
    std::string caption; // "Времязависимая МТЗ в фазах. Порог (%ТТ)", "ВЫХ.1: Режим работы"
    std::string left; // the value in the first set, with its unit: "1000 мсек", "ЗАЩЕЛКА"
    std::string right; // the value in the second set
    bool differs = true;
};

enum class Compared {
    Configuration, // the settings the unit's configuration blocks carry
    Everything,    // also the last-trip texts, which a configuration file keeps
};

// The rows of the settings that differ between `left` and `right`, in catalogue order; with
// `all`, a row for every compared setting (`differs` tells them apart).
std::vector<DifferenceRow> differenceRows(const SettingsSet &left, const SettingsSet &right,
                                          Compared compared, bool all = false);

// How many compared settings differ.
std::size_t differenceCount(const SettingsSet &left, const SettingsSet &right, Compared compared);

// A value with its unit: "250 мсек", "50 Гц", a list item's words, "да"/"нет".
std::string valueWithUnit(const SettingsSet &set, Setting s);

// What a write would put into the unit differently from what the set shows: a value between
// the register's steps (55 Hz travels as 50 Hz, a 250 ms pulse as 200 ms) and a list with no
// item chosen. `right` is the value the unit would hold. Empty when the unit can carry the set
// exactly.
std::vector<DifferenceRow> valuesTheUnitCannotCarry(const SettingsSet &set);

} // namespace qvoksb
