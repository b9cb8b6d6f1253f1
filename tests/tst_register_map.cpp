// The register map on the real main window: the requests built from its controls, the unit's
// registers put into them, the commands and the status. libmodbus, an independent Modbus
// implementation, plays the unit on a pseudo-terminal inside the test: what the exchange engine's
// function-16 frames write into it is checked register by register, and its answers to the
// function-4 frames reach the controls as the main window applies a read.
#include "Main.h"
#include "Messages.h"
#include "Rs232.h"
#include "core/settings/register_map.h"
#include "core/settings/trip_record.h"
#include "unit_image.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "frame_bytes.h"
#include "libmodbus_slave.h"
#include "testsupport.h"

#include <fcntl.h>
#include <map>
#include <memory>
#include <poll.h>
#include <random>
#include <unistd.h>
#include <vector>

namespace
{

namespace exchange = qvoksb::exchange;

// The engine's line to libmodbus: every request is answered at once, before the next tick.
struct LibmodbusLine : exchange::Line {
    LibmodbusSlave &unit;
    exchange::Engine *engine = nullptr;
    exchange::TimePoint now{};
    bool rejected = false;
    explicit LibmodbusLine(LibmodbusSlave &u) : unit(u) {}
    void discardInput() override {}
    bool send(std::span<const uint8_t> frame) override
    {
        bool refused = false;
        const Bytes answer = unit.transact(Bytes(frame.begin(), frame.end()), &refused);
        rejected = rejected || refused || answer.empty();
        engine->received(answer, now);
        return true;
    }
};

// One exchange of the engine with libmodbus, started from the window's address and settings.
exchange::Result runWith(LibmodbusSlave &unit, const TFKsb &window, exchange::Kind kind)
{
    LibmodbusLine line(unit);
    exchange::Options o;
    o.kind = kind;
    o.address = uint8_t(window.RxSpinEdit26->value());
    o.settings = window.currentSettings();
    exchange::Engine engine(o, line);
    line.engine = &engine;
    for (int tick = 0; tick < 100 && !engine.finished(); ++tick) {
        line.now += exchange::TickInterval;
        engine.tick(line.now);
    }
    if (line.rejected)
        return {};
    return engine.result();
}

void setSpin(SpinEdit *spin, long long value)
{
    spin->setValueFromProgram(value);
}

// Every value the register map and the last-trip and status reads touch.
struct Snapshot {
    std::vector<int> spins, lists;
    std::vector<bool> boxes;
    QString event, time;
    std::vector<int> leds;

    static Snapshot of(const TFKsb &w)
    {
        Snapshot s;
        for (int n = 1; n <= 25; ++n)
            s.spins.push_back(w.spinEdit(n)->value());
        for (int n = 1; n <= 14; ++n)
            s.lists.push_back(w.comboBox(n)->currentIndex());
        for (int n = 1; n <= 35; ++n)
            s.boxes.push_back(w.checkBox(n)->isChecked());
        s.event = w.EEvent->text();
        s.time = w.EDt->text();
        for (LedIndicator *l :
             {w.VrBlinkLed1, w.VrBlinkLed2, w.VrBlinkLed3, w.VrBlinkLed4, w.VrBlinkLedBit1,
              w.VrBlinkLedBit2, w.VrBlinkLedBit3, w.VrBlinkLedBit4})
            s.leds.push_back(l->ColorIndex());
        return s;
    }
    bool operator==(const Snapshot &) const = default;
};

} // namespace

Q_DECLARE_METATYPE(Bytes)

class TestRegisterMap : public QObject
{
    Q_OBJECT

    std::unique_ptr<MainWindowUnderTest> w_;
    MessageBoxes boxes_;

    TFKsb &w() { return *w_; }

