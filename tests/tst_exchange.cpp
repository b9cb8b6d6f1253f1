// The exchange window end to end, the exchanges that go right: the real main window talks
// through a pseudo-terminal to the simulated unit, as it would to a unit on a cable, and the test
// presses the buttons and answers the questions as a user would.
#include "exchange_harness.h"

#include <QTest>

using namespace exchangetest;

namespace
{

std::mt19937 seededRng()
{
    const auto seed = std::random_device{}();
    qInfo("random seed %u", seed);
    return std::mt19937(seed);
}

} // namespace

class TestExchange : public QObject
{
    Q_OBJECT

    Harness h_;
    TFKsb &w() { return *h_.window; }

    // The seven-step write as the user starts it from the tool bar; checks what the window
    // showed and that the unit now holds exactly what the controls say.
    void writeAndCompare(const char *what)
    {
        const std::map<int, uint16_t> expected = unitImageOf(w());
        h_.unit->clearReceivedFrames();
        ExchangeLog log;
        const qint64 took = millisecondsOfClick(w().SIWrite);
        log.sample();
        QVERIFY2(Frs232 == nullptr, what);

        const QStringList texts = log.texts();
        QCOMPARE(texts, QStringList({
                            QStringLiteral("Запись параметров КОНФИГУРАЦИИ ..."),
                            QStringLiteral("Запись уставок МТЗ ..."),
                            QStringLiteral("Запись уставок ОЗЗ ..."),
                            QStringLiteral("Запись параметров ВЫХОДНЫХ РЕЛЕ ..."),
                            QStringLiteral("Запись параметров ЦИФРОВЫХ ВХОДОВ ..."),
                            QStringLiteral("Все параметры успешно записаны!"),
                        }));
        QVERIFY(!log.firstWhere([](const Look &l) { return l.red; }));
        QCOMPARE(log.lastOpen()->step, 9);
        // 15 ticks of 300 ms, then the outcome stays for 1.5 s.
        QVERIFY2(took >= 4500 + 1500, qPrintable(QString::number(took)));
        QVERIFY2(took < 4500 + 1500 + 1500, qPrintable(QString::number(took)));

        const std::vector<Frame> frames = h_.frames();
        QCOMPARE(frames.size(), size_t(7));
        const int firsts[] = {257, 267, 277, 384, 395, 262, 269};
        for (size_t i = 0; i < 7; ++i) {
            QCOMPARE(frames[i][0], uint8_t(1));
            QCOMPARE(frames[i][1], uint8_t(16));
            QCOMPARE(int(wordAt(frames[i], 2)), firsts[i]);
        }
        const QStringList wrong = unitDiffersFrom(*h_.unit, expected);
        QVERIFY2(wrong.isEmpty(), qPrintable(QString::fromUtf8(what) + ": " + wrong.join("; ")));
    }

private slots:
    void init() { h_.startForTest(); }
    void cleanup() { h_.stop(); }

    void buttonsOfThePagesStartTheirExchanges()
    {
        // The two buttons of the pages "УПРАВЛЕНИЕ" and the input/output state.
        h_.answer = false;
        w().Button1->click();
        QCOMPARE(h_.boxes.size(), qsizetype(1));
        ExchangeLog log;
        w().Button2->click();
        QVERIFY(log.anyWindow());
        QCOMPARE(h_.frames().size(), size_t(1));
    }

    void writeConfigurationPutsEveryRegisterIntoTheUnit()
    {
        std::mt19937 rng = seededRng();
        randomise(w(), rng);
        writeAndCompare("random settings");
        QVERIFY(h_.boxes.isEmpty());
    }

