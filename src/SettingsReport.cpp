#include "SettingsReport.h"

#include "CharacteristicsPlot.h"
#include "CharacteristicsSettings.h"
#include "FileNames.h"
#include "ReportFlow.h"
#include "core/files/profile_file.h"

#include <QPagedPaintDevice>
#include <QPainter>

using qvoksb::SettingsSet;
namespace report = qvoksb::report;

namespace
{

QString qs(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

} // namespace

std::array<bool, qvoksb::SettingCount> unusedSettings(const SettingsSet &set)
{
    std::array<bool, qvoksb::SettingCount> unused{};
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue())
        unused[qvoksb::indexOf(r.id)] = !qvoksb::settingInUse(set, r.id);
    return unused;
}

SettingsReport settingsReport(const SettingsSet &set, const ReportHeader &header,
                              const QDateTime &now, const report::Labels &labels)
{
    SettingsReport r;
    r.set = set;
    report::Facts facts;
    if (header.origin.kind == qvoksb::SettingsOrigin::Kind::Unit)
        facts.sourceCaption = "Настройки";
    facts.source = qvoksb::originText(header.origin, r.set);
    facts.labels = labels;
    r.checkedBy = qs(labels.tester);
    facts.reportTime = now.toString(QStringLiteral("dd.MM.yyyy HH:mm")).toStdString();
    facts.addressCaption = header.addressCaption;
    facts.addressText = header.addressText;
    facts.portText = header.portText;
    facts.unused = unusedSettings(r.set);
    r.document = report::buildDocument(r.set, facts);
    r.fileStem = qs(qvoksb::originFileStem(header.origin));
    r.footer = QString::fromUtf8(report::Title) + QStringLiteral(" — ") + r.fileStem +
               QStringLiteral(" — ") + qs(facts.reportTime);
    r.phaseSecondaryA = header.phaseSecondaryA;
    r.earthSecondaryA = header.earthSecondaryA;
    r.tolerance = header.tolerance;
    return r;
}

namespace
{

void flowReport(ReportFlow &flow, const SettingsReport &report)
{
    flow.title(QString::fromUtf8(report::Title));
    flow.facts(report.document.facts);
    for (const report::Table &t : report.document.tables)
        flow.table(t);
    characteristicsSection(flow, report);
    flow.signatures(report.checkedBy);
    flow.finish();
}

} // namespace

int paintReport(QPagedPaintDevice &device, const SettingsReport &report)
{
    ReportFlow measuring(device, nullptr, 0, report.footer);
    flowReport(measuring, report);
    QPainter painter(&device);
    painter.setRenderHint(QPainter::Antialiasing);
    ReportFlow painting(device, &painter, measuring.pages(), report.footer);
    flowReport(painting, report);
    return painting.pages();
}

QByteArray reportPdf(const SettingsReport &report)
{
    return reportPdfBytes(QString::fromUtf8(report::Title),
                          [&report](QPagedPaintDevice &pdf) { paintReport(pdf, report); });
}

bool saveReportPdf(const QString &path, const SettingsReport &report, QString *error)
{
    std::string problem;
    const QByteArray bytes = reportPdf(report);
    if (qvoksb::saveFileAtomically(coreFileName(path),
                                   std::string_view(bytes.constData(), std::size_t(bytes.size())),
                                   &problem))
        return true;
    if (error)
        *error = qs(problem);
    return false;
}

void characteristicsSection(ReportFlow &flow, const SettingsReport &report)
{
    namespace ch = qvoksb::characteristics;
    const ch::Settings settings = ch::settingsFrom(report.set);
    const std::pair<ch::Protection, const char *> protections[] = {
        {ch::Protection::Phases, "фазы"}, {ch::Protection::Earth, "земля"}};
    for (const auto &[protection, name] : protections) {
        // A protection's plot and its sheet fill one page.
        flow.pageBreak();
        flow.heading(QStringLiteral("Характеристики срабатывания: ") + QString::fromUtf8(name));
        const ch::PlotData data = ch::plotData(settings, protection);
        flow.picture(flow.mmPx(125),
                     [&data](QPainter &p, const QRectF &r) { paintCharacteristics(p, r, data); });
        const int ctSecondaryA =
            protection == ch::Protection::Earth ? report.earthSecondaryA : report.phaseSecondaryA;
        const ch::Sheet sheet = ch::testSheet(settings, protection, ctSecondaryA, report.tolerance);
        report::Table t;
        t.title = "Проверочная таблица";
        t.header.assign(ch::sheetHeader.begin(), ch::sheetHeader.end());
        t.widths = {11, 12, 12, 8, 26, 12, 11, 8};
        t.centred = {true, true, true, true, false, true, true, true};
        for (const ch::SheetRow &row : sheet.rows) {
            report::Row cells;
            for (const std::string &cell : ch::sheetCells(row))
                cells.push_back({cell});
            t.rows.push_back(std::move(cells));
        }
        t.note = "Кратности указаны к току срабатывания: " + sheet.reference + ". " +
                 secondaryNote(ctSecondaryA).toStdString() + " " + sheet.tolerance + ".";
        if (!sheet.formula.empty())
            t.note += " " + sheet.formula + ".";
        flow.table(t);
    }
}