    // Builds the write request of step from the controls and returns the value of register reg
    // in it.
    uint16_t written(int step, int reg)
    {
        std::array<uint8_t, 64> frame{};
        qvoksb::registers::buildWriteRequest(frame, uint8_t(w().RxSpinEdit26->value()), step,
                                             w().currentSettings());
        const auto block = qvoksb::modbus::ConfigurationBlocks[size_t(step - 1)];
        const int at = 7 + 2 * (reg - block.first);
        return uint16_t(frame[size_t(at)] << 8 | frame[size_t(at + 1)]);
    }
    // Puts these registers of step into the window as the main window applies a read: the
    // configuration blocks and the last trip as settings, the state as lamps.
    bool read(int step, const std::vector<uint16_t> &registers)
    {
        if (step == qvoksb::modbus::StateStep) {
            w().showLamps(exchange::lampsOf(registers.at(0), registers.at(1)));
            return true;
        }
        qvoksb::SettingsSet set = w().currentSettings();
        if (step == qvoksb::modbus::LastTripStep) {
            const auto trip =
                qvoksb::decodeTripRecord(registers.at(0), registers.at(1), registers.at(2));
            set.setText(qvoksb::Setting::EEvent, qvoksb::tripCauseText(trip.cause));
            set.setText(qvoksb::Setting::EDt, qvoksb::tripTimeText(trip));
        } else {
            qvoksb::registers::decodeBlock(step, registers, set);
        }
        w().applySettings(set);
        return true;
    }
    // Reads these registers of step into the window; what spin then shows.
    int shownAfterRead(int step, const std::vector<uint16_t> &registers, const SpinEdit *spin)
    {
        read(step, registers);
        return spin->value();
    }
    // Step 1's registers with register 257 set to value, the rest valid.
    bool readStep1(uint16_t r257) { return read(1, {r257, 100, 100}); }

private slots:
    void init()
    {
        boxes_.clear();
        w_ = std::make_unique<MainWindowUnderTest>();
    }
    void cleanup() { w_.reset(); }

    void register257Written()
    {
        setSpin(w().RxSpinEdit1, 50);
        w().SetListIndex(w().ComboBox1, -1);
        w().SetListIndex(w().ComboBox2, -1);
        QCOMPARE(written(1, 257), uint16_t(0x0200));
        setSpin(w().RxSpinEdit1, 60);
        w().SetListIndex(w().ComboBox1, 1);
        w().SetListIndex(w().ComboBox2, 0);
        QCOMPARE(written(1, 257), uint16_t(0x0641));
        w().SetListIndex(w().ComboBox1, 0);
        w().SetListIndex(w().ComboBox2, 1);
        QCOMPARE(written(1, 257), uint16_t(0x0221));
        // A frequency loaded from a file that is not 60 writes 50.
        setSpin(w().RxSpinEdit1, 55);
        QCOMPARE(written(1, 257) & 1, 0);
    }

    void register257Read()
    {
        QVERIFY(readStep1(0x0001));
        QCOMPARE(w().RxSpinEdit1->value(), 60);
        QVERIFY(readStep1(0x0000));
        QCOMPARE(w().RxSpinEdit1->value(), 50);

        QVERIFY(readStep1(0x0060)); // both method bits: the second wins
        QCOMPARE(w().ComboBox1->currentIndex(), 1);
        QVERIFY(readStep1(0x0020));
        QCOMPARE(w().ComboBox1->currentIndex(), 0);
        QVERIFY(readStep1(0x0400));
        QCOMPARE(w().ComboBox2->currentIndex(), 0);
        QVERIFY(readStep1(0xFBFF)); // every bit but 10: НЕТ
        QCOMPARE(w().ComboBox2->currentIndex(), 1);

        // Neither method bit: the list keeps its item, and its rule still runs. With УТЕЧКА the
        // zero-sequence transformer current does not apply.
        w().SetListIndex(w().ComboBox1, 0);
        w().RxSpinEdit3->setEnabled(true); // behind the rule's back
        w().LSystem4->setEnabled(true);
        QVERIFY(readStep1(0x0000));
        QCOMPARE(w().ComboBox1->currentIndex(), 0);
        QVERIFY(!w().RxSpinEdit3->isEnabled());
        QVERIFY(boxes_.shown.isEmpty());
    }

    // --- values, their scales and the controls' ranges -----------------------------------------

