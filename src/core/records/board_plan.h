#pragma once
// The units of one switchboard side by side: which file belongs to which unit, the checks made
// before a batch touches anything, and the board's record, one row per unit, as a table for the
// printed report and as CSV. Names and texts are UTF-8; the windows list folders and show it.
#include "core/settings/settings_report.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qvoksb::board
{

// The mark in a file name pattern that stands for the unit's address.
inline constexpr const char *AddressMark = "%a";
// An address as the page "УПРАВЛЕНИЕ" shows it: two hexadecimal digits, "0A".
std::string addressText(int address);
// The pattern with every %a replaced by the address.
std::string fileNameFor(const std::string &pattern, int address);

// Empty when the pattern may name the files of `units` units; otherwise why not (Russian): an
// empty pattern, or one without %a for more than one unit, which would give them all one file.
std::string patternProblem(const std::string &pattern, std::size_t units);

// One unit in the board's record.
struct Row {
    int address = 0;
    report::Labels labels; // the report form's fields for this unit's feeder
    std::string file;      // the assigned file, empty for none
    std::string digest;    // SHA-256 of the settings as last read or written, as the journal has it
    std::string result;    // of the last compare or verified write, in the window's words
    std::string date;      // when that was, "09.12.2026 11:40"
};

inline constexpr const char *ReportTitle = "Отчёт по щиту";
// Address, object and feeder, file, digest, result, date.
report::Table table(const std::vector<Row> &rows);
// The same columns as CSV in the settings export's style (';', CR LF, UTF-8 with a byte-order
// mark, a header line first).
std::string csvText(const std::vector<Row> &rows);

} // namespace qvoksb::board
