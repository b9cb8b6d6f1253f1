#include "UserSettings.h"

#include "FileNames.h"
#include "core/files/cp1251.h"
#include "core/link/port_directory.h"
#include "core/files/profile_file.h"

#include <QDir>
#include <QFileInfo>

QString profilePath()
{
    return fromCoreFileName(qvoksb::configHome()) + QStringLiteral("/QvoKsb.ini");
}

QString storedValue(const char *section, const char *key)
{
    qvoksb::ProfileFile ini;
    if (!ini.load(coreFileName(profilePath())))
        return {};
    return QString::fromStdString(qvoksb::cp1251ToUtf8(ini.valueOr(section, key, "")));
}

bool storeValue(const char *section, const char *key, const QString &value, QString *problem)
{
    qvoksb::ProfileFile ini;
    std::string error;
    const std::string file = coreFileName(profilePath());
    QDir().mkpath(QFileInfo(profilePath()).absolutePath());
    const bool ok = ini.load(file, &error) &&
                    ini.setValue(section, key, qvoksb::cp1251FromUtf8(value.toStdString())) &&
                    ini.save(file, &error);
    if (!ok && problem)
        *problem = QString::fromStdString(error);
    return ok;
}
