#pragma once
// File names between the windows (QString) and the core (std::string), in the encoding the
// core's file functions take on this system.
#include "core/link/port_directory.h"

#include <QFile>
#include <QString>

#include <string>

inline std::string coreFileName(const QString &name)
{
    return (qvoksb::fileNamesAreUtf8() ? name.toUtf8() : QFile::encodeName(name)).toStdString();
}

inline QString fromCoreFileName(const std::string &name)
{
    return qvoksb::fileNamesAreUtf8() ? QString::fromStdString(name)
                                      : QFile::decodeName(name.c_str());
}
