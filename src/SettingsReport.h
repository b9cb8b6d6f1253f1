#pragma once
// The settings report on paper: the core's report (settings_report.h) of one settings set with
// what its header says beside it, flowed down A4 pages (ReportFlow.h) together with the plot and
// test sheet of each protection, and the lines to sign; painted on a printer or written as PDF.
// It takes what it shows as values: whoever asks for a report hands it the settings and the
// header's facts.
#include "core/settings/characteristics.h"
#include "core/settings/settings_origin.h"
#include "core/settings/settings_report.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <string>

class QPagedPaintDevice;
class ReportFlow;

// What the report's header says beside the settings, and the choices its test sheets follow.
struct ReportHeader {
    qvoksb::SettingsOrigin origin; // where the settings came from
    std::string addressCaption;    // the caption of the Modbus address on its page
    std::string addressText;       // the address as that page shows it (hexadecimal)
    std::string portText;          // the chosen port as its menu item names it
    // The rated secondary currents of the CTs the sheets give secondary currents for (0: the
    // primary current only), and the sheets' time tolerance.
    int phaseSecondaryA = 5;
    int earthSecondaryA = 0;
    qvoksb::characteristics::Tolerance tolerance;
};

// What one report shows, taken at one moment: the preview, the printout and the PDF of one
// command show the same.
struct SettingsReport {
    qvoksb::SettingsSet set;
    qvoksb::report::Document document;
    QString footer;    // left of the page number on every page
    QString checkedBy; // the tester from the form, on the line "Проверил"
    QString fileStem;  // the name a saved report is offered, after where the settings came from
    int phaseSecondaryA = 5;
    int earthSecondaryA = 0;
    qvoksb::characteristics::Tolerance tolerance;
};

// `labels` are the form's fields (ReportForm), printed in the header.
SettingsReport settingsReport(const qvoksb::SettingsSet &set, const ReportHeader &header,
                              const QDateTime &now, const qvoksb::report::Labels &labels = {});
// The settings the unit does not use, given the others: the interlocks have switched them off.
std::array<bool, qvoksb::SettingCount> unusedSettings(const qvoksb::SettingsSet &set);

// The characteristics of the two protections: each plot with its test sheet, a page each.
void characteristicsSection(ReportFlow &flow, const SettingsReport &report);

// Paints the whole report on a device set up with setUpReportPage (ReportFlow.h); returns the
// number of pages.
int paintReport(QPagedPaintDevice &device, const SettingsReport &report);
QByteArray reportPdf(const SettingsReport &report);
// Writes the PDF atomically; *error says why not, in Russian.
bool saveReportPdf(const QString &path, const SettingsReport &report, QString *error);
