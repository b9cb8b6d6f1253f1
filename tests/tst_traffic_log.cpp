// The exchange log against the simulated unit: the frames of a write with what they mean, the
// unit's refusal, a CRC error and a wrong reply named, nothing recorded while the log is closed,
// and the log's own keeping, saving and clearing.
#include "TrafficLog.h"
#include "exchange_harness.h"

#include <QFile>
#include <QListView>
#include <QScrollBar>
#include <QRegularExpression>
#include <QTest>

using namespace exchangetest;

namespace
{

// "12:03:07.512 → 01 10 ...  meaning": time, arrow, bytes, meaning.
const QRegularExpression frameLine(QStringLiteral(
    "^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d ([→←]) ((?:[0-9A-F]{2} )*[0-9A-F]{2})  (.+)$"));
const QRegularExpression
    noteLine(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d (==|!!) (.+)$"));

// "257–259 (3 рег.)" and "257=1600 258=100 259=100" from the register image the unit must hold.
QString rangeOf(int first, int count)
{
    return (count > 1 ? QStringLiteral("%1–%2").arg(first).arg(first + count - 1)
                      : QString::number(first)) +
           QStringLiteral(" (%1 рег.)").arg(count);
}
QString valuesOf(const std::map<int, uint16_t> &image, int first, int count)
{
    QStringList out;
    for (int a = first; a < first + count; ++a)
        out << QStringLiteral("%1=%2").arg(a).arg(image.at(a));
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestTrafficLog : public QObject
{
    Q_OBJECT

    Harness h_;
    TFKsb &w() { return *h_.window; }

    TrafficLogWindow &openLog()
    {
        w().TrafficLogItem->trigger();
        return *w().TrafficLog;
    }
    // The frame lines since the log was last cleared: the meanings, in order.
    QStringList meanings(TrafficLogWindow &log)
    {
        QStringList out;
        for (const QString &line : log.lines())
            if (const auto m = frameLine.match(line); m.hasMatch())
                out << m.captured(3);
        return out;
    }
    void runStateReadWith(const ksb7sim::Faults &faults)
    {
        h_.unit->setFaults(faults);
        // A refusal stops the exchange and waits for the user: close it once it has stopped.
        ExchangeLog closer([](TFrs232 &x, const Look &l) {
            if (!l.red || l.timerRunning)
                return false;
            x.BExit->click();
            return true;
        });
        w().Button2->click();
        h_.unit->setFaults({});
    }

private slots:
    void init() { h_.startForTest(); }
    void cleanup() { h_.stop(); }

    void aWriteGivesItsFourteenFramesInWords()
    {
        TrafficLogWindow &log = openLog();
        QVERIFY(log.isVisible());
        QVERIFY(log.recording());
        const std::map<int, uint16_t> image = unitImageOf(w());
        w().SIWrite->click();

        const QStringList lines = log.lines();
        QCOMPARE(lines.size(), 16);
        const auto opened = noteLine.match(lines.first());
        QVERIFY2(opened.hasMatch() && opened.captured(2).startsWith(
                                          QStringLiteral("порт COM1 открыт: ") + h_.portDir() +
                                          QStringLiteral("/COM1, 9600 8N1")),
                 qPrintable(lines.first()));
        QVERIFY2(lines.last().endsWith(QStringLiteral(" == порт COM1 закрыт")),
                 qPrintable(lines.last()));

        const std::vector<Frame> sent = h_.frames();
        QCOMPARE(sent.size(), size_t(7));
        const std::pair<int, int> blocks[] = {{257, 3},  {267, 1}, {277, 6}, {384, 11},
                                              {395, 11}, {262, 5}, {269, 4}};
        for (int k = 0; k < 7; ++k) {
            const auto [first, count] = blocks[k];
            const auto request = frameLine.match(lines.at(1 + 2 * k));
            const auto reply = frameLine.match(lines.at(2 + 2 * k));
            QVERIFY2(request.hasMatch(), qPrintable(lines.at(1 + 2 * k)));
            QVERIFY2(reply.hasMatch(), qPrintable(lines.at(2 + 2 * k)));
            QCOMPARE(request.captured(1), QStringLiteral("→"));
            QCOMPARE(request.captured(2), hexOf(sent[size_t(k)]));
            QCOMPARE(request.captured(3), QStringLiteral("ф.16 запись ") + rangeOf(first, count) +
                                              QStringLiteral(": ") + valuesOf(image, first, count));
            QCOMPARE(reply.captured(1), QStringLiteral("←"));
            // The echo: unit, function, first register and count of the request, then its CRC.
            QVERIFY(reply.captured(2).startsWith(
                hexOf(Frame(sent[size_t(k)].begin(), sent[size_t(k)].begin() + 6))));
            QCOMPARE(reply.captured(3), QStringLiteral("ф.16 записано: ") + rangeOf(first, count));
        }
    }

    void refusalsCrcErrorsAndWrongRepliesAreNamed()
    {
        TrafficLogWindow &log = openLog();
        runStateReadWith({.exceptionBlockStart = 517, .exceptionCode = 2});
        runStateReadWith({.badCrcEvery = 1});
        runStateReadWith({.malformed = true});
        const QStringList m = meanings(log);
        const QString request = QStringLiteral("ф.4 чтение 517–518 (2 рег.)");
        QVERIFY2(m.size() >= 6 && m.first() == request, qPrintable(m.join('\n')));
        QVERIFY2(m.contains(QStringLiteral("ф.4 отказ: недопустимый адрес регистра (код 2)")),
                 qPrintable(m.join('\n')));
        QVERIFY2(m.contains(QStringLiteral("ошибка CRC (9 байт)")), qPrintable(m.join('\n')));
        // One register short of the byte count it states.
        QVERIFY2(m.contains(QStringLiteral("неверный ответ: 7 байт не по запросу")),
                 qPrintable(m.join('\n')));
    }

    void aClosedLogRecordsNothing()
    {
        TrafficLogWindow &log = openLog();
        log.close();
        QVERIFY(!log.recording());
        w().Button2->click();
        QVERIFY(h_.unit->waitForFrames(1, 1000));
        w().TrafficLogItem->trigger();
        QVERIFY(log.lines().isEmpty());
    }

    void keepsTheLastLinesSavesAndClears()
    {
        TrafficLogWindow &log = openLog();
        const int total = TrafficLogWindow::maxLines + 700;
        for (int i = 0; i < total; ++i) {
            log.note(QStringLiteral("строка %1").arg(i));
            if (i % 1000 == 0)
                pump(TrafficLogWindow::batchMs + 20); // some batches reach the screen
        }
        QStringList lines = log.lines();
        QCOMPARE(lines.size(), TrafficLogWindow::maxLines);
        QVERIFY(lines.first().endsWith(QStringLiteral(" строка 700")));
        QVERIFY(lines.last().endsWith(QStringLiteral(" строка %1").arg(total - 1)));
        QTRY_COMPARE(log.Lines->model()->rowCount(), TrafficLogWindow::maxLines);

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("журнал.txt"));
        FileDialog::executeHook = [&](FileDialog &d) {
            d.FileName = path;
            return true;
        };
        log.SaveButton->click();
        FileDialog::executeHook = nullptr;
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QStringList back = QString::fromUtf8(saved.readAll()).split(QLatin1Char('\n'));
        QCOMPARE(back.size(), lines.size() + 1); // the last line ends too
        QCOMPARE(back.mid(0, lines.size()), lines);

        log.ClearButton->click();
        QVERIFY(log.lines().isEmpty());
    }

    // Rows are not wrapped: a frame longer than the window is reached with the scroll bar.
    void longLinesScrollSideways()
    {
        TrafficLogWindow &log = openLog();
        log.note(QStringLiteral("короткая"));
        log.flush();
        QTRY_COMPARE(log.Lines->horizontalScrollBar()->maximum(), 0);
        log.note(QString(3 * log.width() / log.Lines->fontMetrics().averageCharWidth(), u'Ж'));
        log.flush();
        QTRY_VERIFY(log.Lines->horizontalScrollBar()->maximum() > log.width());
    }
};

QTEST_MAIN(TestTrafficLog)
#include "tst_traffic_log.moc"
