#include "ReportCommands.h"

#include "FileDialog.h"
#include "FileNames.h"
#include "Messages.h"
#include "ReportFlow.h"
#include "ReportForm.h"
#include "core/files/profile_file.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QToolBar>
#include <QToolButton>

#include <functional>

using qvoksb::SettingsSet;
namespace report = qvoksb::report;

FileDialog reportPdfDialog()
{
    return FileDialog(FileDialog::Save, QStringLiteral("Сохранение отчёта о настройках ..."),
                      QStringLiteral("документ PDF"), QStringLiteral("*.pdf"),
                      QStringLiteral("pdf"));
}

FileDialog settingsCsvDialog()
{
    return FileDialog(FileDialog::Save, QStringLiteral("Экспорт настроек в CSV ..."),
                      QStringLiteral("таблица CSV"), QStringLiteral("*.csv"),
                      QStringLiteral("csv"));
}

// The file is named after where the settings came from (the configuration file, or the unit
// and the day of the read), in the folder chosen last time.
void proposeName(FileDialog &dialog, QString stem, const QString &suffix)
{
    const QDir folder =
        dialog.FileName.isEmpty() ? QDir::current() : QFileInfo(dialog.FileName).absoluteDir();
    // Characters no file system takes in a name.
    static const QRegularExpression unsafe(QStringLiteral(R"([\\/:*?"<>|])"));
    stem.replace(unsafe, QStringLiteral("_"));
    dialog.FileName = folder.filePath(stem + QLatin1Char('.') + suffix);
}

// Asks for a file, confirms replacing an existing one, writes it with `write` and reports.
void saveWithDialog(FileDialog &dialog, QWidget *parent, const QString &done, const QString &failed,
                    const std::function<bool(const QString &, QString *)> &write)
{
    if (!dialog.Execute(parent))
        return;
    const QString name = dialog.FileName;
    const QFileInfo target(name);
    if (target.exists() && !target.isDir() &&
        !Messages::Confirm(parent, QStringLiteral("Файл с именем:\n") + name +
                                       QStringLiteral("\nсуществует, перезаписать его?")))
        return;
    QString problem;
    if (!write(name, &problem)) {
        Messages::Error(parent, failed + problem);
        return;
    }
    Messages::Information(parent, done + name);
}

void saveReportAsPdf(const SettingsReport &report, FileDialog &dialog, QWidget *parent)
{
    proposeName(dialog, report.fileStem, QStringLiteral("pdf"));
    saveWithDialog(dialog, parent, QStringLiteral("Отчёт о настройках сохранён в файле:\n"),
                   QStringLiteral("Отчёт о настройках не сохранён:\n"),
                   [&report](const QString &name, QString *problem) {
                       return saveReportPdf(name, report, problem);
                   });
}

void exportSettingsCsv(const SettingsSet &set, const qvoksb::SettingsOrigin &origin,
                       FileDialog &dialog, QWidget *parent)
{
    proposeName(dialog, QString::fromStdString(qvoksb::originFileStem(origin)),
                QStringLiteral("csv"));
    const std::string csv = report::csvText(set);
    saveWithDialog(dialog, parent, QStringLiteral("Настройки сохранены в файле:\n"),
                   QStringLiteral("Настройки не сохранены:\n"),
                   [&csv](const QString &name, QString *problem) {
                       std::string why;
                       const bool ok = qvoksb::saveFileAtomically(coreFileName(name), csv, &why);
                       *problem = QString::fromStdString(why);
                       return ok;
                   });
}

void showSettingsReport(const SettingsSet &set, const ReportHeader &header, FileDialog &pdfDialog,
                        QWidget *parent)
{
    report::Labels labels;
    {
        ReportForm form(parent);
        if (!form.ask())
            return;
        labels = form.labels();
    }
    const SettingsReport report = settingsReport(set, header, QDateTime::currentDateTime(), labels);
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromUtf8(report::Title));
    setUpReportPage(printer);
    QPrintPreviewDialog preview(&printer, parent);
    preview.setObjectName(QStringLiteral("ReportPreview"));
    preview.setWindowTitle(QString::fromUtf8(report::Title));
    preview.resize(900, 1000);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                     [&report](QPrinter *p) { paintReport(*p, report); });
    // Saving as PDF is one button beside printing.
    if (auto *bar = preview.findChild<QToolBar *>()) {
        // The button that opens the buttons a narrow bar cannot show is read out by its purpose.
        if (auto *more = bar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button")))
            more->setAccessibleName(QStringLiteral("Другие кнопки"));
        QAction *save = bar->addAction(QStringLiteral("Сохранить в PDF ..."));
        save->setObjectName(QStringLiteral("SavePdf"));
        save->setToolTip(QStringLiteral("сохранить отчёт в файл PDF"));
        QObject::connect(save, &QAction::triggered, &preview, [&report, &pdfDialog, &preview] {
            saveReportAsPdf(report, pdfDialog, &preview);
        });
    }
    preview.exec();
}
