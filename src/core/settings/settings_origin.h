#pragma once
// Where the window's settings came from: the factory values, a configuration file, or a read
// from a unit. The report's header and the journal of work say it; edits since are counted
// against the settings as they came.
#include "core/settings/settings_set.h"

#include <string>

namespace qvoksb
{

struct SettingsOrigin {
    enum class Kind { Factory, File, Unit };
    Kind kind = Kind::Factory;
    std::string file; // File: the file's name as the status line shows it (UTF-8)
    std::string port; // Unit: "COM3"
    int address = -1; // Unit: the unit's Modbus address
    std::string time; // Unit: when it was read, "08.12.2026 14:05"
    SettingsSet set;  // the settings as they came
};

// The origin for the report's header and the journal:
//   "default.txt (заводская конфигурация)" or "feeder.txt", followed by ", изменены после
//   открытия: N параметров" when `current` differs from what came in N configuration settings;
//   "прочитаны из блока COM3, адрес 01, 08.12.2026 14:05", followed by ", изменены после чтения:
//   N параметров" after edits.
std::string originText(const SettingsOrigin &origin, const SettingsSet &current);
// The configuration settings (no last-trip texts) `current` holds otherwise than what came.
int editsSinceOrigin(const SettingsOrigin &origin, const SettingsSet &current);
// A stem for files made from these settings: the file's own stem, or "KSB-7 COM3 адрес 01
// 2026-12-08" after a read, "KSB-7" for the factory values.
std::string originFileStem(const SettingsOrigin &origin);

} // namespace qvoksb