    void scaledValuesAndRanges()
    {
        w().SetListIndex(w().ComboBox3, 0); // the delay applies
        setSpin(w().RxSpinEdit9, 600000);
        QCOMPARE(written(4, 388), uint16_t(60000));
        std::vector<uint16_t> r(11, 10);
        r[0] = 1;
        r[4] = 60000;
        QCOMPARE(shownAfterRead(4, r, w().RxSpinEdit9), 600000);
        r[4] = 65535;
        QCOMPARE(shownAfterRead(4, r, w().RxSpinEdit9), 600000);

        setSpin(w().RxSpinEdit22, 200);
        QCOMPARE(written(6, 263), uint16_t(2));
        setSpin(w().RxSpinEdit22, 250); // possible after opening a file
        QCOMPARE(written(6, 263), uint16_t(2));
        QCOMPARE(shownAfterRead(6, {0, 2, 2, 2, 2}, w().RxSpinEdit22), 200);

        r = std::vector<uint16_t>(11, 10);
        r[1] = 0;
        QCOMPARE(shownAfterRead(4, r, w().RxSpinEdit8), 4);
        r[1] = 500;
        QCOMPARE(shownAfterRead(4, r, w().RxSpinEdit8), 300);

        r[2] = 13;
        QVERIFY(read(4, r));
        QCOMPARE(w().ComboBox3->currentIndex(), -1);
        QCOMPARE(written(4, 386), uint16_t(65535));

        setSpin(w().RxSpinEdit10, 15);
        QCOMPARE(written(4, 387), uint16_t(15));

        // A disabled control is still sent.
        w().SetListIndex(w().ComboBox1, 0);
        QVERIFY(!w().RxSpinEdit3->isEnabled());
        setSpin(w().RxSpinEdit3, 1234);
        QCOMPARE(written(1, 259), uint16_t(1234));
    }

    void relaySetsAndBitRegisters()
    {
        // Register 277 has no ВЫКЛ box: bit 0 is never written and changes nothing when read.
        for (int n : {1, 2, 3})
            w().checkBox(n)->setChecked(true);
        QCOMPARE(written(3, 277), uint16_t(0x000E));
        QVERIFY(read(3, {0x0001, 1000, 0, 3000, 0, 300}));
        for (int n : {1, 2, 3})
            QVERIFY(!w().checkBox(n)->isChecked());
        QVERIFY(read(3, {0xFFF5, 1000, 0x0009, 3000, 0x0006, 300})); // bits 4..15 ignored
        QVERIFY(!w().CheckBox1->isChecked());
        QVERIFY(w().CheckBox2->isChecked());
        QVERIFY(!w().CheckBox3->isChecked());
        QVERIFY(w().CheckBox7->isChecked() && w().CheckBox6->isChecked());
        QVERIFY(!w().CheckBox4->isChecked() && !w().CheckBox5->isChecked());
        QVERIFY(!w().CheckBox8->isChecked() && w().CheckBox9->isChecked() &&
                w().CheckBox10->isChecked() && !w().CheckBox11->isChecked());

        // A checked but disabled ВЫХ.3 box (the self-diagnosis uses output 3) still counts.
        w().SetListIndex(w().ComboBox2, 0);
        w().CheckBox15->setChecked(true);
        QVERIFY(!w().CheckBox15->isEnabled());
        QCOMPARE(written(4, 384) & 0x8, 0x8);

        // Register 262: the mode bits 0, 2, 4, 6; the others are 0 and ignored.
        w().SetListIndex(w().ComboBox5, 1);
        w().SetListIndex(w().ComboBox6, 0);
        w().SetListIndex(w().ComboBox7, 1);
        w().SetListIndex(w().ComboBox8, -1); // no item: index AND 1 is 1
        QCOMPARE(written(6, 262), uint16_t(0x0051));
        QVERIFY(read(6, {0xFFBE, 5, 5, 5, 5}));
        QCOMPARE(w().ComboBox5->currentIndex(), 0);
        QCOMPARE(w().ComboBox6->currentIndex(), 1);
        QCOMPARE(w().ComboBox7->currentIndex(), 1);
        QCOMPARE(w().ComboBox8->currentIndex(), 0);

        // Register 269: the contact bits 0..2.
        w().SetListIndex(w().ComboBox10, 1);
        w().SetListIndex(w().ComboBox12, 0);
        w().SetListIndex(w().ComboBox14, 1);
        QCOMPARE(written(7, 269), uint16_t(0x0005));
        QVERIFY(read(7, {0xFFFA, 7, 0, 8}));
        QCOMPARE(w().ComboBox10->currentIndex(), 0);
        QCOMPARE(w().ComboBox12->currentIndex(), 1);
        QCOMPARE(w().ComboBox14->currentIndex(), 0);
        QCOMPARE(w().ComboBox9->currentIndex(), 7);
        QCOMPARE(w().ComboBox11->currentIndex(), 0);
        QCOMPARE(w().ComboBox13->currentIndex(), -1);
    }

