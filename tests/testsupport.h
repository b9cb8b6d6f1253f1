#pragma once
// Shared helpers of the window tests.

#include <QDir>
#include <QFile>
#include <QString>

// Points the program's settings (QvoKsb.ini) at dir: $XDG_CONFIG_HOME, on Windows %APPDATA%.
inline void pointSettingsAt(const QString &dir)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir));
#ifdef _WIN32
    qputenv("APPDATA", QDir::toNativeSeparators(dir).toUtf8());
#endif
}

// Points the data the program keeps (the journal) at dir/QvoKsb: $XDG_DATA_HOME, on Windows
// %APPDATA%, which then also holds QvoKsb.ini.
inline void pointKeptDataAt(const QString &dir)
{
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir));
#ifdef _WIN32
    qputenv("APPDATA", QDir::toNativeSeparators(dir).toUtf8());
#endif
}
