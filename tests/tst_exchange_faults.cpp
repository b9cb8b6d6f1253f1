// The exchange window end to end when things go wrong: a unit that keeps silent, answers in
// pieces with wrong CRCs, or refuses; a port that vanishes, is busy or has no device; and the
// user's "Прервать обмен" at every moment. How each kind of exchange treats late, repeated,
// foreign and spoilt replies is the exchange engine's test, on a clock of its own.
#include "exchange_harness.h"
#include "core/link/line_errors.h"

#include <QFile>
#include <QTest>

using namespace exchangetest;

namespace
{

const QString crcText = QStringLiteral("!!! Ошибка CRC !!!");
const QString refusalPrefix = QStringLiteral("ОШИБКА: Блок отклонил запрос: ");

// Presses "Прервать обмен" once the window has been up for this long.
ExchangeLog::Action abortAfter(qint64 ms)
{
    auto shown = std::make_shared<qint64>(-1);
    return [ms, shown](TFrs232 &x, const Look &l) {
        if (*shown < 0 && l.visible)
            *shown = l.ms;
        if (*shown < 0 || l.ms - *shown < ms)
            return false;
        x.BExit->click();
        return true;
    };
}

bool anyLit(TFKsb &w)
{
    for (LedIndicator *led :
         {w.VrBlinkLed1, w.VrBlinkLed2, w.VrBlinkLed3, w.VrBlinkLed4, w.VrBlinkLedBit1,
          w.VrBlinkLedBit2, w.VrBlinkLedBit3, w.VrBlinkLedBit4})
        if (led->isLit())
            return true;
    return false;
}

} // namespace

class TestExchangeFaults : public QObject
{
    Q_OBJECT

    Harness h_;
    TFKsb &w() { return *h_.window; }

private slots:
    void init() { h_.startForTest(); }
    void cleanup() { h_.stop(); }

    void aSilentUnitGetsTheWriteEveryTickUntilAbortedAndTheUserIsToldWhatToCheck()
    {
        h_.unit->setFaults({.silent = true});
        // The hint names the address in hex, as the address field shows it.
        w().RxSpinEdit26->setValueFromProgram(0x1FLL);
        ExchangeLog log(abortAfter(3800));
        w().SIWrite->click();
        const qint64 closedAt = log.elapsed();
        QVERIFY(log.actionDone());
        QVERIFY(Frs232 == nullptr);
        // A tick just before the press may have handed a frame to the port that is still on
        // its way to the unit: it was sent before the abort, so it is let arrive first.
        pump(100);
        const std::vector<Frame> frames = h_.frames();
        // Ticks at 0.3, 0.6, ... 3.6 s after the port opened, each sending step 1 again.
        QVERIFY2(frames.size() >= 11 && frames.size() <= 13,
                 qPrintable(QString::number(frames.size())));
        for (const Frame &f : frames)
            QCOMPARE(hexOf(f), hexOf(frames[0]));
        QCOMPARE(int(wordAt(frames[0], 2)), 257);
        // Ten requests unanswered: a second line, still yellow, says what to look at.
        const QString start = QStringLiteral("Запись параметров КОНФИГУРАЦИИ ...");
        QCOMPARE(log.texts(),
                 QStringList({start, start + QStringLiteral("\nБлок не отвечает: проверьте "
                                                            "кабель, порт, адрес блока (hex) "
                                                            "1F и DTR/RTS")}));
        QCOMPARE(log.lastOpen()->step, 1);
        QVERIFY(!log.lastOpen()->red);
        // Closing took no pause, and nothing more goes out after it.
        QVERIFY2(closedAt - log.shownAt() < 3800 + 1200, qPrintable(QString::number(closedAt)));
        QVERIFY(!h_.unit->waitForFrames(frames.size() + 1, 700));
    }

