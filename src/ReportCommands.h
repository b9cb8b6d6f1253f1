#pragma once
// The commands of the settings report and the CSV export: the form before the report, the print
// preview with its "Сохранить в PDF" button, the save dialogs and the messages after saving.
// Whoever offers the commands hands them the settings and the header's facts at that moment.
#include "SettingsReport.h"

class QWidget;

// Asks for a PDF file name, offering one after where the settings came from, and saves the
// report there, with the standard boxes for an existing file, a failure and success.
void saveReportAsPdf(const SettingsReport &report, QWidget *parent);
// Asks for a CSV file name and exports the settings there.
void exportSettingsCsv(const qvoksb::SettingsSet &set, const qvoksb::SettingsOrigin &origin,
                       QWidget *parent);
// Asks the form's fields, then shows the report of these settings in a print preview.
void showSettingsReport(const qvoksb::SettingsSet &set, const ReportHeader &header,
                        QWidget *parent);
