// The journal of work end to end: a write, a read, a compare and a command of the window against
// the simulated unit, then a write by ksb7ctl, leave exactly five records, each with its fields.
#include "DifferenceWindow.h"
#include "JournalWindow.h"
#include "WorkJournal.h"
#include "core/records/config_file.h"
#include "exchange_harness.h"
#include "core/records/journal.h"
#include "core/files/sha256.h"

#include <QAction>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <fstream>

#include <sys/resource.h>

using namespace exchangetest;
namespace journal = qvoksb::journal;

class TestWorkJournal : public QObject
{
    Q_OBJECT

    Harness h_;
    TFKsb &w() { return *h_.window; }

    // The digest of the configuration registers the unit holds, taken from the unit itself.
    std::string heldDigest() const
    {
        qvoksb::Sha256 sha;
        for (const qvoksb::modbus::Block &b : qvoksb::modbus::ConfigurationBlocks)
            for (int r = b.first; r < b.first + b.count; ++r) {
                const uint16_t v = h_.unit->reg(r);
                const uint8_t bytes[2] = {uint8_t(v >> 8), uint8_t(v)};
                sha.update(bytes);
            }
        return qvoksb::Sha256::hex(sha.finish());
    }

private slots:
    void init()
    {
        std::string error;
        QVERIFY2(h_.start(&error), error.c_str());
        w().AnswerDifferences = [](DifferenceWindow &) { return DifferenceWindow::Choice::Close; };
    }
    void cleanup() { h_.stop(); }

    void everyExchangeLeavesOneRecord()
    {
        const QString journalPath = QString::fromStdString(journal::journalPath());
        QVERIFY(journalPath.startsWith(h_.home->path()));

        w().RxSpinEdit8->setValue(120); // the window's settings, edited since the factory values
        w().VerifyWrite->setChecked(true);
        w().SIWriteClick();
        const std::string written = heldDigest();
        w().SIReadClick();
        const QString origin =
            QString::fromStdString(qvoksb::originText(w().Origin, w().currentSettings()));
        QVERIFY2(origin.startsWith(QStringLiteral("прочитаны из блока COM1, адрес 01, ")),
                 qPrintable(origin));
        w().CompareUnit->trigger();
        w().RadioGroup1->item(0)->click();
        w().Button1->click();
        QCOMPARE(h_.unit->lastCommand(), 1);

        // ksb7ctl writes another file into the same unit, and records it in the same journal.
        qvoksb::SettingsSet other = w().currentSettings();
        other.setValue(qvoksb::Setting::RxSpinEdit8, 150);
        const QString file = h_.home->filePath(QStringLiteral("фидер.txt"));
        QVERIFY(qvoksb::writeConfigFile(QFile::encodeName(file).toStdString(), other));
        QProcess ctl;
        ctl.start(QStringLiteral(KSB7CTL_PATH),
                  {QStringLiteral("--port"), QStringLiteral("COM1"), QStringLiteral("--pace"),
                   QStringLiteral("reply"), QStringLiteral("write"), file});
        QVERIFY(ctl.waitForFinished(60000));
        QCOMPARE(ctl.exitCode(), 0);
        QCOMPARE(h_.unit->reg(385), 150);

        waitForJournal();
        const journal::Reading reading =
            journal::read(QFile::encodeName(journalPath).toStdString());
        QVERIFY(reading.ok);
        QCOMPARE(reading.damaged, 0);
        const std::vector<journal::Record> &r = reading.records;
        QCOMPARE(r.size(), std::size_t(5));
        const char *kinds[] = {"write", "read", "compare", "command", "write"};
        for (std::size_t i = 0; i < 5; ++i) {
            QCOMPARE(r[i].kind, std::string(kinds[i]));
            QCOMPARE(r[i].outcome, std::string("ok"));
            QCOMPARE(r[i].port, std::string("COM1"));
            QCOMPARE(r[i].address, 1);
            QCOMPARE(r[i].program, std::string(i < 4 ? "qvoksb" : "ksb7ctl"));
            QVERIFY(r[i].time.size() == 25 && r[i].time[10] == 'T');
        }
        QCOMPARE(r[0].message, std::string("Все параметры успешно записаны!"));
        QCOMPARE(
            r[0].source,
            std::string(
                "default.txt (заводская конфигурация), изменены после открытия: 1 параметров"));
        QCOMPARE(r[0].sha256, written);
        QCOMPARE(r[0].differences, 0); // verified

        QCOMPARE(r[1].message, std::string("Чтение всех параметров успешно завершено!"));
        QVERIFY(QString::fromStdString(r[1].source)
                    .startsWith(QStringLiteral("прочитаны из блока COM1, адрес 01, ")));
        QCOMPARE(r[1].sha256, written);
        // The last trip as the page "СОСТОЯНИЕ" shows it after the read.
        QCOMPARE(QString::fromStdString(r[1].lastTrip),
                 w().EDt->text() + QStringLiteral(": ") + w().EEvent->text());
        QVERIFY(r[1].lastTrip.find(": ВРЕМЯЗАВИСИМАЯ МТЗ В ФАЗАХ") != std::string::npos);
        QCOMPARE(r[1].differences, -1);

        QCOMPARE(r[2].sha256, written);
        QCOMPARE(r[2].differences, 0);
        QCOMPARE(r[2].source, r[1].source);

        QVERIFY2(QString::fromStdString(r[3].message).startsWith(QStringLiteral("«СБРОС»")),
                 r[3].message.c_str());
        QVERIFY(r[3].sha256.empty());

        QCOMPARE(r[4].source, "файл " + QFile::encodeName(file).toStdString());
        QCOMPARE(r[4].sha256, heldDigest());
        QVERIFY(r[4].sha256 != written);

        // The window lists them newest first.
        w().findChild<QAction *>(QStringLiteral("JournalCommand"))->trigger();
        auto *list = w().findChild<JournalWindow *>();
        QVERIFY(list);
        QCOMPARE(list->Model.rowCount(), 5);
        QCOMPARE(list->Model.index(0, JournalModel::Program).data().toString(),
                 QStringLiteral("ksb7ctl"));
        QCOMPARE(list->Model.index(4, JournalModel::Kind).data().toString(),
                 QStringLiteral("запись"));
    }

    // A journal at the file size limit: the exchanges go on, the failure is told once, and the
    // program is not ended by the limit's signal on the writer's thread.
    void journalAtTheFileSizeLimitIsReportedOnce()
    {
        const std::string file = journal::journalPath();
        QVERIFY(journal::append(file, journal::parseRecord("{}")));
        std::ofstream(file, std::ios::app) << std::string(20000, 'x') << "\n";
        const qint64 size = QFileInfo(QFile::decodeName(file.c_str())).size();
        struct rlimit saved {
        };
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit small = saved;
        small.rlim_cur = rlim_t(size + 10);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        w().Button2->click();
        w().Button2->click();
        waitForJournal();
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &saved), 0);
        QTest::qWait(100); // the report is posted to the window's thread
        QCOMPARE(h_.boxes.size(), 1);
        QCOMPARE(h_.boxes[0].first, Messages::Kind::Error);
        QVERIFY2(h_.boxes[0].second.startsWith(QStringLiteral("Журнал работ не записан:")),
                 qPrintable(h_.boxes[0].second));
        QCOMPARE(QFileInfo(QFile::decodeName(file.c_str())).size(), size);
    }
};

QTEST_MAIN(TestWorkJournal)
#include "tst_work_journal.moc"