    void splitAndSpoiltRepliesStillReadEveryRegister()
    {
        // Each reply in two halves 150 ms apart, every fourth with a wrong CRC.
        std::mt19937 rng(std::random_device{}());
        const Controls unitSettings = h_.unitHoldsRandomSettings(rng);
        for (int a = 529; a <= 531; ++a)
            h_.unit->setReg(a, 0); // no trip recorded
        h_.unit->setFaults({.badCrcEvery = 4, .splitPauseMs = 150});
        ExchangeLog log;
        w().SIRead->click();
        QCOMPARE(log.texts().last(), QStringLiteral("Чтение всех параметров успешно завершено!"));
        QVERIFY(log.showed(crcText));
        const QStringList diff = Controls::of(w()).differencesFrom(unitSettings);
        QVERIFY2(diff.isEmpty(), qPrintable(diff.join("; ")));
        QVERIFY(h_.boxes.isEmpty());
        QCOMPARE(w().EEvent->text(), QStringLiteral("СОБЫТИЯ ОТСУТСТВУЮТ"));
        QCOMPARE(w().EDt->text(), QStringLiteral("0.0.2000 0:0:0"));
    }

    void aRefusalStopsTheExchangeAndIsNeverReportedAsSuccess()
    {
        // The unit refuses the phase-overcurrent block: steps 1 to 3 are written, the fourth
        // refused, and the window stays with the refusal until the user closes it.
        h_.unit->setFaults({.exceptionBlockStart = 384, .exceptionCode = 3});
        ExchangeLog log(abortAfter(4000));
        w().SIWrite->click();
        QVERIFY(log.actionDone());
        const std::vector<Frame> frames = h_.frames();
        QCOMPARE(frames.size(), size_t(4));
        QCOMPARE(int(wordAt(frames[3], 2)), 384);
        const Look last = *log.lastOpen();
        // The refusal names the block, and that the three before it are in the unit.
        QCOMPARE(last.text,
                 refusalPrefix + QStringLiteral("недопустимое значение данных (код 3)\r\n"
                                                "Запрос к регистрам 384–394\r\n"
                                                "Блок хранит частично записанную "
                                                "конфигурацию!"));
        QVERIFY(last.red);
        QVERIFY(!last.timerRunning);
        QCOMPARE(last.step, 4);
        QVERIFY(!log.showed(QStringLiteral("Все параметры успешно записаны!")));

        // A refused command never shows success, a refused state read lights nothing; the
        // meaning names the code.
        h_.unit->setFaults({.exceptionBlockStart = 128, .exceptionCode = 4});
        ExchangeLog command(abortAfter(1500));
        w().Button1->click();
        QVERIFY(command.actionDone());
        QVERIFY(!command.showed(QStringLiteral("Команда успешно выполнена!")));
        QVERIFY(command.lastOpen()->text.endsWith(QStringLiteral(" (код 4)")));
        QVERIFY(command.lastOpen()->text != last.text);
        QCOMPARE(h_.unit->lastCommand(), 0);

        h_.unit->setReg(517, 0x000F);
        h_.unit->setFaults({.exceptionBlockStart = 517, .exceptionCode = 2});
        ExchangeLog state(abortAfter(1500));
        w().Button2->click();
        QVERIFY(state.lastOpen()->text.startsWith(refusalPrefix));
        QVERIFY(state.lastOpen()->red);
        QVERIFY(!anyLit(w()));
    }

    void anEchoingAdapterAndARefusalThenSilence()
    {
        // A two-wire adapter hears the command, and the unit is silent: the echo is no success.
        h_.unit->setFaults({.silent = true, .echo = true});
        ExchangeLog alone;
        w().Button1->click();
        QVERIFY(alone.showed(QStringLiteral("Исполнение команды прервано!")));
        QVERIFY(!alone.showed(QStringLiteral("Команда успешно выполнена!")));
        // With the unit answering, its reply after the echo is the success, and it acts once.
        h_.unit->setFaults({.echo = true});
        h_.unit->clearReceivedFrames();
        ExchangeLog command;
        w().Button1->click();
        QVERIFY(command.showed(QStringLiteral("Команда успешно выполнена!")));
        QCOMPARE(h_.frames().size(), size_t(1));
        QVERIFY(h_.unit->lastCommand() > 0);

        // Block 7 refused (the six before it are in), then the unit goes quiet as block 4 is
        // read back: the refusal stays on show until the user closes the window.
        w().VerifyWrite->setChecked(true);
        h_.unit->setFaults({.exceptionBlockStart = 269,
                            .exceptionCode = 3,
                            .silentFromRequest = 11,
                            .silentForMs = 60000});
        ExchangeLog write(abortAfter(8000));
        w().SIWrite->click();
        QVERIFY(write.actionDone());
        QCOMPARE(int(wordAt(h_.frames().back(), 2)), 384); // block 4 was being read back
        const Look last = *write.lastOpen();
        QVERIFY(last.text.startsWith(refusalPrefix));
        QVERIFY(last.text.contains(QStringLiteral("Запрос к регистрам 269–272")));
        QVERIFY(last.red);
        QVERIFY(!write.showed(QStringLiteral("Чтение уставок МТЗ ...")));
    }

