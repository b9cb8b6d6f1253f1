#include "UserSettings.h"

#include "FileNames.h"
#include "MainPlacement.h"
#include "cp1251.h"
#include "profile_file.h"

#include <QDir>
#include <QFileInfo>

QString storedValue(const char *section, const char *key)
{
    qvoksb::ProfileFile ini;
    if (!ini.load(coreFileName(PlacementStore::path())))
        return {};
    return QString::fromStdString(qvoksb::cp1251ToUtf8(ini.valueOr(section, key, "")));
}

bool storeValue(const char *section, const char *key, const QString &value, QString *problem)
{
    qvoksb::ProfileFile ini;
    std::string error;
    const std::string file = coreFileName(PlacementStore::path());
    QDir().mkpath(QFileInfo(PlacementStore::path()).absolutePath());
    const bool ok = ini.load(file, &error) &&
                    ini.setValue(section, key, qvoksb::cp1251FromUtf8(value.toStdString())) &&
                    ini.save(file, &error);
    if (!ok && problem)
        *problem = QString::fromStdString(error);
    return ok;
}
