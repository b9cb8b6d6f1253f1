// Comparing the window with the unit and with a file, the check before a write and the
// verification after it, end to end against the simulated unit.
#include "DifferenceWindow.h"
#include "MainPlacement.h"
#include "exchange_harness.h"

#include <QAction>
#include <QFile>
#include <QTest>

#include <algorithm>

using namespace exchangetest;
using qvoksb::Setting;

namespace
{

// One showing of the difference window, as the test saw it.
struct Shown {
    DifferenceWindow::Source source;
    std::vector<qvoksb::DifferenceRow> rows;
    QString summary;
    std::vector<qvoksb::DifferenceRow> all; // with "показать все параметры"
};

std::vector<Setting> settingsOf(const std::vector<qvoksb::DifferenceRow> &rows)
{
    std::vector<Setting> out;
    for (const auto &r : rows)
        out.push_back(r.setting);
    return out;
}

} // namespace

class TestCompare : public QObject
{
    Q_OBJECT

    Harness h_;
    QList<Shown> shown_;
    DifferenceWindow::Choice choice_ = DifferenceWindow::Choice::Close;
    TFKsb &w() { return *h_.window; }

private slots:
    void init()
    {
        h_.startForTest();
        shown_.clear();
        choice_ = DifferenceWindow::Choice::Close;
        w().AnswerDifferences = [this](DifferenceWindow &d) {
            Shown look{d.source(), d.rows(), d.summary(), {}};
            d.ShowAll->setChecked(true);
            look.all = d.rows();
            shown_.append(look);
            return choice_;
        };
    }
    void cleanup()
    {
        FileDialog::executeHook = nullptr;
        h_.stop();
    }

