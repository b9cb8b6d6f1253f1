#pragma once
// The record of a switchboard on paper: one table of its units (address, object and feeder, file,
// digest, result of the last compare or verified write, date) with the port and the folder above
// and the lines to sign below, flowed down A4 pages as the settings report is; printed, saved as
// PDF, or saved as CSV from the print preview. The report of one unit stays the settings report.
#include "FileDialog.h"
#include "core/records/board_plan.h"

#include <QByteArray>

#include <string>
#include <vector>

class QPagedPaintDevice;
class QWidget;

struct BoardReport {
    std::vector<qvoksb::board::Row> rows;
    std::string port;   // "COM3"
    std::string folder; // the folder of issued files; may be empty
    std::string time;   // when the report was made, "09.12.2026 11:40"
};

// Paints the report on a device set up with setUpReportPage; returns the number of pages.
int paintBoardReport(QPagedPaintDevice &device, const BoardReport &report);
QByteArray boardReportPdf(const BoardReport &report);
// The print preview with "Сохранить в PDF ..." and "Сохранить в CSV ..." beside printing.
void showBoardReport(const BoardReport &report, FileDialog &pdfDialog, FileDialog &csvDialog,
                     QWidget *parent);
