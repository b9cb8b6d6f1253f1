// "Журнал работ": a journal with a damaged line opens, newest first; the filters by address,
// action and date; the CSV export of the rows shown; the command in "Сервис".
#include "JournalWindow.h"
#include "Main.h"
#include "Messages.h"

#include "testsupport.h"

#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <fstream>

namespace journal = qvoksb::journal;

namespace
{

journal::Record record(const char *time, int address, const char *kind, const char *message)
{
    journal::Record r;
    r.time = time;
    r.program = "qvoksb";
    r.port = "COM1";
    r.address = address;
    r.kind = kind;
    r.outcome = "ok";
    r.message = message;
    return r;
}

QStringList column(const JournalWindow &w, int column)
{
    QStringList out;
    for (int row = 0; row < w.Model.rowCount(); ++row)
        out << w.Model.index(row, column).data().toString();
    return out;
}

} // namespace

class TestJournalWindow : public QObject
{
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;

private slots:
    void init()
    {
        path_ = dir_.filePath(QStringLiteral("journal.jsonl"));
        QFile::remove(path_);
        const std::string file = QFile::encodeName(path_).toStdString();
        QVERIFY(journal::append(file, record("2026-12-06T09:00:00+03:00", 1, "write", "первая")));
        QVERIFY(journal::append(file, record("2026-12-07T10:00:00+03:00", 2, "read", "вторая")));
        std::ofstream(file, std::ios::app) << "{\"time\":\"2026-12-07T10:30\",\"kind\n";
        QVERIFY(journal::append(file, record("2026-12-08T11:00:00+03:00", 1, "compare", "третья")));
        QVERIFY(
            journal::append(file, record("2026-12-08T12:00:00+03:00", 10, "command", "четвёртая")));
    }

    void listsNewestFirstWithTheDamagedLine()
    {
        JournalWindow w(path_);
        QCOMPARE(column(w, JournalModel::Message),
                 (QStringList{"четвёртая", "третья",
                              QStringLiteral("{\"time\":\"2026-12-07T10:30\",\"kind"), "вторая",
                              "первая"}));
        QCOMPARE(w.Model.index(2, JournalModel::Outcome).data().toString(),
                 QStringLiteral("повреждённая строка 3"));
        QCOMPARE(w.Model.index(0, JournalModel::Address).data().toString(), QStringLiteral("0A"));
        QCOMPARE(w.Model.index(0, JournalModel::Time).data().toString(),
                 QStringLiteral("08.12.2026 12:00:00"));
        QCOMPARE(w.Model.index(1, JournalModel::Kind).data().toString(),
                 QStringLiteral("сравнение"));
        QVERIFY(w.Summary->text().startsWith(QStringLiteral("Записей: 4, повреждённых строк: 1.")));

        // A record appended while the window is open shows after "Обновить".
        QVERIFY(journal::append(QFile::encodeName(path_).toStdString(),
                                record("2026-12-09T08:00:00+03:00", 2, "write", "пятая")));
        QTest::mouseClick(w.ReloadButton, Qt::LeftButton);
        QCOMPARE(column(w, JournalModel::Message).first(), QStringLiteral("пятая"));
    }

    void filtersByAddressKindAndDate()
    {
        JournalWindow w(path_);
        QCOMPARE(w.AddressFilter->count(), 4); // все, 01, 02, 0A
        w.AddressFilter->setCurrentIndex(w.AddressFilter->findText(QStringLiteral("01")));
        QCOMPARE(column(w, JournalModel::Message), (QStringList{"третья", "первая"}));
        w.KindFilter->setCurrentIndex(w.KindFilter->findText(QStringLiteral("запись")));
        QCOMPARE(column(w, JournalModel::Message), QStringList{"первая"});
        w.AddressFilter->setCurrentIndex(0);
        w.KindFilter->setCurrentIndex(0);
        QCOMPARE(w.Model.rowCount(), 5);

        QCOMPARE(w.FirstDate->date(), QDate(2026, 12, 6));
        QCOMPARE(w.LastDate->date(), QDate(2026, 12, 8));
        w.FirstDate->setDate(QDate(2026, 12, 7));
        w.LastDate->setDate(QDate(2026, 12, 7));
        QCOMPARE(column(w, JournalModel::Message), QStringList{"вторая"});
    }

    void exportsTheRowsShown()
    {
        JournalWindow w(path_);
        w.KindFilter->setCurrentIndex(w.KindFilter->findText(QStringLiteral("чтение")));
        const QString csv = dir_.filePath(QStringLiteral("журнал.csv"));
        FileDialog::executeHook = [&](FileDialog &d) {
            d.FileName = csv;
            return true;
        };
        QStringList said;
        Messages::hook = [&](Messages::Kind, const QString &text) {
            said << text;
            return true;
        };
        QTest::mouseClick(w.ExportButton, Qt::LeftButton);
        FileDialog::executeHook = nullptr;
        Messages::hook = nullptr;
        QCOMPARE(said.size(), 1);
        QVERIFY(said[0].endsWith(csv));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 3); // header, one record, the end of the last line
        QVERIFY2(lines[1].contains(QStringLiteral(";\"чтение\";\"выполнено\";\"вторая\";")),
                 qPrintable(lines[1]));
    }

    // Megabytes of junk lines: read off the window's thread, only the newest records kept, and
    // the window says that older ones were left out.
    void largeJournalReadInTheBackgroundWithinBounds()
    {
        const std::string file = QFile::encodeName(path_).toStdString();
        {
            std::ofstream out(file, std::ios::binary | std::ios::app);
            std::string lines;
            for (int i = 0; i < 3 << 20; ++i)
                lines += "x\n";
            out << lines;
        }
        QVERIFY(journal::append(file, record("2026-12-10T08:00:00+03:00", 3, "read", "последняя")));
        JournalWindow w(path_);
        QVERIFY(w.reading());
        QVERIFY(!w.ExportButton->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!w.reading(), 120000);
        QVERIFY(w.ExportButton->isEnabled());
        QCOMPARE(w.Model.rowCount(), int(journal::MaxRecords));
        QCOMPARE(column(w, JournalModel::Message).first(), QStringLiteral("последняя"));
        QVERIFY2(w.Summary->text().contains(
                     QStringLiteral("показаны последние %1 записей").arg(journal::MaxRecords)),
                 qPrintable(w.Summary->text()));
    }

    void openedOnceFromTheServiceMenu()
    {
        pointKeptDataAt(dir_.path());
        TFKsb main;
        QAction *command = main.findChild<QAction *>(QStringLiteral("JournalCommand"));
        QVERIFY(command);
        QVERIFY(main.ServiceMenu->actions().contains(command));
        QCOMPARE(command->text(), QStringLiteral("Журнал работ"));
        command->trigger();
        command->trigger();
        const auto open = main.findChildren<JournalWindow *>();
        QCOMPARE(open.size(), 1);
        QVERIFY(open[0]->isVisible());
        QVERIFY(open[0]->Summary->text().contains(QDir::toNativeSeparators(QStringLiteral("QvoKsb/journal.jsonl"))));
    }
};

QTEST_MAIN(TestJournalWindow)
#include "tst_journal_window.moc"
