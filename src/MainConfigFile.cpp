// Configuration files: the complete settings set of pages 1 to 5 and the last-trip texts of
// page 6, saved to and opened from an INI-style text file in code page 1251. The file itself is
// the core's (config_file.h); here are the dialogs, the messages and the status line.
#include "Main.h"

#include "FileNames.h"
#include "Messages.h"
#include "core/records/config_file.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

namespace
{

std::string localPath(const QString &name)
{
    return coreFileName(name);
}

} // namespace

void TFKsb::SISaveClick()
{
    if (!SaveDialog1.Execute(this))
        return;
    const QFileInfo target(SaveDialog1.FileName);
    // The old file is replaced only once the new one is complete (an atomic save), which ends
    // with the same file as deleting it first would.
    if (target.exists() && !target.isDir()) {
        if (!Messages::Confirm(this, QStringLiteral("Файл с именем:\n\r") + SaveDialog1.FileName +
                                         QStringLiteral("\n\rсуществует, перезаписать его?")))
            return;
    }
    SaveConfigFile();
}

void TFKsb::SaveConfigFile()
{
    bool written = false;
    try {
        written = !SaveDialog1.FileName.isEmpty() &&
                  qvoksb::writeConfigFile(localPath(SaveDialog1.FileName), currentSettings());
    } catch (...) {
        written = false;
    }
    if (!written) {
        Messages::Error(this, QStringLiteral("Внесенные изменения содержат ошибки и не могут быть "
                                             "записаны в файл конфигурации!"));
        return;
    }
    StaticText1->setText(QFileInfo(SaveDialog1.FileName).fileName());
    setOriginFile(StaticText1->text());
    Messages::Information(this, QStringLiteral("Текущая конфигурация сохранена в файле:\r\n") +
                                    StaticText1->text());
}

void TFKsb::SILoadClick()
{
    if (!OpenDialog1.Execute(this))
        return;
    LoadConfigFile();
}

void TFKsb::LoadConfigFile()
{
    const QString name = OpenDialog1.FileName;
    if (const auto set = openConfigFile(name)) {
        applySettings(*set);
        StaticText1->setText(QFileInfo(name).fileName());
        setOriginFile(StaticText1->text());
    }
}

void TFKsb::setOriginFile(const QString &fileName)
{
    Origin = qvoksb::SettingsOrigin();
    Origin.kind = qvoksb::SettingsOrigin::Kind::File;
    Origin.file = fileName.toStdString();
    Origin.set = currentSettings();
}

void TFKsb::setOriginUnit()
{
    Origin = qvoksb::SettingsOrigin();
    Origin.kind = qvoksb::SettingsOrigin::Kind::Unit;
    Origin.port = currentLinkName();
    Origin.address = RxSpinEdit26->value();
    Origin.time =
        QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm")).toStdString();
    Origin.set = currentSettings();
}

std::optional<qvoksb::SettingsSet> TFKsb::openConfigFile(const QString &name)
{
    const QString shortName = QFileInfo(name).fileName();
    // The whole file is read and checked before any control changes: a bad file leaves the
    // window as it was, rather than half of the old settings and half of the new.
    qvoksb::ConfigFileReading reading;
    try {
        reading = qvoksb::readConfigFile(localPath(name));
    } catch (...) {
        reading.ok = false;
        reading.problem = "файл не удаётся прочитать";
    }
    if (!reading.ok) {
        Messages::Error(this, QStringLiteral("Файл конфигурации:\r\n") + shortName +
                                  QStringLiteral("\r\nсодержит ошибки!\r\n") +
                                  QString::fromStdString(reading.problem));
        return std::nullopt;
    }
    return reading.set;
}
