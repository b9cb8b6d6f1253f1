#include "BoardReport.h"

#include "FileNames.h"
#include "ReportCommands.h"
#include "ReportFlow.h"
#include "core/files/profile_file.h"

#include <QAction>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QToolBar>

namespace board = qvoksb::board;

namespace
{

QString footer(const BoardReport &report)
{
    return QString::fromUtf8(board::ReportTitle) + QStringLiteral(", ") +
           QString::fromStdString(report.time);
}

void flowBoard(ReportFlow &flow, const BoardReport &report)
{
    flow.title(QString::fromUtf8(board::ReportTitle));
    std::vector<std::pair<std::string, std::string>> facts = {
        {"Порт", report.port},
        {"Блоков", std::to_string(report.rows.size())},
        {"Дата отчёта", report.time},
    };
    if (!report.folder.empty())
        facts.insert(facts.begin() + 1, {"Папка выданных файлов", report.folder});
    flow.facts(facts);
    flow.table(board::table(report.rows));
    flow.signatures();
    flow.finish();
}

bool saveBytes(const QString &name, const std::string &bytes, QString *problem)
{
    std::string why;
    const bool ok = qvoksb::saveFileAtomically(coreFileName(name), bytes, &why);
    *problem = QString::fromStdString(why);
    return ok;
}

} // namespace

int paintBoardReport(QPagedPaintDevice &device, const BoardReport &report)
{
    ReportFlow measuring(device, nullptr, 0, footer(report));
    flowBoard(measuring, report);
    QPainter painter(&device);
    painter.setRenderHint(QPainter::Antialiasing);
    ReportFlow painting(device, &painter, measuring.pages(), footer(report));
    flowBoard(painting, report);
    return painting.pages();
}

QByteArray boardReportPdf(const BoardReport &report)
{
    return reportPdfBytes(QString::fromUtf8(board::ReportTitle),
                          [&report](QPagedPaintDevice &pdf) { paintBoardReport(pdf, report); });
}

void showBoardReport(const BoardReport &report, FileDialog &pdfDialog, FileDialog &csvDialog,
                     QWidget *parent)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QString::fromUtf8(board::ReportTitle));
    setUpReportPage(printer);
    QPrintPreviewDialog preview(&printer, parent);
    preview.setObjectName(QStringLiteral("BoardReportPreview"));
    preview.setWindowTitle(QString::fromUtf8(board::ReportTitle));
    preview.resize(900, 1000);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                     [&report](QPrinter *p) { paintBoardReport(*p, report); });
    const QString stem = QStringLiteral("Щит ") + QString::fromStdString(report.time).left(10);
    if (auto *bar = preview.findChild<QToolBar *>()) {
        QAction *pdf = bar->addAction(QStringLiteral("Сохранить в PDF ..."));
        pdf->setObjectName(QStringLiteral("SavePdf"));
        QObject::connect(pdf, &QAction::triggered, &preview, [&] {
            proposeName(pdfDialog, stem, QStringLiteral("pdf"));
            const QByteArray bytes = boardReportPdf(report);
            saveWithDialog(pdfDialog, &preview,
                           QStringLiteral("Отчёт по щиту сохранён в файле:\n"),
                           QStringLiteral("Отчёт по щиту не сохранён:\n"),
                           [&bytes](const QString &name, QString *problem) {
                               return saveBytes(name, bytes.toStdString(), problem);
                           });
        });
        QAction *csv = bar->addAction(QStringLiteral("Сохранить в CSV ..."));
        csv->setObjectName(QStringLiteral("SaveCsv"));
        QObject::connect(csv, &QAction::triggered, &preview, [&] {
            proposeName(csvDialog, stem, QStringLiteral("csv"));
            const std::string text = board::csvText(report.rows);
            saveWithDialog(csvDialog, &preview,
                           QStringLiteral("Отчёт по щиту сохранён в файле:\n"),
                           QStringLiteral("Отчёт по щиту не сохранён:\n"),
                           [&text](const QString &name, QString *problem) {
                               return saveBytes(name, text, problem);
                           });
        });
    }
    preview.exec();
}
