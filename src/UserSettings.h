#pragma once
// Single values the windows keep in QvoKsb.ini beside the main window's placement: each store
// rewrites the file with every other section and key as it was.
#include <QString>

// The file's path: "QvoKsb.ini" in $XDG_CONFIG_HOME (else ~/.config); on Windows in %APPDATA%.
QString profilePath();

// The value, or an empty string when the file or the key is missing or unreadable.
QString storedValue(const char *section, const char *key);
// False with *problem (Russian) when the file could not be written.
bool storeValue(const char *section, const char *key, const QString &value,
                QString *problem = nullptr);