    // --- status and last trip -----------------------------------------------------------------

    void stateIntoTheLeds()
    {
        QVERIFY(read(99, {0x0001, 0x0008}));
        QCOMPARE(w().VrBlinkLed4->ColorIndex(), 2);
        QCOMPARE(w().VrBlinkLedBit4->ColorIndex(), 2);
        QCOMPARE(w().VrBlinkLed4->ledPalette(2).high, QColor(Qt::red));
        QCOMPARE(w().VrBlinkLedBit4->ledPalette(2).high, QColor(Qt::red));
        for (LedIndicator *l : {w().VrBlinkLed1, w().VrBlinkLed2, w().VrBlinkLed3,
                                w().VrBlinkLedBit1, w().VrBlinkLedBit2, w().VrBlinkLedBit3})
            QCOMPARE(l->ColorIndex(), 1);

        QVERIFY(read(99, {0xFFF0, 0x0006}));
        for (LedIndicator *l : {w().VrBlinkLed1, w().VrBlinkLed2, w().VrBlinkLed3, w().VrBlinkLed4,
                                w().VrBlinkLedBit1, w().VrBlinkLedBit4})
            QCOMPARE(l->ColorIndex(), 1);
        QCOMPARE(w().VrBlinkLedBit2->ColorIndex(), 2);
        QCOMPARE(w().VrBlinkLedBit3->ColorIndex(), 2);

        QVERIFY(read(99, {0x000E, 0}));
        for (LedIndicator *l : {w().VrBlinkLed1, w().VrBlinkLed2, w().VrBlinkLed3})
            QCOMPARE(l->ColorIndex(), 2);
        QCOMPARE(w().VrBlinkLed4->ColorIndex(), 1);
    }

    void lastTrip()
    {
        QVERIFY(read(8, {0x1409, 0x1967, 0x4995}));
        QCOMPARE(w().EEvent->text(), QStringLiteral("ВРЕМЯЗАВИСИМАЯ МТЗ В ФАЗАХ"));
        QCOMPARE(w().EDt->text(), QStringLiteral("11.6.2009 7:18:40"));
        QVERIFY(read(8, {0, 0, 0}));
        QCOMPARE(w().EEvent->text(), QStringLiteral("СОБЫТИЯ ОТСУТСТВУЮТ"));
        QCOMPARE(w().EDt->text(), QStringLiteral("0.0.2000 0:0:0"));
        QVERIFY(read(8, {0xFF80, 0, 1023}));
        QCOMPARE(w().EEvent->text(), QStringLiteral("СОБЫТИЕ НЕИЗВЕСТНО - КОД СОБЫТИЯ: 511"));
        QCOMPARE(w().EDt->text(), QStringLiteral("0.0.2000 0:0:102"));
        QVERIFY(read(8, {2 << 7, 0, 0}));
        QCOMPARE(w().EEvent->text(), QStringLiteral("СОБЫТИЕ НЕИЗВЕСТНО - КОД СОБЫТИЯ: 2"));
        QVERIFY(read(8, {27 << 7, 0, 0}));
        QCOMPARE(w().EEvent->text(), QStringLiteral("ВЫКЛ. В СОСТОЯНИИ \"ЗАМКНУТ\""));
    }

    // --- the commands of the main window --------------------------------------------------------