    void aLineErrorInTheClosingPauseOpensNoSecondPause()
    {
        // A framing error a second into the pause after a command's success: the main window
        // is back when the one pause is over and the port closed (300 ms), not a pause later.
        qint64 outcomeAt = -1;
        ExchangeLog log([&](TFrs232 &x, const Look &l) {
            if (l.text != QStringLiteral("Команда успешно выполнена!"))
                return false;
            if (outcomeAt < 0)
                outcomeAt = l.ms;
            if (l.ms - outcomeAt < 1000)
                return false;
            x.VaComm1Error(qvoksb::CE_FRAME);
            return true;
        });
        w().Button1->click();
        const qint64 back = log.elapsed() - outcomeAt;
        QVERIFY(log.actionDone());
        QVERIFY2(back >= 1500 && back < 1500 + 300 + 400, qPrintable(QString::number(back)));
    }

    void aReadThatStopsHalfWayChangesNoControl()
    {
        // The unit holds other settings than the window, and refuses its phase-overcurrent
        // block: the three blocks read before it do not reach the controls either.
        h_.unit->setReg(258, 1000);
        h_.unit->setReg(278, 2000);
        h_.unit->setFaults({.exceptionBlockStart = 384, .exceptionCode = 2});
        const Controls before = Controls::of(w());
        ExchangeLog log(abortAfter(4000));
        w().SIRead->click();
        QVERIFY(log.actionDone());
        QCOMPARE(h_.frames().size(), size_t(4));
        QVERIFY(log.lastOpen()->red);
        QVERIFY(Controls::of(w()).values == before.values);
        QCOMPARE(w().RxSpinEdit2->value(), 100);
    }

    void aVanishedPortIsReportedAndTheWindowClosable()
    {
        // The unit's terminal goes away halfway through the reply to the second request, and
        // comes back half a second later.
        h_.unit->setFaults({.vanishAtRequest = 2, .vanishDowntimeMs = 500});
        ExchangeLog log(abortAfter(2500));
        w().SIWrite->click();
        log.sample();
        QVERIFY(log.actionDone());
        QVERIFY(Frs232 == nullptr);
        QVERIFY2(log.showed(QStringLiteral("ОШИБКА: Ошибка ввода-вывода при работе с портом")),
                 qPrintable(log.texts().join(" | ")));
        const auto reported = log.firstWhere([](const Look &l) { return l.red; });
        QVERIFY(reported && reported->step == 2);
        QVERIFY(log.lastOpen()->red); // red for good
        // The lost device stops the exchange: its message stays, nothing more is sent.
        QCOMPARE(log.lastOpen()->text,
                 QStringLiteral("ОШИБКА: Ошибка ввода-вывода при работе с портом"));
        QVERIFY(!log.lastOpen()->timerRunning);
        QVERIFY(!log.showed(QStringLiteral("Все параметры успешно записаны!")));
        QVERIFY(!log.looks().last().portOpen);

        // The window let go of the port: once the unit's terminal is back, the next exchange
        // runs normally.
        h_.unit->clearReceivedFrames();
        h_.unit->setReg(518, 0x0002);
        w().Button2->click();
        QCOMPARE(h_.frames().size(), size_t(1));
        QVERIFY(w().VrBlinkLedBit2->isLit());
    }

