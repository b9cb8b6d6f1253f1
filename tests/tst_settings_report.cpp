// The settings report as a PDF read back with poppler's pdftotext, and the CSV export, both
// from the commands of a real main window.
#include "CharacteristicsSettings.h"
#include "Main.h"
#include "Messages.h"
#include "ReportCommands.h"
#include "ReportForm.h"
#include "core/settings/characteristics.h"
#include "core/records/config_file.h"
#include "report_sets.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using qvoksb::Setting;

namespace
{

QString pdftotext(const QString &pdf, const QStringList &options)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), QStringList(options) << pdf << QStringLiteral("-"));
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The pages of a PDF as pdftotext lays them out, one string per page.
QStringList pdfPages(const QString &pdf)
{
    QStringList pages = pdftotext(pdf, {QStringLiteral("-layout")}).split(QLatin1Char('\f'));
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

// The first line of the text that holds `what`.
QString lineWith(const QString &text, const QString &what)
{
    for (const QString &line : text.split(QLatin1Char('\n')))
        if (line.contains(what))
            return line;
    return QString();
}

struct Word {
    int page;
    QRectF box;
    QString text;
};

// Every word of the PDF with its box in points, and the pages' sizes.
std::vector<Word> pdfWords(const QString &pdf, QList<QSizeF> *pageSizes)
{
    const QString html = pdftotext(pdf, {QStringLiteral("-bbox")});
    static const QRegularExpression page(
        QStringLiteral(R"re(<page width="([\d.]+)" height="([\d.]+)">)re"));
    static const QRegularExpression word(QStringLiteral(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re"));
    std::vector<Word> words;
    int pageNumber = -1;
    for (const QString &line : html.split(QLatin1Char('\n'))) {
        if (const auto m = page.match(line); m.hasMatch()) {
            ++pageNumber;
            pageSizes->append(QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()));
        } else if (const auto w = word.match(line); w.hasMatch()) {
            const QPointF from(w.captured(1).toDouble(), w.captured(2).toDouble());
            const QPointF to(w.captured(3).toDouble(), w.captured(4).toDouble());
            words.push_back({pageNumber, QRectF(from, to), w.captured(5)});
        }
    }
    return words;
}

// The rows of a CSV file as Python's csv module reads them with the given separator.
QList<QStringList> csvRows(const QString &file, char separator = ';')
{
    QProcess p;
    p.start(QStringLiteral("python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import csv, json, sys\n"
                            "with open(sys.argv[1], newline='', encoding='utf-8-sig') as f:\n"
                            "    print(json.dumps(list(csv.reader(f, delimiter=sys.argv[2]))))\n"),
             file, QString(QLatin1Char(separator))});
    QList<QStringList> rows;
    if (!p.waitForFinished(60000) || p.exitCode() != 0)
        return rows;
    for (const QJsonValue &row : QJsonDocument::fromJson(p.readAllStandardOutput()).array()) {
        QStringList cells;
        for (const QJsonValue &cell : row.toArray())
            cells << cell.toString();
        rows << cells;
    }
    return rows;
}

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

QString caption(Setting s)
{
    return qs(qvoksb::report::plainCaption(qvoksb::rowOf(s).caption));
}

// The report of what the window holds and shows.
SettingsReport settingsReport(const TFKsb &w, const QDateTime &at,
                              const qvoksb::report::Labels &labels = {})
{
    return settingsReport(w.currentSettings(), w.reportHeader(), at, labels);
}

// The settings whose controls the interlocks have switched off in the window.
std::array<bool, qvoksb::SettingCount> disabledSettings(const TFKsb &w)
{
    std::array<bool, qvoksb::SettingCount> disabled{};
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue()) {
        // The control's own state: a page or a window disabled as a whole says nothing.
        const QWidget *c = w.settingControl(r.id);
        disabled[qvoksb::indexOf(r.id)] = c && c->testAttribute(Qt::WA_ForceDisabled);
    }
    return disabled;
}

} // namespace

class TestSettingsReport : public QObject
{
    Q_OBJECT

    // The form's fields and the CT secondaries go to a QvoKsb.ini of this run's own, made first
    // and removed last.
    OwnSettingsFolder settings_;
    std::unique_ptr<QTemporaryDir> dir_;
    MessageBoxes boxes_;
    QString chosenFile_;
    QString proposed_; // what the save dialog offered