    void aCompareFindsWhatTheUnitHoldsOtherwiseAndLoadsIt()
    {
        // A fresh unit holds a fresh window's settings; three of them are changed in the unit:
        // the phase threshold 120 %ТТ, the third characteristic, a 700 ms pulse on ВЫХ.1.
        h_.unit->setReg(385, 120);
        h_.unit->setReg(386, 2);
        h_.unit->setReg(264, 7);
        const Controls before = Controls::of(w());
        h_.unit->clearReceivedFrames();
        // The unit answers a tick late: each block is still decoded for itself alone.
        h_.unit->setFaults({.delayMs = 350});
        ExchangeLog log;
        w().CompareUnit->trigger();
        h_.unit->setFaults({});
        QVERIFY(Frs232 == nullptr);
        QCOMPARE(log.texts().first(), QStringLiteral("Чтение параметров КОНФИГУРАЦИИ ..."));
        QCOMPARE(log.texts().last(), QStringLiteral("Чтение всех параметров успешно завершено!"));
        // The seven blocks, read as a read does, and nothing else.
        QCOMPARE(firstRegisters(h_.frames()),
                 (std::vector<int>{257, 267, 277, 384, 395, 262, 269}));
        for (const Frame &f : h_.frames())
            QCOMPARE(f[1], uint8_t(4));
        QVERIFY(Controls::of(w()).differencesFrom(before).isEmpty());

        QCOMPARE(shown_.size(), qsizetype(1));
        const auto &rows = shown_[0].rows;
        QCOMPARE(settingsOf(rows), (std::vector<Setting>{Setting::RxSpinEdit8, Setting::ComboBox3,
                                                         Setting::RxSpinEdit23}));
        QCOMPARE(rows[0].page, std::string("УСТАВКИ МТЗ"));
        QCOMPARE(rows[0].left, std::string("4 %ТТ"));
        QCOMPARE(rows[0].right, std::string("120 %ТТ"));
        QCOMPARE(rows[1].left, std::string("ANSI слабая зависимость"));
        QCOMPARE(rows[1].right, std::string("ANSI нормальная зависимость"));
        QCOMPARE(rows[2].page, std::string("ВЫХОДНЫЕ РЕЛЕ"));
        QCOMPARE(rows[2].caption, std::string("ВЫХ.1: Длительность импульса (мсек)"));
        QCOMPARE(rows[2].right, std::string("700 мсек"));
        QCOMPARE(shown_[0].summary, QStringLiteral("Различаются параметры: 3"));

        // "Загрузить из блока": the window then holds what the unit holds, and a second compare
        // finds nothing.
        choice_ = DifferenceWindow::Choice::LoadFromUnit;
        w().CompareUnit->trigger();
        const QStringList wrong = unitDiffersFrom(*h_.unit, unitImageOf(w()));
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("; ")));
        choice_ = DifferenceWindow::Choice::Close;
        w().CompareUnit->trigger();
        QCOMPARE(shown_.size(), qsizetype(3));
        QVERIFY(shown_[2].rows.empty());
        // Every setting the unit carries is listed on request: 76 less the two last-trip texts.
        QCOMPARE(shown_[2].all.size(), size_t(74));
        for (const auto &r : shown_[2].all)
            QVERIFY2(!r.differs && r.left == r.right, r.caption.c_str());
        QCOMPARE(shown_[0].all.size(), size_t(74));
        QCOMPARE(std::count_if(shown_[0].all.begin(), shown_[0].all.end(),
                               [](const auto &r) { return r.differs; }),
                 3);
        QCOMPARE(shown_[2].summary, QStringLiteral("Настройки в окне и в блоке совпадают."));
        QVERIFY(h_.boxes.isEmpty());
    }

    void aCompareThatEndsEarlyComparesNothing()
    {
        h_.unit->setReg(385, 120);
        h_.unit->setFaults({.silent = true});
        const Controls before = Controls::of(w());
        ExchangeLog log(closeWhen([](const Look &l) { return l.ms >= 1500; }));
        w().CompareUnit->trigger();
        QVERIFY(log.actionDone());
        // The unit refuses the fifth block: the blocks before it are no comparison either.
        h_.unit->setFaults({.exceptionBlockStart = 395, .exceptionCode = 4});
        ExchangeLog refused(closeWhen([](const Look &l) { return l.red && !l.timerRunning; }));
        w().CompareUnit->trigger();
        QVERIFY(refused.actionDone());
        QVERIFY(refused.lastOpen()->text.contains(QStringLiteral("Запрос к регистрам 395–405")));
        QVERIFY(shown_.isEmpty());
        QVERIFY(Controls::of(w()).differencesFrom(before).isEmpty());
    }

    void verificationConfirmsAFaithfulUnitAndNamesWhatAnotherDidNotKeep()
    {
        // The unit answers a tick late: every block is written once in its order and read
        // back, each reply taken for its own block.
        w().VerifyWrite->setChecked(true);
        w().RxSpinEdit8->setValueFromProgram(42LL);
        const std::map<int, uint16_t> expected = unitImageOf(w());
        h_.unit->setFaults({.delayMs = 350});
        ExchangeLog log;
        w().SIWrite->click();
        QCOMPARE(log.texts().last(), QStringLiteral("Все параметры успешно записаны!"));
        QVERIFY(!log.lastOpen()->red);
        std::vector<Frame> writes, reads;
        for (const Frame &f : h_.frames())
            (f[1] == 16 ? writes : reads).push_back(f);
        const std::vector<int> blocks = {257, 267, 277, 384, 395, 262, 269};
        QCOMPARE(firstRegisters(writes), blocks);
        QCOMPARE(firstRegisters(reads), blocks);
        QVERIFY(h_.frames().front()[1] == 16 && h_.frames().back()[1] == 4);
        const QStringList wrong = unitDiffersFrom(*h_.unit, expected);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("; ")));
        QVERIFY(shown_.isEmpty());

        // The unit acknowledges the phase threshold and keeps 150 instead.
        h_.unit->setFaults({.alterRegister = 385, .alterValue = 150});
        ExchangeLog altered;
        w().SIWrite->click();
        QCOMPARE(altered.texts().last(), QStringLiteral("ОШИБКА: Блок хранит другие значения (1)"));
        QVERIFY(altered.lastOpen()->red);
        QCOMPARE(shown_.size(), qsizetype(1));
        QCOMPARE(shown_[0].source, DifferenceWindow::Source::Verification);
        QCOMPARE(settingsOf(shown_[0].rows), std::vector<Setting>{Setting::RxSpinEdit8});
        QCOMPARE(shown_[0].rows[0].caption, std::string("Времязависимая МТЗ в фазах. Порог (%ТТ)"));
        QCOMPARE(shown_[0].rows[0].left, std::string("42 %ТТ"));
        QCOMPARE(shown_[0].rows[0].right, std::string("150 %ТТ"));
        QCOMPARE(w().RxSpinEdit8->value(), 42);
    }

    void thePreWriteCheckListsTheValuesOffTheUnitsSteps()
    {
        // 55 Hz travels as 50 Hz, a 250 ms pulse as 200 ms, 1005 ms of the phase delay as
        // 1000 ms (units of 10 ms); a 300 ms pulse and 60 Hz are on the steps.
        w().RxSpinEdit1->setValueFromProgram(55LL);
        w().RxSpinEdit22->setValueFromProgram(250LL);
        w().RxSpinEdit23->setValueFromProgram(300LL);
        w().RxSpinEdit9->setValueFromProgram(1005LL);
        QCOMPARE(w().RxSpinEdit1->value(), 55);
        h_.answer = false;
        w().SIWrite->click();
        QVERIFY(h_.frames().empty());
        QCOMPARE(h_.boxes.size(), qsizetype(1));
        const QString question = h_.boxes[0].second;
        QCOMPARE(h_.boxes[0].first, Messages::Kind::Confirmation);
        QVERIFY(question.endsWith(QStringLiteral("Записать всё равно?")));
        QCOMPARE(question.count(QStringLiteral(" будет записано как ")), 3);
        QVERIFY(question.contains(QStringLiteral("55 Гц будет записано как 50 Гц")));
        QVERIFY(question.contains(QStringLiteral("250 мсек будет записано как 200 мсек")));
        QVERIFY(question.contains(QStringLiteral("1005 мсек будет записано как 1000 мсек")));

        // On the steps, nothing is asked.
        w().RxSpinEdit1->setValueFromProgram(60LL);
        w().RxSpinEdit22->setValueFromProgram(200LL);
        w().RxSpinEdit9->setValueFromProgram(1000LL);
        QVERIFY(w().confirmUnitCanCarry());
        QCOMPARE(h_.boxes.size(), qsizetype(1));
    }

    void aWriteRefusedPartWayNamesTheBlockAndShowsWhatTheUnitHolds()
    {
        // A list with no item travels as 0xFFFF, which the unit refuses: the phase block is
        // not taken, the three blocks before it are.
        w().VerifyWrite->setChecked(true);
        w().RxSpinEdit2->setValueFromProgram(400LL);
        w().SetListIndex(w().ComboBox3, -1);
        // The refusal, then the read-back of all seven blocks.
        ExchangeLog log(
            closeWhen([](const Look &l) { return l.red && !l.timerRunning && l.step == 8; }));
        w().SIWrite->click();
        QVERIFY(log.actionDone());
        QCOMPARE(h_.boxes.size(), qsizetype(1));
        QVERIFY(h_.boxes[0].second.contains(QStringLiteral("пункт не выбран")));
        QCOMPARE(log.lastOpen()->text,
                 QStringLiteral("ОШИБКА: Блок отклонил запрос: недопустимое значение данных (код "
                                "3)\r\nЗапрос к регистрам 384–394\r\nБлок хранит частично "
                                "записанную конфигурацию!"));
        QCOMPARE(h_.unit->reg(258), uint16_t(400));
        QCOMPARE(shown_.size(), qsizetype(1));
        QCOMPARE(settingsOf(shown_[0].rows), std::vector<Setting>{Setting::ComboBox3});
        QCOMPARE(shown_[0].rows[0].right, std::string("ANSI слабая зависимость"));
    }

    void aCompareWithAFileShowsItsDifferencesAndLoadsIt()
    {
        const QString path = h_.home->filePath(QStringLiteral("feeder.txt"));
        w().RxSpinEdit2->setValueFromProgram(200LL);
        w().SaveDialog1.FileName = path;
        w().SaveConfigFile();
        w().RxSpinEdit2->setValueFromProgram(100LL);
        h_.boxes.clear();
        FileDialog::executeHook = [&](FileDialog &d) {
            d.FileName = path;
            return true;
        };
        choice_ = DifferenceWindow::Choice::LoadFile;
        w().CompareFile->trigger();
        QCOMPARE(shown_.size(), qsizetype(1));
        QCOMPARE(shown_[0].source, DifferenceWindow::Source::File);
        QCOMPARE(settingsOf(shown_[0].rows), std::vector<Setting>{Setting::RxSpinEdit2});
        QCOMPARE(shown_[0].rows[0].left, std::string("100 А"));
        QCOMPARE(shown_[0].rows[0].right, std::string("200 А"));
        QCOMPARE(w().RxSpinEdit2->value(), 200);
        QCOMPARE(w().StaticText1->text(), QStringLiteral("feeder.txt"));

        // A bad file: the open's message and nothing else.
        QFile bad(path);
        QVERIFY(bad.open(QIODevice::WriteOnly | QIODevice::Truncate));
        bad.write("[nonsense]\r\n");
        bad.close();
        w().CompareFile->trigger();
        QCOMPARE(shown_.size(), qsizetype(1));
        QCOMPARE(h_.boxes.size(), qsizetype(1));
        QCOMPARE(h_.boxes[0].first, Messages::Kind::Error);
        QVERIFY(h_.boxes[0].second.contains(QStringLiteral("содержит ошибки!")));
    }

    void theVerificationMarkIsKeptInTheProfile()
    {
        w().VerifyWrite->setChecked(true);
        QVERIFY(w().FormStorage1->Save());
        QFile ini(PlacementStore::path());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QByteArray text = ini.readAll();
        QVERIFY(text.indexOf("VerifyWrite_Checked=True") > text.indexOf("RxSpinEdit26_Value"));
        TFKsb again;
        QVERIFY(again.FormStorage1->Restore());
        QVERIFY(again.VerifyWrite->isChecked());
        // A profile of an older version has no such key: verification stays off.
        ini.close();
        QVERIFY(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ini.write(text.replace("VerifyWrite_Checked=True", ""));
        ini.close();
        TFKsb old;
        old.FormStorage1->Restore();
        QVERIFY(!old.VerifyWrite->isChecked());
    }
};

QTEST_MAIN(TestCompare)
#include "tst_compare.moc"
