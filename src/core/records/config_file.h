#pragma once
// Configuration files: a complete settings set as an INI-style text file in code page 1251, six
// sections and 76 keys, one per row of the settings catalogue, in catalogue order. The same rows
// write and read, so a file written here opens to the same set.
#include "core/settings/settings_set.h"

#include <string>
#include <string_view>

namespace qvoksb
{

struct ConfigFileReading {
    bool ok = false;
    SettingsSet set;     // the file's settings when ok; the factory set otherwise
    std::string problem; // when not ok: why, in one Russian line (UTF-8)
};

// Reads a whole file. Every numeric key must be present and an optionally signed decimal
// integer; numbers are clamped into their setting's range, an index outside its list means no
// item, any non-zero number checks a relay box; the last-trip texts may be absent. The first
// bad key refuses the whole file: a file is applied completely or not at all.
ConfigFileReading readConfigFile(const std::string &path);
ConfigFileReading parseConfigFile(std::string_view bytes);

// The file's bytes for a set, and writing them atomically (the old file stays whole on any
// failure). *problem says why a write failed, in Russian.
std::string configFileBytes(const SettingsSet &set);
bool writeConfigFile(const std::string &path, const SettingsSet &set, std::string *problem = nullptr);

} // namespace qvoksb
