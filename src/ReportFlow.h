#pragma once
// Text and pictures flowed down the pages of a paged device (a printer, a PDF writer): blocks
// placed top to bottom, a block that does not fit below what stands on a page starting the next
// one, tables that carry their title and header onto every page they continue on, the lines to
// sign, and "Стр. N из M" at the foot of every page. It knows nothing of what the blocks say.
#include "core/settings/settings_report.h"

#include <QByteArray>
#include <QFont>
#include <QString>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class QPagedPaintDevice;
class QPainter;
class QRectF;

// Measuring (no painter) and painting run the same code, so the first pass counts the pages the
// second numbers.
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

// A4 portrait with the report's margins.
void setUpReportPage(QPagedPaintDevice &device);
// A report as the bytes of a PDF file titled `title`: `paint` draws it on the A4 pages that
// setUpReportPage sets up.
QByteArray reportPdfBytes(const QString &title, const std::function<void(QPagedPaintDevice &)> &paint);
