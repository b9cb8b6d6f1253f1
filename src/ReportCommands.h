#pragma once
// The commands of the settings report and the CSV export: the form before the report, the print
// preview with its "Сохранить в PDF" button, the save dialogs and the messages after saving.
// Whoever offers the commands hands them the settings and the header's facts at that moment.
#include "FileDialog.h"
#include "SettingsReport.h"

#include <QString>

#include <functional>

class QWidget;

// The save dialogs of the report and of the export. Whoever offers the commands keeps one of
// each between uses, so that the folder chosen last is offered again.
FileDialog reportPdfDialog();
FileDialog settingsCsvDialog();

// Offers `stem` with `suffix` in the folder the dialog chose last, without the characters no file
// system takes in a name.
void proposeName(FileDialog &dialog, QString stem, const QString &suffix);
// Asks for a file with `dialog`, confirms replacing an existing one, writes it with `write` and
// says `done` and the name, or `failed` and why.
void saveWithDialog(FileDialog &dialog, QWidget *parent, const QString &done, const QString &failed,
                    const std::function<bool(const QString &, QString *)> &write);

// Asks for a PDF file name with `dialog`, offering one after where the settings came from, and
// saves the report there, with the standard boxes for an existing file, a failure and success.
void saveReportAsPdf(const SettingsReport &report, FileDialog &dialog, QWidget *parent);
// Asks for a CSV file name with `dialog` and exports the settings there.
void exportSettingsCsv(const qvoksb::SettingsSet &set, const qvoksb::SettingsOrigin &origin,
                       FileDialog &dialog, QWidget *parent);
// Asks the form's fields, then shows the report of these settings in a print preview, whose
// "Сохранить в PDF" saves with `pdfDialog`.
void showSettingsReport(const qvoksb::SettingsSet &set, const ReportHeader &header,
                        FileDialog &pdfDialog, QWidget *parent);