    // A unit that answers a tick late gets every block once in their order, and holds exactly
    // what the controls say; the window says so only then.
    void aSlowUnitGetsEveryBlockAndHoldsExactlyTheWindowsSettings()
    {
        setToMaxima(w());
        w().SetListIndex(w().ComboBox1, 1); // 60 Hz and the zero-sequence method set every bit
        w().SetListIndex(w().ComboBox2, 0);
        QCOMPARE(w().RxSpinEdit1->value(), 60);
        const std::map<int, uint16_t> expected = unitImageOf(w());
        h_.unit->setFaults({.delayMs = 350});
        ExchangeLog log;
        w().SIWrite->click();
        QCOMPARE(log.texts().last(), QStringLiteral("Все параметры успешно записаны!"));
        QVERIFY(!log.firstWhere([](const Look &l) { return l.red; }));
        QCOMPARE(firstRegisters(h_.frames()),
                 (std::vector<int>{257, 267, 277, 384, 395, 262, 269}));
        const QStringList wrong = unitDiffersFrom(*h_.unit, expected);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("; ")));
        QCOMPARE(h_.unit->reg(388), uint16_t(60000));
        QCOMPARE(h_.unit->reg(257), uint16_t(0x0641));
        QVERIFY(h_.boxes.isEmpty());
    }

    void readConfigurationFillsEveryControlAndTheLastTrip()
    {
        // A configuration made through the controls is the unit's; the window is then changed
        // everywhere and must get all of it back.
        std::mt19937 rng = seededRng();
        const Controls unitSettings = h_.unitHoldsRandomSettings(rng);
        // Last trip: a time-dependent phase overcurrent on 11 June 2009 at 7:18:40.
        h_.unit->setReg(529, 0x1409);
        h_.unit->setReg(530, 0x1967);
        h_.unit->setReg(531, 0x4995);
        w().EEvent->clear();
        w().EDt->clear();

        ExchangeLog log;
        const qint64 took = millisecondsOfClick(w().SIRead);
        QVERIFY(Frs232 == nullptr);

        const QStringList diff = Controls::of(w()).differencesFrom(unitSettings);
        QVERIFY2(diff.isEmpty(), qPrintable(diff.join("; ")));
        QCOMPARE(w().EEvent->text(), QStringLiteral("ВРЕМЯЗАВИСИМАЯ МТЗ В ФАЗАХ"));
        QCOMPARE(w().EDt->text(), QStringLiteral("11.6.2009 7:18:40"));
        QVERIFY2(h_.boxes.isEmpty(), qPrintable(h_.boxes.value(0).second));

        const QStringList texts = log.texts();
        QCOMPARE(texts, QStringList({
                            QStringLiteral("Чтение параметров КОНФИГУРАЦИИ ..."),
                            QStringLiteral("Чтение уставок МТЗ ..."),
                            QStringLiteral("Чтение уставок ОЗЗ ..."),
                            QStringLiteral("Чтение параметров ВЫХОДНЫХ РЕЛЕ ..."),
                            QStringLiteral("Чтение параметров ЦИФРОВЫХ ВХОДОВ ..."),
                            QStringLiteral("Чтение информации о последнем отключении ..."),
                            QStringLiteral("Чтение всех параметров успешно завершено!"),
                        }));
        QVERIFY(!log.firstWhere([](const Look &l) { return l.red; }));
        QVERIFY2(took >= 5100 + 1500 && took < 5100 + 1500 + 1500,
                 qPrintable(QString::number(took)));

        const std::vector<Frame> frames = h_.frames();
        QCOMPARE(frames.size(), size_t(8));
        const std::pair<int, int> blocks[] = {{257, 3},  {267, 1}, {277, 6}, {384, 11},
                                              {395, 11}, {262, 5}, {269, 4}, {529, 3}};
        for (size_t i = 0; i < 8; ++i) {
            QCOMPARE(frames[i].size(), size_t(8));
            QCOMPARE(frames[i][1], uint8_t(4));
            QCOMPARE(int(wordAt(frames[i], 2)), blocks[i].first);
            QCOMPARE(int(wordAt(frames[i], 4)), blocks[i].second);
        }
    }

    void aUnitTwoTicksLateCarriesOutACommandOnceAndIsReadWhole()
    {
        // The unit records a trip of its own when tripped over the link; reading shows it with
        // today's date. Answering two ticks late, it gets the command once and every block of
        // the read, each decoded for its own block.
        std::mt19937 rng = seededRng();
        const Controls unitSettings = h_.unitHoldsRandomSettings(rng);
        h_.unit->setFaults({.delayMs = 650});
        w().RadioGroup1->item(1)->click();
        ExchangeLog command;
        w().Button1->click();
        QCOMPARE(command.texts().last(), QStringLiteral("Команда успешно выполнена!"));
        QCOMPARE(h_.frames().size(), size_t(1));
        QCOMPARE(h_.unit->lastCommand(), 2);
        QCOMPARE(h_.boxes.size(), qsizetype(1)); // the question before the command

        h_.unit->clearReceivedFrames();
        h_.boxes.clear();
        ExchangeLog read;
        w().SIRead->click();
        QCOMPARE(read.texts().last(), QStringLiteral("Чтение всех параметров успешно завершено!"));
        QCOMPARE(firstRegisters(h_.frames()),
                 (std::vector<int>{257, 267, 277, 384, 395, 262, 269, 529}));
        const QStringList diff = Controls::of(w()).differencesFrom(unitSettings);
        QVERIFY2(diff.isEmpty(), qPrintable(diff.join("; ")));
        QCOMPARE(w().EEvent->text(), QStringLiteral("ОТКЛЮЧЕНИЕ ВЫКЛ. ПО ПОСЛЕД. КАНАЛУ СВЯЗИ"));
        const QDate today = QDate::currentDate();
        QVERIFY2(
            w().EDt->text().startsWith(
                QStringLiteral("%1.%2.%3 ").arg(today.day()).arg(today.month()).arg(today.year())),
            qPrintable(w().EDt->text()));
        QVERIFY(h_.boxes.isEmpty());
    }

    void everyCommandAsksAndCarriesItsCode()
    {
        struct Row {
            const char *question;
            int code;
        };
        const Row rows[] = {
            {"Вы действительно хотите выполнить удаленный сброс?", 1},
            {"Вы действительно хотите выполнить дистанционное отключение выкл.?", 2},
            {"Вы действительно хотите очистить информацию о техн. обслуживании?", 8},
            {"Вы действительно хотите удалить накопленные события?", 9},
            {"Вы действительно хотите активировать ВЫХ.1?", 20},
            {"Вы действительно хотите активировать ВЫХ.2?", 21},
            {"Вы действительно хотите активировать ВЫХ.3?", 22},
        };
        QCOMPARE(w().RadioGroup1->count(), 7);
        // Each item asks its question and starts the exchange with its code (stopped here as
        // soon as the port is open: what the engine sends for a code is its own test's).
        for (int i = 0; i < 7; ++i) {
            h_.boxes.clear();
            w().RadioGroup1->item(i)->click();
            QCOMPARE(w().RadioGroup1->ItemIndex(), i);
            int tagDuringExchange = -1;
            int codeOfExchange = -1;
            ExchangeLog log([&](TFrs232 &x, const Look &l) {
                tagDuringExchange = w().RadioGroup1->Tag;
                codeOfExchange = x.CommandCode;
                if (!l.portOpen)
                    return false;
                x.BExit->click();
                return true;
            });
            w().Button1->click();
            QCOMPARE(h_.boxes.size(), qsizetype(1));
            QCOMPARE(h_.boxes[0].first, Messages::Kind::Confirmation);
            QCOMPARE(h_.boxes[0].second, QString::fromUtf8(rows[i].question));
            QCOMPARE(tagDuringExchange, rows[i].code);
            QCOMPARE(codeOfExchange, rows[i].code);
            QCOMPARE(w().RadioGroup1->Tag, 0);
        }
        QVERIFY(!h_.unit->waitForFrames(1, 300));
        // One carried out: sent once, the outcome, the pause.
        w().RadioGroup1->item(4)->click();
        ExchangeLog log;
        const qint64 took = millisecondsOfClick(w().Button1);
        QCOMPARE(h_.unit->lastCommand(), 20);
        QCOMPARE(h_.frames().size(), size_t(1));
        QCOMPARE(log.texts(), QStringList({QStringLiteral("Исполнение КОМАНДЫ УПРАВЛЕНИЯ ..."),
                                           QStringLiteral("Команда успешно выполнена!")}));
        QCOMPARE(log.lastOpen()->step, 9);
        QVERIFY(!log.lastOpen()->red);
        QVERIFY2(took >= 600 + 1500 && took < 600 + 1500 + 1500, qPrintable(QString::number(took)));
    }

    void aDeclinedCommandSendsNothing()
    {
        w().RadioGroup1->item(5)->click();
        h_.answer = false;
        ExchangeLog log;
        w().Button1->click();
        QCOMPARE(h_.boxes.size(), qsizetype(1));
        QCOMPARE(h_.boxes[0].second, QStringLiteral("Вы действительно хотите активировать ВЫХ.2?"));
        QVERIFY(!log.anyWindow());
        QCOMPARE(w().RadioGroup1->Tag, 0);
        QVERIFY(!h_.unit->waitForFrames(1, 400));
        QCOMPARE(h_.unit->lastCommand(), 0);
    }

    void statusLightsTheLedsOfSetBitsOnly()
    {
        LedIndicator *const outputs[] = {w().VrBlinkLed4, w().VrBlinkLed1, w().VrBlinkLed2,
                                         w().VrBlinkLed3};
        LedIndicator *const inputs[] = {w().VrBlinkLedBit1, w().VrBlinkLedBit2, w().VrBlinkLedBit3,
                                        w().VrBlinkLedBit4};
        for (LedIndicator *led : outputs)
            QVERIFY(!led->isLit());
        // Each LED lit once and dark once; the bits above 3 mean nothing.
        const std::pair<uint16_t, uint16_t> states[] = {
            {0x0005, 0x000A}, {0xFFFA, 0xFFF5}, {0xFFF0, 0x0000}};
        for (auto [out, in] : states) {
            h_.unit->setReg(517, out);
            h_.unit->setReg(518, in);
            h_.unit->clearReceivedFrames();
            ExchangeLog log;
            const qint64 took = millisecondsOfClick(w().Button2);
            QVERIFY(Frs232 == nullptr);
            for (int b = 0; b < 4; ++b) {
                QVERIFY2(outputs[b]->isLit() == bool(out >> b & 1),
                         qPrintable(outputs[b]->caption()));
                QVERIFY2(inputs[b]->isLit() == bool(in >> b & 1), qPrintable(inputs[b]->caption()));
            }
            // No outcome text and no pause: the window goes as soon as the LEDs are set.
            QCOMPARE(log.texts(),
                     QStringList({QStringLiteral("Чтение состояния ВХОДОВ/ВЫХОДОВ ..."),
                                  QStringLiteral("Чтение состояний ВХОДОВ/ВЫХОДОВ ...")}));
            // Two ticks; a pause after an outcome would add 1500 ms (a loaded machine adds less).
            QVERIFY2(took >= 600 && took < 600 + 1500, qPrintable(QString::number(took)));
            const std::vector<Frame> frames = h_.frames();
            QCOMPARE(frames.size(), size_t(1));
            QCOMPARE(hexOf(Frame(frames[0].begin(), frames[0].begin() + 6)),
                     QStringLiteral("01 04 02 05 00 02"));
        }
        // The two ВЫКЛ. LEDs light red, the others lime green.
        QCOMPARE(w().VrBlinkLed4->ledPalette(2).high, QColor(Qt::red));
        QCOMPARE(w().VrBlinkLedBit4->ledPalette(2).high, QColor(Qt::red));
        QCOMPARE(w().VrBlinkLed1->ledPalette(2).high, QColor(0x00, 0xFF, 0x00));
        QCOMPARE(w().VrBlinkLedBit1->ledPalette(2).high, QColor(0x00, 0xFF, 0x00));
    }

    void aNewExchangeAfterAnAbortedOneStartsClean()
    {
        // The write is stopped with the reply of its first step received but not yet examined
        // (the unit answers within a few milliseconds, the next tick is 300 ms away).
        qint64 sentAt = -1;
        ExchangeLog aborted([&](TFrs232 &x, const Look &l) {
            if (h_.unit->receivedFrames().empty())
                return false;
            if (sentAt < 0)
                sentAt = l.ms;
            if (l.ms - sentAt < 100)
                return false;
            x.BExit->click();
            return true;
        });
        w().SIWrite->click();
        QVERIFY(aborted.actionDone());
        QCOMPARE(h_.frames().size(), size_t(1));

        // A status read next: its window starts yellow at step 1 and asks before it examines.
        h_.unit->clearReceivedFrames();
        h_.unit->setReg(518, 0x0001);
        ExchangeLog next;
        w().Button2->click();
        const auto first = next.firstWhere([](const Look &l) { return l.portOpen; });
        QVERIFY(first.has_value());
        QCOMPARE(first->step, 1);
        QVERIFY(!first->red);
        QCOMPARE(first->text, QStringLiteral("Чтение состояния ВХОДОВ/ВЫХОДОВ ..."));
        QVERIFY(!next.showed(QStringLiteral("!!! Неверный ответ блока !!!")));
        QVERIFY(!next.showed(QStringLiteral("!!! Ошибка CRC !!!")));
        QCOMPARE(h_.frames().size(), size_t(1));
        QVERIFY(w().VrBlinkLedBit1->isLit());

        // And a write after that sends step 1 first and completes.
        h_.unit->clearReceivedFrames();
        w().RxSpinEdit2->setValue(1995);
        w().SIWrite->click();
        QCOMPARE(h_.frames().size(), size_t(7));
        QCOMPARE(int(wordAt(h_.frames()[0], 2)), 257);
        QCOMPARE(h_.unit->reg(258), uint16_t(1995));
    }
};

QTEST_MAIN(TestExchange)
#include "tst_exchange.moc"