    void abortingAtEveryMoment()
    {
        // Before the first tick: the port is open, nothing has been sent, nothing ever is.
        {
            ExchangeLog log([](TFrs232 &x, const Look &l) {
                if (!l.portOpen)
                    return false;
                x.BExit->click();
                return true;
            });
            QElapsedTimer clock;
            clock.start();
            w().SIRead->click();
            QVERIFY(log.actionDone());
            QVERIFY2(clock.elapsed() < 300 + 900, qPrintable(QString::number(clock.elapsed())));
            QVERIFY(!h_.unit->waitForFrames(1, 600));
        }
        // While the steps run: the steps sent stay sent, nothing follows.
        {
            h_.unit->clearReceivedFrames();
            ExchangeLog log([](TFrs232 &x, const Look &l) {
                if (l.step < 4)
                    return false;
                x.BExit->click();
                return true;
            });
            w().SIWrite->click();
            QVERIFY(log.actionDone());
            const size_t sent = h_.frames().size();
            QVERIFY(sent == 3 || sent == 4);
            QVERIFY(!h_.unit->waitForFrames(sent + 1, 700));
        }
        // During the pause after the outcome: the window goes as soon as the port is closed.
        {
            h_.unit->clearReceivedFrames();
            qint64 pressedAt = -1;
            ExchangeLog log([&](TFrs232 &x, const Look &l) {
                if (l.text != QStringLiteral("Команда успешно выполнена!"))
                    return false;
                pressedAt = l.ms;
                x.BExit->click();
                return true;
            });
            QElapsedTimer clock;
            clock.start();
            w().Button1->click();
            // The main window is back without sitting out the rest of the 1500 ms pause: the
            // first tick (600 ms), the port settling after the previous exchange (300 ms) and
            // slack for a loaded machine, short of 600 + 1500 ms. (Every bound here leaves such
            // slack and stays below the 1500 ms pause it tells apart.)
            QVERIFY2(clock.elapsed() < 600 + 300 + 1000,
                     qPrintable(QString::number(clock.elapsed())));
            log.sample();
            QVERIFY(log.actionDone());
            QVERIFY2(log.goneAt() - pressedAt < 300 + 900,
                     qPrintable(QString::number(log.goneAt() - pressedAt)));
            // Closing no longer waits on the device, so the port may be shut within the very
            // millisecond of the press.
            const auto closed =
                log.firstWhere([&](const Look &l) { return l.ms >= pressedAt && !l.portOpen; });
            QVERIFY(closed && closed->ms - pressedAt < 400);
            QCOMPARE(h_.unit->lastCommand(), 1);
        }
        // The port is free again for the next exchange.
        h_.unit->clearReceivedFrames();
        w().Button2->click();
        QCOMPARE(h_.frames().size(), size_t(1));
    }

    void aBusyPortIsReportedAndNothingRuns()
    {
        TestHandOff handOff;
        qvoksb::SerialPort other(&handOff);
        other.PortNum = 1;
        other.Open(); // another program holds COM1
        QVERIFY(other.Active());
        ExchangeLog log(abortAfter(1000));
        w().SIWrite->click();
        QVERIFY(log.actionDone());
        const Look last = *log.lastOpen();
        // "СОМ" in Cyrillic letters.
        QCOMPARE(last.text, QString::fromUtf8("Порт: \u0421\u041E\u041C1\r\nзанят другим "
                                              "приложением или недоступен!\n"
                                              "Порт занят другой программой"));
        QVERIFY(last.red);
        QVERIFY(!log.firstWhere([](const Look &l) { return l.timerRunning || l.portOpen; }));
        QVERIFY(!h_.unit->waitForFrames(1, 300));
        other.Close();
    }

    void aPortWithoutADeviceIsReportedWithItsNumber()
    {
        // COM9's entry points at nothing, so no built-in port is ever tried.
        const QString entry = h_.portDir() + QStringLiteral("/COM9");
        QVERIFY(QFile::link(h_.portDir() + QStringLiteral("/unplugged-adapter"), entry));
        QCOMPARE(QString::fromStdString(qvoksb::serialDevicePath(9)), entry);
        w().COM[8]->trigger();
        QCOMPARE(w().FComPort, 9);
        ExchangeLog log(abortAfter(500));
        w().Button2->click();
        QVERIFY(log.actionDone());
        QCOMPARE(log.lastOpen()->text,
                 QString::fromUtf8("Порт: \u0421\u041E\u041C9\r\nзанят другим приложением или "
                                   "недоступен!\nНет такого устройства (адаптер отключён?)"));
        QVERIFY(log.lastOpen()->red);
        QVERIFY(!log.firstWhere([](const Look &l) { return l.timerRunning; }));
    }
};

QTEST_MAIN(TestExchangeFaults)
#include "tst_exchange_faults.moc"