    void commandsAskFirst_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("question");
        const char *questions[] = {
            "Вы действительно хотите выполнить удаленный сброс?",
            "Вы действительно хотите выполнить дистанционное отключение выкл.?",
            "Вы действительно хотите очистить информацию о техн. обслуживании?",
            "Вы действительно хотите удалить накопленные события?",
            "Вы действительно хотите активировать ВЫХ.1?",
            "Вы действительно хотите активировать ВЫХ.2?",
            "Вы действительно хотите активировать ВЫХ.3?",
        };
        for (int i = 0; i < 7; ++i)
            QTest::addRow("item %d", i) << i << QString::fromUtf8(questions[i]);
    }
    void commandsAskFirst()
    {
        QFETCH(int, item);
        QFETCH(QString, question);
        w().RadioGroup1->setItemIndex(item);

        boxes_.answer = false;
        w().Button1Click();
        QCOMPARE(boxes_.shown.size(), 1);
        QCOMPARE(boxes_.shown[0].first, Messages::Kind::Confirmation);
        QCOMPARE(boxes_.shown[0].second, question);
        QCOMPARE(w().RadioGroup1->Tag, 0);

        // What a Yes sends is checked end to end against the simulated unit (tst_exchange).
    }

    // --- against libmodbus -----------------------------------------------------------------

    void writtenRegistersMatchTheControls()
    {
        LibmodbusSlave unit(0x2A);
        QVERIFY(unit.ok());
        setSpin(w().RxSpinEdit26, 0x2A);
        for (int seed = 1; seed <= 5; ++seed) {
            randomise(w(), seed);
            const exchange::Result result = runWith(unit, w(), exchange::Kind::Write);
            QVERIFY2(result.outcome == exchange::Outcome::Done, "libmodbus refused a write frame");
            QCOMPARE(result.requestsSent, 7);
            for (const auto &[reg, value] : unitImageOf(w()))
                QVERIFY2(unit.reg(reg) == value,
                         qPrintable(QStringLiteral("register %1 holds %2, the controls give %3")
                                        .arg(reg)
                                        .arg(unit.reg(reg))
                                        .arg(value)));
        }
    }

    void readRepliesFillAFreshWindow()
    {
        LibmodbusSlave unit(1);
        QVERIFY(unit.ok());
        std::mt19937 random(99);
        const auto pick = [&](int lo, int hi) {
            return uint16_t(std::uniform_int_distribution<int>(lo, hi)(random));
        };
        for (int round = 0; round < 5; ++round) {
            // Register values in the controls' ranges; bits the map ignores are random.
            for (int reg : {257, 262, 269, 277, 279, 281, 384, 389, 392, 395, 400, 403})
                unit.reg(reg) = pick(0, 0xFFFF);
            unit.reg(389) |= 1; // the phase cut-off always trips the breaker
            const auto inRange = [&](int reg, int spin, int scale) {
                const SpinEdit *s = w().spinEdit(spin);
                unit.reg(reg) = pick((s->minimum() + scale - 1) / scale, s->maximum() / scale);
            };
            inRange(258, 2, 1), inRange(259, 3, 1), inRange(267, 4, 10), inRange(278, 5, 1);
            inRange(280, 6, 1), inRange(282, 7, 1);
            for (int e = 0; e < 2; ++e) {
                const int base = 384 + 11 * e, spin = 8 + 7 * e;
                inRange(base + 1, spin, 1), inRange(base + 3, spin + 2, 1);
                inRange(base + 4, spin + 1, 10), inRange(base + 6, spin + 3, 1);
                inRange(base + 7, spin + 4, 1), inRange(base + 9, spin + 5, 1);
                inRange(base + 10, spin + 6, 10);
                unit.reg(base + 2) = pick(0, 12);
            }
            for (int k = 0; k < 4; ++k)
                inRange(263 + k, 22 + k, 100);
            for (int reg : {270, 271, 272})
                unit.reg(reg) = pick(0, 7);
            unit.reg(517) = 0x0005;
            unit.reg(518) = 0x000A;
            unit.reg(529) = 0x1409, unit.reg(530) = 0x1967, unit.reg(531) = 0x4995;

            TFKsb fresh;
            const int previousMethod = fresh.ComboBox1->currentIndex();
            const exchange::Result got = runWith(unit, fresh, exchange::Kind::Read);
            QVERIFY(got.settings.has_value());
            fresh.applySettings(*got.settings);
            const exchange::Result state = runWith(unit, fresh, exchange::Kind::State);
            QVERIFY(state.lamps.has_value());
            fresh.showLamps(*state.lamps);
            QVERIFY(boxes_.shown.isEmpty());

            // Each control holds what its register says.
            std::map<int, uint16_t> expected = unitImageOf(fresh);
            const uint16_t r257 = unit.reg(257);
            QCOMPARE(fresh.RxSpinEdit1->value(), (r257 & 1) ? 60 : 50);
            QCOMPARE(fresh.ComboBox1->currentIndex(), (r257 & 0x40)   ? 1
                                                      : (r257 & 0x20) ? 0
                                                                      : previousMethod);
            QCOMPARE(fresh.ComboBox2->currentIndex(), (r257 & 0x400) ? 0 : 1);
            expected.erase(257);
            // The bits the map ignores and bit 0 of 277 are not expected back.
            const std::map<int, uint16_t> significant = {
                {262, 0x55}, {269, 0x07}, {277, 0x0E}, {279, 0x0F}, {281, 0x0F}, {384, 0x0F},
                {389, 0x0F}, {392, 0x0F}, {395, 0x0F}, {400, 0x0F}, {403, 0x0F}};
            for (const auto &[reg, value] : expected) {
                const uint16_t held = significant.count(reg)
                                          ? uint16_t(unit.reg(reg) & significant.at(reg))
                                          : unit.reg(reg);
                QVERIFY2(
                    held == value,
                    qPrintable(
                        QStringLiteral("register %1: %2 became %3").arg(reg).arg(held).arg(value)));
            }
            QCOMPARE(fresh.EEvent->text(), QStringLiteral("ВРЕМЯЗАВИСИМАЯ МТЗ В ФАЗАХ"));
            QCOMPARE(fresh.EDt->text(), QStringLiteral("11.6.2009 7:18:40"));
            QCOMPARE(fresh.VrBlinkLed4->ColorIndex(), 2);
            QCOMPARE(fresh.VrBlinkLed1->ColorIndex(), 1);
            QCOMPARE(fresh.VrBlinkLed2->ColorIndex(), 2);
            QCOMPARE(fresh.VrBlinkLedBit1->ColorIndex(), 1);
            QCOMPARE(fresh.VrBlinkLedBit2->ColorIndex(), 2);
            QCOMPARE(fresh.VrBlinkLedBit4->ColorIndex(), 2);
        }
    }

    void roundTripRestoresEveryControl()
    {
        LibmodbusSlave unit(1);
        QVERIFY(unit.ok());
        for (int seed = 10; seed < 20; ++seed) {
            randomise(w(), seed);
            const bool lossy = seed == 19;
            if (lossy) { // the two values the registers cannot carry
                setSpin(w().RxSpinEdit22, 250);
                setSpin(w().RxSpinEdit1, 55);
            }
            Snapshot sent = Snapshot::of(w());
            QCOMPARE(runWith(unit, w(), exchange::Kind::Write).outcome, exchange::Outcome::Done);
            TFKsb fresh;
            const exchange::Result got = runWith(unit, fresh, exchange::Kind::Compare);
            QVERIFY(got.settings.has_value());
            fresh.applySettings(*got.settings);
            Snapshot back = Snapshot::of(fresh);
            if (lossy) {
                QCOMPARE(back.spins[21], 200); // a pulse of 250 ms travels as 2 x 100 ms
                QCOMPARE(back.spins[0], 50);   // only 60 Hz has a bit
                sent.spins[21] = 200;
                sent.spins[0] = 50;
            }
            for (size_t n = 0; n < sent.spins.size(); ++n)
                QVERIFY2(back.spins[n] == sent.spins[n],
                         qPrintable(QStringLiteral("RxSpinEdit%1").arg(n + 1)));
            for (size_t n = 0; n < sent.lists.size(); ++n)
                QVERIFY2(back.lists[n] == sent.lists[n],
                         qPrintable(QStringLiteral("ComboBox%1").arg(n + 1)));
            for (size_t n = 0; n < sent.boxes.size(); ++n)
                QVERIFY2(back.boxes[n] == sent.boxes[n],
                         qPrintable(QStringLiteral("CheckBox%1").arg(n + 1)));
        }
    }

private:
    // Valid settings chosen at random, set as a file or the user would set them (the interlocks
    // run); values of the scaled registers lie on their scale.
    static void randomise(TFKsb &w, int seed)
    {
        std::mt19937 random{unsigned(seed)};
        const auto pick = [&](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(random);
        };
        for (int n = 1; n <= 14; ++n)
            w.SetListIndex(w.comboBox(n), pick(0, w.comboBox(n)->count() - 1));
        for (int n = 1; n <= 35; ++n)
            w.checkBox(n)->setChecked(pick(0, 1));
        for (int n = 1; n <= 25; ++n) {
            SpinEdit *s = w.spinEdit(n);
            int scale = 1;
            if (n == 4 || n == 9 || n == 14 || n == 16 || n == 21)
                scale = 10;
            else if (n >= 22)
                scale = 100;
            int value = pick(s->minimum(), s->maximum()) / scale * scale;
            if (n == 1)
                value = pick(0, 1) ? 60 : 50;
            setSpin(s, static_cast<long long>(std::max(value, s->minimum())));
        }
    }
};

QTEST_MAIN(TestRegisterMap)
#include "tst_register_map.moc"
