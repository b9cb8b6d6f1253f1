#pragma once
// The settings report on paper: the core's report (settings_report.h) flowed down A4 pages with
// page numbers and the lines to sign, shown in a print preview, printed or saved as PDF; and the
// settings exported as a CSV table. Both commands stand in the menu "Сервис".
#include "settings_report.h"

#include <QDateTime>
#include <QFont>
#include <QString>

#include <functional>
#include <memory>

class QPagedPaintDevice;
class QPainter;
class QRectF;
class QWidget;
class TFKsb;

// What one report shows, taken from the window at one moment: the preview, the printout and the
// PDF of one command show the same.
struct SettingsReport {
    qvoksb::SettingsSet set;
    qvoksb::report::Document document;
    QString footer;    // left of the page number on every page
    QString checkedBy; // the tester from the form, on the line "Проверил"
};

// `labels` are the form's fields (ReportForm), printed in the header.
SettingsReport settingsReport(const TFKsb &window, const QDateTime &now,
                              const qvoksb::report::Labels &labels = {});
// The settings whose controls the interlocks have switched off.
std::array<bool, qvoksb::SettingCount> unusedSettings(const TFKsb &window);

// Blocks flowed down the pages of a paged device, top to bottom: a block that does not fit
// below what stands on a page starts the next one. Measuring (no painter) and painting run the
// same code, so the first pass counts the pages the second numbers.
class ReportFlow
{
public:
    ReportFlow(QPagedPaintDevice &device, QPainter *painter, int pageCount, QString footer);
    ~ReportFlow();

    double widthPx() const { return widthPx_; }
    double mmPx(double mm) const;
    int pages() const { return page_; }

    void title(const QString &text);
    void facts(const std::vector<std::pair<std::string, std::string>> &lines);
    void table(const qvoksb::report::Table &table);
    void heading(const QString &text);
    // A picture `heightPx` high across the width, kept on one page.
    void picture(double heightPx, const std::function<void(QPainter &, const QRectF &)> &paint);
    // The tester's name, when known, stands on the line "Проверил".
    void signatures(const QString &checkedBy = {});
    void newPage();
    // A new page unless this one is still empty.
    void pageBreak();
    // Ends the last page (its footer).
    void finish();

private:
    class Text;
    std::unique_ptr<Text> text(const QString &text, const QFont &font, double widthPx,
                               bool centred = false) const;
    void paragraph(const QString &text, const QFont &font, double gapMm);
    // The top of a block of `heightPx`, on a new page when it does not fit on this one.
    double place(double heightPx);
    void footer();

    QPagedPaintDevice &device_;
    QPainter *painter_;
    int pageCount_;
    QString footer_;
    double widthPx_, bottomPx_, y_ = 0;
    int page_ = 1;
    QFont body_, bold_, small_, heading_, title_;
};

// The characteristics of the two protections: each plot with its test sheet.
void characteristicsSection(ReportFlow &flow, const qvoksb::SettingsSet &set);

// A4 portrait with the report's margins.
void setUpReportPage(QPagedPaintDevice &device);
// Paints the whole report; returns the number of pages.
int paintReport(QPagedPaintDevice &device, const SettingsReport &report);
QByteArray reportPdf(const SettingsReport &report);
// Writes the PDF atomically; *error says why not, in Russian.
bool saveReportPdf(const QString &path, const SettingsReport &report, QString *error);

// Asks for a PDF file name and saves the report there, with the standard boxes for an existing
// file, a failure and success.
void saveReportAsPdf(TFKsb *window, const SettingsReport &report, QWidget *parent);
// Asks for a CSV file name and exports the window's settings there.
void exportSettingsCsv(TFKsb *window);
// The print preview of the window's current settings.
void showSettingsReport(TFKsb *window);

// Adds "Отчёт о настройках ..." and "Экспорт в CSV ..." to the menu "Сервис".
void addReportCommands(TFKsb *window);
