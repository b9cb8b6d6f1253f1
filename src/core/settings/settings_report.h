#pragma once
// The settings report a commissioning engineer signs, and the settings as a CSV table: what they
// say, computed from a settings set and what the window knows beside it (file, port, which
// settings the interlocks have switched off). Painting the report onto pages is the window's.
// Captions, items and units come from the settings catalogue; texts are UTF-8.
#include "core/settings/settings_set.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace qvoksb::report
{

inline constexpr const char *Title = "Отчёт о настройках блока KSB-7";
// The mark of a setting the interlocks have switched off: the unit ignores its value.
inline constexpr const char *UnusedMark = "не используется";
inline constexpr std::array<const char *, 3> SignatureCaptions = {"Составил", "Проверил", "Дата"};

struct Cell {
    std::string text;
    bool unused = false; // shown in grey
};
using Row = std::vector<Cell>;

struct Table {
    std::string title;               // above the table; may be empty
    std::vector<std::string> header; // column headings
    std::vector<int> widths;         // relative column widths
    std::vector<bool> centred;       // per column
    std::vector<Row> rows;
    std::string note; // under the table; may be empty
};

// The short form before the report: where and who. The first three are printed in the header,
// the tester's name on the line "Проверил" among the signatures. Any may be empty.
inline constexpr std::array<const char *, 4> LabelCaptions = {"Объект", "Присоединение",
                                                              "Заводской номер блока", "Проверил"};
struct Labels {
    std::string object, feeder, serialNumber, tester;
};
// An empty field of the form is printed as a line to fill in by hand.
inline constexpr const char *BlankField = "________________________";

// What the window knows beside the settings set.
struct Facts {
    // Where the settings came from (settings_origin.h): "Файл конфигурации" and the file, or
    // "Настройки" and the read from a unit.
    std::string sourceCaption = "Файл конфигурации";
    std::string source;
    Labels labels;
    std::string reportTime;     // "08.12.2026 14:05"
    std::string addressCaption; // the caption of the Modbus address on its page
    std::string addressText;    // as the page shows it (hexadecimal)
    std::string portText;       // the chosen port as its menu item names it
    // The settings whose controls the interlocks have disabled.
    std::array<bool, SettingCount> unused{};
};

struct Document {
    std::vector<std::pair<std::string, std::string>> facts; // the header's lines
    // The pages' settings in page order, the relay matrix after the protections' pages, then the
    // relays' modes, the inputs and the last trip when known.
    std::vector<Table> tables;
};

Document buildDocument(const SettingsSet &set, const Facts &facts);

using qvoksb::plainCaption;

// The relay-output matrix: one row per relay set, a cross for a checked box, "—" where the set
// has no such box; the "ВЫХ.3" column marked while the self-diagnosis holds output 3.
Table relayMatrix(const SettingsSet &set, const std::array<bool, SettingCount> &unused);

// One line per setting: page, name, value, unit, "не используется" for a setting the interlocks
// leave unused in this set; ';' between fields, CR LF after each line, UTF-8 with a byte-order
// mark, a header line first.
std::string csvText(const SettingsSet &set);
// One CSV field: a number bare, every text quoted. A text a spreadsheet would take for a formula
// (starting, after spaces and tabs, with '=', '+', '-', '@', or starting with a tab or CR) is
// kept as text by a leading apostrophe, and so is each part after a comma or a line break, for
// a spreadsheet that splits there; control characters other than line breaks and tabs become
// U+FFFD.
std::string csvField(std::string_view text);
inline constexpr std::array<const char *, 5> CsvHeader = {"Страница", "Параметр", "Значение",
                                                         "Единица", "Примечание"};

} // namespace qvoksb::report