    QString path(const QString &name) const { return dir_->filePath(name); }

    // Saves the window's report through the command's dialog, as a user would.
    void savePdf(TFKsb &w, const QString &name)
    {
        chosenFile_ = name;
        saveReportAsPdf(settingsReport(w, QDateTime(QDate(2026, 12, 8), QTime(14, 5))),
                        w.ReportDialog, &w);
    }

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        boxes_.clear();
        FileDialog::executeHook = [this](FileDialog &d) {
            proposed_ = d.FileName;
            d.FileName = chosenFile_;
            return true;
        };
    }
    void cleanup()
    {
        FileDialog::executeHook = nullptr;
        QFile::setPermissions(dir_->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void commandsStandInServiceMenu()
    {
        TFKsb w;
        QStringList captions;
        for (QAction *a : w.ServiceMenu->actions())
            captions << a->text();
        QVERIFY(captions.contains(QStringLiteral("Отчёт о настройках ...")));
        QVERIFY(captions.contains(QStringLiteral("Экспорт в CSV ...")));
        QVERIFY(w.ServiceMenu->menuAction()->isVisible());

        // The report asks for the object, feeder, serial number and tester, then opens in a
        // print preview that also saves as PDF. What was typed is offered the next time.
        bool previewed = false;
        const auto fillForm = [this, &previewed](const QString &object) {
            auto *form = qobject_cast<ReportForm *>(QApplication::activeModalWidget());
            if (!form)
                return;
            form->ObjectEdit->setText(object);
            form->TesterEdit->setText(QStringLiteral("Иванов И. И."));
            QTimer::singleShot(0, this, [&previewed] {
                auto *preview =
                    qobject_cast<QPrintPreviewDialog *>(QApplication::activeModalWidget());
                previewed = preview && preview->findChild<QAction *>(QStringLiteral("SavePdf"));
                if (preview)
                    preview->reject();
            });
            form->accept();
        };
        QTimer::singleShot(0, this, [&] { fillForm(QStringLiteral("ПС 110 кВ «Северная»")); });
        w.findChild<QAction *>(QStringLiteral("ReportCommand"))->trigger();
        QVERIFY(previewed);
        ReportForm again;
        QCOMPARE(again.ObjectEdit->text(), QStringLiteral("ПС 110 кВ «Северная»"));
        QCOMPARE(again.TesterEdit->text(), QStringLiteral("Иванов И. И."));
        QCOMPARE(again.FeederEdit->text(), QString());
        // Cancelling the form shows no report and keeps what was stored.
        previewed = false;
        QTimer::singleShot(0, this, [] {
            if (auto *form = qobject_cast<ReportForm *>(QApplication::activeModalWidget()))
                form->reject();
        });
        w.findChild<QAction *>(QStringLiteral("ReportCommand"))->trigger();
        QVERIFY(!previewed);
        QCOMPARE(ReportForm::stored().object, std::string("ПС 110 кВ «Северная»"));
    }

    void reportHoldsEverySetting()
    {
        TFKsb w;
        w.applySettings(changedSettings());
        w.RxSpinEdit26->setValue(247);
        w.COM16Click(w.COM[2]);
        const QString name = path("report.pdf");
        savePdf(w, name);
        QCOMPARE(boxes_.shown.size(), 1);
        QCOMPARE(boxes_.shown.first().first, Messages::Kind::Information);

        const QStringList pages = pdfPages(name);
        QVERIFY(pages.size() >= 2);
        const QString all = pages.join(QLatin1Char('\n'));
        QVERIFY(all.startsWith(QStringLiteral("Отчёт о настройках блока KSB-7")));
        QVERIFY(lineWith(all, QStringLiteral("Modbus адрес (hex)")).contains(QStringLiteral("F7")));
        QVERIFY(lineWith(all, QStringLiteral("Порт:")).contains(QStringLiteral("СОМ 3")));
        QVERIFY(lineWith(all, QStringLiteral("Файл конфигурации:"))
                    .contains(QStringLiteral("заводская конфигурация")));
        QVERIFY(lineWith(all, QStringLiteral("Дата и время отчёта:"))
                    .contains(QStringLiteral("08.12.2026 14:05")));
        for (int i = 0; i < pages.size(); ++i)
            QVERIFY2(
                pages[i].contains(QStringLiteral("Стр. %1 из %2").arg(i + 1).arg(pages.size())),
                qPrintable(QString::number(i + 1)));

        // Every setting of pages 1 to 3 on one line with its value (the first word of a value
        // that wraps) and unit.
        const qvoksb::SettingsSet set = w.currentSettings();
        const auto unused = disabledSettings(w);
        for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue()) {
            if (r.page > qvoksb::Page::EarthFault || r.kind == qvoksb::Kind::RelayBox)
                continue;
            QString name = caption(r.id);
            QString value = qs(qvoksb::valueText(set, r.id)).section(u' ', 0, 0);
            // A setting in tenths is printed as the unit applies it, the setting beside it.
            if (name.endsWith(QStringLiteral(" (x10)"))) {
                name.chop(6);
                value = QString::number(set.value(r.id) / 10.0).replace(u'.', u',') +
                        QStringLiteral(" уставка ") + value + QStringLiteral(" (x10)");
                name += QStringLiteral("  ");
            }
            const QString line = lineWith(all, name).simplified();
            QVERIFY2(line.contains(value) && line.contains(QString::fromUtf8(r.unit)), r.control);
            QVERIFY2(line.contains(QStringLiteral("не используется")) ==
                         unused[qvoksb::indexOf(r.id)],
                     qPrintable(line));
        }
        // The interlocks as the unit's documents give them: a curve uses the multiplier, not the
        // delay; output 3 is free of the self-diagnosis ("НЕТ").
        QVERIFY(lineWith(all, QStringLiteral("Вид МТЗ в фазах "))
                    .contains(QStringLiteral("ANSI нормальная")));
        QVERIFY(lineWith(all, QStringLiteral("Времязависимая МТЗ в фазах. Задержка"))
                    .contains(QStringLiteral("не используется")));
        QVERIFY(!lineWith(all, QStringLiteral("Вид МТЗ в фазах. Множитель"))
                     .contains(QStringLiteral("не используется")));

        // The relay matrix: a cross per checked box, "—" where set 1 has no trip box.
        const QString matrix = all.mid(all.indexOf(QStringLiteral("Матрица выходных реле")));
        for (const qvoksb::RelaySet &rs : qvoksb::RelaySets) {
            const QString row = lineWith(matrix, caption(rs.boxes[1]));
            int checked = 0;
            for (int box = rs.hasTripBox ? 0 : 1; box < 4; ++box)
                checked += set.checked(rs.boxes[std::size_t(box)]);
            QCOMPARE(row.count(QStringLiteral("×")), checked);
            QCOMPARE(row.contains(QStringLiteral("—")), !rs.hasTripBox);
        }
        // Relays and inputs by frame: every value of a frame on its line.
        for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue()) {
            if (*r.group == 0 || r.kind == qvoksb::Kind::RelayBox)
                continue;
            const QString page =
                all.mid(all.indexOf(QString::fromUtf8(qvoksb::PageCaptions[int(r.page) - 1])));
            const QString line = lineWith(page, QString::fromUtf8(r.group) + QStringLiteral("  "));
            QVERIFY2(line.contains(qs(qvoksb::valueText(set, r.id))), r.control);
        }
        QVERIFY(all.contains(QStringLiteral("ДИСТАНЦИОННОЕ ОТКЛЮЧЕНИЕ")));
        QVERIFY(all.contains(QStringLiteral("7.3.2026 14:25:31")));

        // Each protection's plot and test sheet, as the characteristics compute them.
        namespace ch = qvoksb::characteristics;
        QCOMPARE(all.count(QStringLiteral("Проверочная таблица")), 2);
        for (ch::Protection p : {ch::Protection::Phases, ch::Protection::Earth}) {
            const ch::Settings settings = ch::settingsFrom(set);
            QVERIFY(all.contains(qs(ch::plotData(settings, p).baseText)));
            for (const ch::SheetRow &row : ch::testSheet(settings, p, storedSecondaryA(p)).rows) {
                const auto cells = ch::sheetCells(row);
                QVERIFY2(all.contains(QRegularExpression(
                             QRegularExpression::escape(qs(cells[0])) + QStringLiteral(" +") +
                             QRegularExpression::escape(qs(cells[1])) + QStringLiteral(" +") +
                             QRegularExpression::escape(qs(cells[2])))),
                         cells[0].c_str());
            }
        }

        // The lines to sign close the last page.
        for (const char *sign : {"Составил:", "Проверил:", "Дата:"})
            QVERIFY(pages.last().contains(QString::fromUtf8(sign)));
        QVERIFY(!pages.first().contains(QStringLiteral("Проверил:")));

        // The same settings give the same pages.
        savePdf(w, path("again.pdf"));
        QCOMPARE(pdfPages(path("again.pdf")), pages);
    }

    // The header names the settings' origin and the form's fields; the PDF is named after the
    // origin.
    void headerSaysWhereTheSettingsCameFrom()
    {
        TFKsb w;
        qvoksb::SettingsSet set;
        set.setValue(Setting::RxSpinEdit10, 3);
        const QString file = path("фидер 5.txt");
        QVERIFY(qvoksb::writeConfigFile(QFile::encodeName(file).toStdString(), set));
        w.OpenDialog1.FileName = file;
        w.LoadConfigFile();

        qvoksb::report::Labels labels;
        labels.object = "ПС 110 кВ «Северная»";
        labels.serialNumber = "KSB7-004512";
        labels.tester = "Петров П. П.";
        const QDateTime at(QDate(2026, 12, 8), QTime(14, 5));
        chosenFile_ = path("opened.pdf");
        saveReportAsPdf(settingsReport(w, at, labels), w.ReportDialog, &w);
        QCOMPARE(QFileInfo(proposed_).fileName(), QStringLiteral("фидер 5.pdf"));
        QString all = pdfPages(chosenFile_).join(QLatin1Char('\n'));
        QCOMPARE(lineWith(all, QStringLiteral("Файл конфигурации:")).simplified(),
                 QStringLiteral("Файл конфигурации: фидер 5.txt"));
        QCOMPARE(lineWith(all, QStringLiteral("Объект:")).simplified(),
                 QStringLiteral("Объект: ПС 110 кВ «Северная»"));
        QCOMPARE(lineWith(all, QStringLiteral("Присоединение:")).simplified(),
                 QStringLiteral("Присоединение: ________________________"));
        QVERIFY(lineWith(all, QStringLiteral("Заводской номер блока:"))
                    .contains(QStringLiteral("KSB7-004512")));
        QVERIFY(
            lineWith(all, QStringLiteral("Проверил:")).contains(QStringLiteral("Петров П. П.")));
        // The multiplier as the unit applies it: 3 tenths.
        QCOMPARE(lineWith(all, QStringLiteral("Вид МТЗ в фазах. Множитель")).simplified(),
                 QStringLiteral("Вид МТЗ в фазах. Множитель 0,3 уставка 3 (x10)"));

        // Two settings edited since the file was opened.
        w.RxSpinEdit2->setValue(w.RxSpinEdit2->value() + 10);
        w.RxSpinEdit10->setValue(25);
        chosenFile_ = path("edited.pdf");
        saveReportAsPdf(settingsReport(w, at), w.ReportDialog, &w);
        all = pdfPages(chosenFile_).join(QLatin1Char('\n'));
        QCOMPARE(lineWith(all, QStringLiteral("Файл конфигурации:")).simplified(),
                 QStringLiteral(
                     "Файл конфигурации: фидер 5.txt, изменены после открытия: 2 параметров"));
        QVERIFY(lineWith(all, QStringLiteral("Вид МТЗ в фазах. Множитель"))
                    .simplified()
                    .contains(QStringLiteral("2,5 уставка 25")));

        // Settings as the unit sent them.
        w.FComPort = 3;
        w.RxSpinEdit26->setValue(0xF7);
        w.setOriginUnit();
        chosenFile_ = path("read.pdf");
        saveReportAsPdf(settingsReport(w, at), w.ReportDialog, &w);
        const QString today = QDate::currentDate().toString(QStringLiteral("dd.MM.yyyy"));
        QCOMPARE(QFileInfo(proposed_).fileName(),
                 QStringLiteral("KSB-7 COM3 адрес F7 %1.pdf")
                     .arg(QDate::currentDate().toString(Qt::ISODate)));
        all = pdfPages(chosenFile_).join(QLatin1Char('\n'));
        QVERIFY(!all.contains(QStringLiteral("Файл конфигурации:")));
        QVERIFY2(lineWith(all, QStringLiteral("Настройки:"))
                     .simplified()
                     .startsWith(QStringLiteral("Настройки: прочитаны из блока COM3, адрес F7, ") +
                                 today),
                 qPrintable(lineWith(all, QStringLiteral("Настройки:"))));
    }

    // The sheets give the secondary currents of the CT chosen in the characteristics window:
    // with 1 A, one fifth of those with 5 A; earth starts with the primary current alone.
    void sheetsUseTheChosenCtSecondary()
    {
        namespace ch = qvoksb::characteristics;
        TFKsb w;
        const auto phaseSecondaries = [&](const QString &name) {
            chosenFile_ = path(name);
            saveReportAsPdf(settingsReport(w, QDateTime(QDate(2026, 12, 8), QTime(14, 5))),
                            w.ReportDialog, &w);
            const QString all = pdfPages(chosenFile_).join(QLatin1Char('\n'));
            QList<double> out;
            for (const ch::SheetRow &row :
                 ch::testSheet(ch::settingsFrom(w.currentSettings()), ch::Protection::Phases, 5)
                     .rows) {
                if (!row.primaryA)
                    continue;
                const QString primary = qs(ch::sheetCells(row)[1]);
                const QStringList cells =
                    lineWith(all, QStringLiteral("  ") + primary + QStringLiteral("  "))
                        .simplified()
                        .split(u' ');
                out << (cells.size() > 2 ? QString(cells[2]).replace(u',', u'.').toDouble() : -1);
            }
            return out;
        };
        storeSecondaryA(ch::Protection::Phases, 5);
        const QList<double> five = phaseSecondaries(QStringLiteral("five.pdf"));
        storeSecondaryA(ch::Protection::Phases, 1);
        const QList<double> one = phaseSecondaries(QStringLiteral("one.pdf"));
        QVERIFY(five.size() >= 5);
        QCOMPARE(one.size(), five.size());
        for (int i = 0; i < five.size(); ++i)
            QVERIFY2(qAbs(one[i] * 5 - five[i]) <= five[i] * 0.01, qPrintable(QString::number(i)));
        // The notes under the sheets, wherever their lines break.
        const QString all =
            pdfPages(chosenFile_).join(QString()).remove(QRegularExpression(QStringLiteral("\\s")));
        QVERIFY(all.contains(QStringLiteral("номинальнымвторичнымтоком1А.")));
        QVERIFY(all.contains(QStringLiteral("Вторичныйтокнеуказан:задантолькопервичныйток.")));
    }

    void longTextsNeitherClippedNorOverlapping_data()
    {
        QTest::addColumn<bool>("largest");
        QTest::newRow("factory settings") << false;
        QTest::newRow("largest values, 2047-letter texts") << true;
    }

    void longTextsNeitherClippedNorOverlapping()
    {
        QFETCH(bool, largest);
        TFKsb w;
        if (largest)
            w.applySettings(largestSettings());
        const QString name = path("report.pdf");
        savePdf(w, name);
        QList<QSizeF> sizes;
        const std::vector<Word> words = pdfWords(name, &sizes);
        QVERIFY(words.size() > 300);
        for (const QSizeF &s : sizes) // A4 portrait, in points
            QVERIFY(qAbs(s.width() - 595.3) < 1 && qAbs(s.height() - 841.9) < 1);
        // The labels inside a characteristics plot are the plot painter's: the band between a
        // plot's heading and its sheet's title is left out among itself.
        QList<QPair<double, double>> plots;
        for (std::size_t i = 0; i < words.size(); ++i)
            if (words[i].text == QStringLiteral("срабатывания:"))
                for (std::size_t j = i; j < words.size() && words[j].page == words[i].page; ++j)
                    if (words[j].text == QStringLiteral("Проверочная"))
                        plots.append({words[i].page * 1000.0 + words[i].box.bottom(),
                                      words[j].page * 1000.0 + words[j].box.top()});
        const auto inPlot = [&plots](const Word &w) {
            for (const auto &[top, bottom] : plots)
                if (w.page * 1000.0 + w.box.top() > top &&
                    w.page * 1000.0 + w.box.bottom() < bottom)
                    return true;
            return false;
        };
        QCOMPARE(plots.size(), 2);
        for (std::size_t i = 0; i < words.size(); ++i) {
            const Word &a = words[i];
            QVERIFY2(QRectF(QPointF(0, 0), sizes[a.page]).contains(a.box), qPrintable(a.text));
            for (std::size_t j = i + 1; j < words.size() && words[j].page == a.page; ++j) {
                if (inPlot(a) && inPlot(words[j]))
                    continue;
                const QRectF both = a.box.intersected(words[j].box);
                QVERIFY2(both.width() < 0.5 || both.height() < 0.5,
                         qPrintable(a.text + QStringLiteral(" / ") + words[j].text));
            }
        }
        // Wrapped, the long texts are still there whole.
        QString text = pdftotext(name, {});
        text.remove(QRegularExpression(QStringLiteral("\\s")));
        for (Setting s : {Setting::EEvent, Setting::EDt})
            QVERIFY(text.contains(qs(w.currentSettings().text(s)).remove(u' ')));
    }

    void failedSaveLeavesNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("read-only folder") << "readonly";
        QTest::newRow("disk full") << "fsize";
    }

    void failedSaveLeavesNoFile()
    {
        QFETCH(QString, kind);
        TFKsb w;
        QString folder = dir_->path();
        struct rlimit saved {
        };
        if (kind == "readonly") {
            // The superuser writes into any folder whatever its mode; /proc refuses everyone.
            if (::geteuid() == 0)
                folder = QStringLiteral("/proc");
            else
                QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        } else {
            std::signal(SIGXFSZ, SIG_IGN);
            QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
            struct rlimit small = saved;
            small.rlim_cur = 4000;
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        }
        savePdf(w, folder + QStringLiteral("/report.pdf"));
        if (kind == "fsize")
            QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);

        QCOMPARE(boxes_.shown.size(), 1);
        QCOMPARE(boxes_.shown.first().first, Messages::Kind::Error);
        const QString text = boxes_.shown.first().second;
        QVERIFY2(text.startsWith(QStringLiteral("Отчёт о настройках не сохранён:\n")),
                 qPrintable(text));
        QVERIFY2(text.contains(folder), qPrintable(text));
        // The system's reason is given in Russian too.
        QVERIFY2(text.section(QStringLiteral(": "), -1)
                     .contains(QRegularExpression(QStringLiteral("[а-я]{3}"))),
                 qPrintable(text));
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/report.pdf")));
        QCOMPARE(QDir(dir_->path()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    void csvHoldsOneRowPerSetting()
    {
        TFKsb w;
        w.applySettings(changedSettings());
        // A cause with the separator, quotes and a leading '=' that a spreadsheet would compute.
        w.EEvent->setText(QStringLiteral("=1+1; \"КЗ\""));
        chosenFile_ = path("settings.csv");
        w.findChild<QAction *>(QStringLiteral("CsvCommand"))->trigger();
        QCOMPARE(boxes_.shown.size(), 1);
        QCOMPARE(boxes_.shown.first().first, Messages::Kind::Information);

        QFile f(chosenFile_);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QVERIFY(bytes.endsWith("\r\n"));
        QList<QStringList> rows = csvRows(chosenFile_);
        QCOMPARE(rows.size(), 1 + int(qvoksb::SettingCount));
        QCOMPARE(rows.first(),
                 QStringList({"Страница", "Параметр", "Значение", "Единица", "Примечание"}));
        QMap<QString, QStringList> byCaption;
        for (const QStringList &fields : rows.mid(1)) {
            QCOMPARE(fields.size(), 5);
            byCaption.insert(fields[1], fields);
        }
        QCOMPARE(byCaption.size(), int(qvoksb::SettingCount));
        // Rows written out from the unit's documents.
        QCOMPARE(byCaption.value(QStringLiteral("Частота сети (Гц)")),
                 QStringList({"КОНФИГУРАЦИЯ", "Частота сети (Гц)", "60", "Гц", ""}));
        QCOMPARE(
            byCaption.value(QStringLiteral("Времязависимая МТЗ в фазах. Задержка (мсек)")).at(4),
            QStringLiteral("не используется"));
        QCOMPARE(byCaption.value(QStringLiteral("Доп. контакт выключателя (Реле): ВЫХ.1")).at(2),
                 QStringLiteral("да"));
        QCOMPARE(byCaption.value(QStringLiteral("ВЫХ.2: Режим работы")).mid(0, 3),
                 QStringList({"ВЫХОДНЫЕ РЕЛЕ", "ВЫХ.2: Режим работы", "ИМПУЛЬСНЫЙ"}));
        QCOMPARE(byCaption.value(QStringLiteral("ВХОД 3: Функция активации")).at(2),
                 QStringLiteral("ВНЕШНИЙ СБРОС"));
        QCOMPARE(byCaption.value(QStringLiteral("Причина откл")).at(2),
                 QStringLiteral("'=1+1; \"КЗ\""));
    }

    // Texts from a configuration file that a spreadsheet would run or a terminal would act on:
    // each stays in its own cell, read with either separator, and none is taken for a formula.
    void csvKeepsHostileTextsInTheirCells()
    {
        const struct {
            QString cause, time, causeCell, timeCell;
        } cases[] = {
            {QStringLiteral("Отключено,=2+5+cmd|' /C calc'!A0"), QStringLiteral(" \t=1+1"),
             QStringLiteral("Отключено,'=2+5+cmd|' /C calc'!A0"), QStringLiteral("' \t=1+1")},
            {QStringLiteral("@SUM(A1)\x1b[2J\x7f"), QStringLiteral("\r\n-3+3"),
             QStringLiteral("'@SUM(A1)\uFFFD[2J\uFFFD"), QStringLiteral("'\r\n'-3+3")},
            {QStringLiteral("+7 (495) 1;2\"3\u0085"), QStringLiteral("-12"),
             QStringLiteral("'+7 (495) 1;2\"3\uFFFD"), QStringLiteral("-12")},
            // After the file's own separator, as after a comma.
            {QStringLiteral("КЗ;=HYPERLINK(\"http://x\")"), QStringLiteral("1;@A1"),
             QStringLiteral("КЗ;'=HYPERLINK(\"http://x\")"), QStringLiteral("1;'@A1")},
        };
        const QRegularExpression formula(QStringLiteral("^([\\t\\r]|[ \\t]*[=+\\-@])"));
        const QRegularExpression number(QStringLiteral("^[-+]?[0-9]+([.,][0-9]+)?$"));
        const QRegularExpression control(
            QStringLiteral("[\\x00-\\x08\\x0b\\x0c\\x0e-\\x1f\\x7f-\\x9f]"));
        for (const auto &c : cases) {
            TFKsb w;
            w.EEvent->setText(c.cause);
            w.EDt->setText(c.time);
            chosenFile_ = path("hostile.csv");
            w.findChild<QAction *>(QStringLiteral("CsvCommand"))->trigger();
            for (const char separator : {';', ','}) {
                const QList<QStringList> rows = csvRows(chosenFile_, separator);
                QVERIFY(!rows.isEmpty());
                for (const QStringList &row : rows)
                    for (const QString &cell : row) {
                        QVERIFY2(!formula.match(cell).hasMatch() || number.match(cell).hasMatch(),
                                 qPrintable(cell));
                        QVERIFY2(!control.match(cell).hasMatch(), qPrintable(cell));
                    }
                if (separator == ',')
                    continue;
                QCOMPARE(rows.size(), 1 + int(qvoksb::SettingCount));
                for (const QStringList &row : rows) {
                    QCOMPARE(row.size(), 5);
                    if (row[1] == QStringLiteral("Причина откл"))
                        QCOMPARE(row[2], c.causeCell);
                    if (row[1] == QStringLiteral("Дата и время"))
                        QCOMPARE(row[2], c.timeCell);
                }
            }
        }
    }
};

QTEST_MAIN(TestSettingsReport)
#include "tst_settings_report.moc"
