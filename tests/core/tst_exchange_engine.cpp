// The exchange engine on a clock of the test's own: a unit written by hand from the documents
// answers every request after a chosen latency, one request at a time as the unit does, and the
// test hands the engine its 300 ms ticks and the bytes, millisecond by millisecond, without ever
// waiting. Expected frames are the documented ones; what the unit holds and returns is the hand
// unit's, never the program's own codec.
#include "core/exchange/exchange_engine.h"

#include "hand_unit.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

using namespace qvoksb::exchange;
using qvoksb::Setting;
using qvoksb::SettingsSet;

namespace
{

// What goes on the line for the n-th reply (counted from 0): pieces at a delay after the reply
// is due. None: the reply is lost.
using Shape = std::function<std::vector<std::pair<int, Bytes>>(int n, const Bytes &reply)>;

TimePoint at(int ms)
{
    return TimePoint{} + Milliseconds(ms);
}

// One exchange against the hand unit, with the unit's latency from a request to its reply.
struct Session : Line {
    HandUnit &unit;
    Engine engine;
    int latencyMs;
    Shape shape;
    std::function<int(const Bytes &request)> latencyOf; // overrides latencyMs when set
    std::multimap<int, Bytes> due;
    int now = 0;
    int unitFreeAt = 0;
    int replies = 0;
    std::vector<std::pair<int, Bytes>> sent;
    std::vector<std::string> labels;
    std::vector<std::string> discarded;
    int finishedAt = -1;
    bool echo = false;
    int outageFrom = -1, outageTo = -1;

    Session(HandUnit &u, const Options &o, int latency = 20, Shape s = {})
        : unit(u), engine(o, *this), latencyMs(latency), shape(std::move(s))
    {
        labels.push_back(engine.label());
    }

    void discardInput() override {}
    bool send(std::span<const uint8_t> frame) override
    {
        const Bytes request(frame.begin(), frame.end());
        sent.push_back({now, request});
        // Frames take their time on the wire, ten bits a character at 9600 bit/s; a two-wire
        // adapter hands our own request back as it goes out.
        const auto wireMs = [](const Bytes &f) { return int(f.size() * 10 * 1000 / 9600) + 1; };
        if (echo)
            due.insert({now + wireMs(request) + 5, request});
        if (now >= outageFrom && now < outageTo)
            return true; // the cable is out: the unit hears nothing
        const Bytes reply = unit.answer(request);
        if (reply.empty())
            return true;
        // The unit takes one request at a time: a copy sent while it is busy waits its turn.
        const int answeredAt = std::max(now + wireMs(request), unitFreeAt) +
                               (latencyOf ? latencyOf(request) : latencyMs) + wireMs(reply);
        unitFreeAt = answeredAt;
        const int n = replies++;
        for (const auto &[delay, bytes] :
             shape ? shape(n, reply) : std::vector<std::pair<int, Bytes>>{{0, reply}})
            due.insert({answeredAt + delay, bytes});
        return true;
    }
    void logDiscarded(std::span<const uint8_t>, std::string_view why) override
    {
        discarded.emplace_back(why);
    }

    // Ticks every 300 ms from the start, bytes as they come, until the exchange ends.
    const Result &run(int untilMs = 60000)
    {
        for (now = 0; now <= untilMs && !engine.finished(); ++now) {
            for (auto it = due.begin(); it != due.end() && it->first <= now;) {
                engine.received(it->second, at(now));
                it = due.erase(it);
            }
            if (now > 0 && now % 300 == 0) {
                engine.tick(at(now));
                if (labels.back() != engine.label())
                    labels.push_back(engine.label());
                if (engine.finished())
                    finishedAt = now;
            }
        }
        return engine.result();
    }
};

Options optionsOf(Kind kind, SettingsSet set = {})
{
    Options o;
    o.kind = kind;
    o.settings = std::move(set);
    return o;
}

const std::vector<int> writeOrder = {257, 267, 277, 384, 395, 262, 269};
const std::vector<int> readOrder = {257, 267, 277, 384, 395, 262, 269, 529};

} // namespace

TEST(ExchangeEngine, OnTimeUnitGetsTheDocumentedFramesOnTheDocumentedTicks)
{
    HandUnit unit = distinctUnit();
    Session read(unit, optionsOf(Kind::Read));
    const Result &r = read.run();
    ASSERT_EQ(r.outcome, Outcome::Done);
    ASSERT_EQ(read.sent.size(), 8u);
    EXPECT_EQ(read.sent[0].second, hex("01 04 01 01 00 03 E0 37"));
    EXPECT_EQ(read.sent[7].second, hex("01 04 02 11 00 03 E1 B6"));
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(read.sent[i].first, 300 + 600 * int(i)); // a send, then an examining tick
    EXPECT_EQ(read.finishedAt, 17 * 300);
    EXPECT_EQ(unit.steps(), readOrder);
    EXPECT_EQ(read.labels, (std::vector<std::string>{
                               "Чтение параметров КОНФИГУРАЦИИ ...", "Чтение уставок МТЗ ...",
                               "Чтение уставок ОЗЗ ...", "Чтение параметров ВЫХОДНЫХ РЕЛЕ ...",
                               "Чтение параметров ЦИФРОВЫХ ВХОДОВ ...",
                               "Чтение информации о последнем отключении ...",
                               "Чтение всех параметров успешно завершено!"}));
    ASSERT_TRUE(r.settings && r.lastTrip);
    EXPECT_EQ(r.settings->text(Setting::EEvent), "ВРЕМЯЗАВИСИМАЯ МТЗ В ФАЗАХ");
    EXPECT_EQ(r.settings->text(Setting::EDt), "11.6.2009 7:18:40");
    EXPECT_EQ(r.settings->value(Setting::RxSpinEdit2), 1995);
    EXPECT_EQ(r.lastAccepted, 8);

    SettingsSet set;
    set.setValue(Setting::RxSpinEdit4, 150);
    Session write(unit, optionsOf(Kind::Write, set));
    ASSERT_EQ(write.run().outcome, Outcome::Done);
    EXPECT_EQ(write.finishedAt, 15 * 300);
    EXPECT_EQ(write.engine.bar(), 9);
    ASSERT_EQ(write.sent.size(), 7u);
    EXPECT_EQ(write.sent[1].second, hex("01 10 01 0B 00 01 02 00 0F F7 EF"));
    const size_t lengths[] = {15, 11, 21, 31, 31, 19, 17};
    for (size_t i = 0; i < 7; ++i)
        EXPECT_EQ(write.sent[i].second.size(), lengths[i]);
    EXPECT_EQ(write.labels.back(), "Все параметры успешно записаны!");
    EXPECT_EQ(write.labels.size(), 6u);

    Options command = optionsOf(Kind::Command);
    command.commandCode = 1;
    Session reset(unit, command);
    EXPECT_EQ(reset.run().outcome, Outcome::Done);
    EXPECT_EQ(reset.finishedAt, 600);
    ASSERT_EQ(reset.sent.size(), 1u);
    EXPECT_EQ(reset.sent[0].second, hex("01 06 00 80 00 01 49 E2"));
    EXPECT_EQ(reset.engine.label(), "Команда успешно выполнена!");
    EXPECT_EQ(reset.engine.closing(), Closing::AfterPause);

    unit.regs[517] = 0x0001;
    unit.regs[518] = 0xFFF8;
    Session state(unit, optionsOf(Kind::State));
    const Result &s = state.run();
    EXPECT_EQ(state.finishedAt, 600);
    EXPECT_EQ(state.sent[0].second, hex("01 04 02 05 00 02 60 72"));
    EXPECT_EQ(state.engine.closing(), Closing::AtOnce);
    ASSERT_TRUE(s.lamps);
    EXPECT_EQ(*s.lamps, (Lamps{true, false, false, false, false, false, false, true}));

    Options other = optionsOf(Kind::Read);
    other.address = 0x0A;
    HandUnit tenth = distinctUnit();
    tenth.address = 0x0A;
    Session readTenth(tenth, other);
    readTenth.run();
    EXPECT_EQ(readTenth.sent[0].second, hex("0A 04 01 01 00 03 E1 4C"));
}

// Every kind against a unit one and two ticks late, and one that answers every request twice:
// each step goes out, in order, and each reply is decoded for its own step only.
TEST(ExchangeEngine, SlowAndRepeatingUnitsGetEveryStepAndNoReplyLandsOnAnotherStep)
{
    HandUnit reference = distinctUnit();
    Session onTime(reference, optionsOf(Kind::Read));
    const SettingsSet held = *onTime.run().settings;
    const Shape twice = [](int, const Bytes &r) {
        return std::vector<std::pair<int, Bytes>>{{0, r}, {5, r}};
    };
    struct Case {
        const char *name;
        int latencyMs;
        Shape shape;
    };
    for (const Case &c : {Case{"one tick late", 350, {}}, Case{"two ticks late", 650, {}},
                          Case{"twice", 20, twice}, Case{"late and twice", 400, twice}}) {
        SCOPED_TRACE(c.name);
        HandUnit unit = distinctUnit();
        Session read(unit, optionsOf(Kind::Read), c.latencyMs, c.shape);
        const Result &r = read.run();
        ASSERT_EQ(r.outcome, Outcome::Done);
        ASSERT_TRUE(r.settings);
        EXPECT_EQ(r.settings->differences(held), std::vector<Setting>{});
        EXPECT_EQ(unit.steps(), readOrder);
        EXPECT_EQ(read.labels.back(), "Чтение всех параметров успешно завершено!");

        // Written slowly, the unit ends up holding exactly what the on-time write leaves.
        HandUnit fast;
        Session(fast, optionsOf(Kind::Write, held)).run();
        HandUnit slow;
        Options verified = optionsOf(Kind::Write, held);
        verified.verify = true;
        Session write(slow, verified, c.latencyMs, c.shape);
        const Result &w = write.run();
        EXPECT_EQ(w.outcome, Outcome::Done);
        EXPECT_EQ(w.message, "Все параметры успешно записаны!");
        EXPECT_EQ(slow.regs, fast.regs);
        std::vector<int> both = writeOrder;
        both.insert(both.end(), writeOrder.begin(), writeOrder.end());
        EXPECT_EQ(slow.steps(), both); // seven blocks written, then seven read back

        for (uint16_t code : {uint16_t(2), uint16_t(20)}) {
            Options o = optionsOf(Kind::Command);
            o.commandCode = code;
            Session command(unit, o, c.latencyMs, c.shape);
            unit.commands.clear();
            EXPECT_EQ(command.run().outcome, Outcome::Done);
            EXPECT_EQ(unit.commands, std::vector<uint16_t>{code}); // once, never again
        }
        Session state(unit, optionsOf(Kind::State), c.latencyMs, c.shape);
        const Result &st = state.run();
        ASSERT_TRUE(st.state);
        EXPECT_EQ(*st.state, (std::array<uint16_t, 2>{0x05, 0x0A}));
    }
    // On time and not repeated, every step is sent exactly once.
    HandUnit unit = distinctUnit();
    Session read(unit, optionsOf(Kind::Read), 20, twice);
    read.run();
    EXPECT_EQ(read.sent.size(), 8u);
    EXPECT_EQ(read.finishedAt, 17 * 300);
}

// A unit fast but for one block, which it answers two ticks late: the late answers to the extra
// copies of block 4 come while block 5, of the same length, would be waiting for its own.
TEST(ExchangeEngine, LateCopiesOfOneBlockNeverAnswerTheNext)
{
    HandUnit reference = distinctUnit();
    const SettingsSet held = *Session(reference, optionsOf(Kind::Read)).run().settings;
    HandUnit unit = distinctUnit();
    Session read(unit, optionsOf(Kind::Read));
    read.latencyOf = [](const Bytes &r) { return HandUnit::word(r, 2) == 384 ? 650 : 20; };
    const Result &r = read.run();
    ASSERT_EQ(r.outcome, Outcome::Done);
    EXPECT_EQ(r.settings->differences(held), std::vector<Setting>{});
    EXPECT_EQ(unit.steps(), readOrder);
    EXPECT_GT(read.sent.size(), 8u);
}

// Replies that cannot answer the request now outstanding: a late echo of the step before, a
// frame of another unit, a reply cut short. None of them counts; the step is answered properly.
TEST(ExchangeEngine, StaleForeignAndTruncatedRepliesAreNeverTaken)
{
    HandUnit reference = distinctUnit();
    const SettingsSet held = *Session(reference, optionsOf(Kind::Read)).run().settings;

    // Each reply is followed, 640 ms later, by the same frame again: it reaches the next step
    // before that step's own answer (out of order).
    const Shape echoLater = [](int, const Bytes &r) {
        return std::vector<std::pair<int, Bytes>>{{0, r}, {640, r}};
    };
    HandUnit writeUnit;
    Session write(writeUnit, optionsOf(Kind::Write, held), 100, echoLater);
    EXPECT_EQ(write.run().outcome, Outcome::Done);
    EXPECT_EQ(writeUnit.steps(), writeOrder);
    EXPECT_EQ(write.sent.size(), 7u);

    // The first reply of every step from unit 2 (other values, right CRC), then cut short:
    // the label says so, the step goes again, and only the third, proper reply is decoded.
    const Shape foreignThenCut = [](int n, const Bytes &r) {
        Bytes other = r;
        if (n % 3 == 0) {
            other[0] = 2;
            for (size_t i = 3; i + 2 < other.size(); ++i)
                other[i] ^= 0x5A;
            return std::vector<std::pair<int, Bytes>>{{0, withCrc(other)}};
        }
        if (n % 3 == 1)
            return std::vector<std::pair<int, Bytes>>{{0, Bytes(r.begin(), r.end() - 3)}};
        return std::vector<std::pair<int, Bytes>>{{0, r}};
    };
    HandUnit unit = distinctUnit();
    Session read(unit, optionsOf(Kind::Read), 20, foreignThenCut);
    const Result &r = read.run();
    ASSERT_EQ(r.outcome, Outcome::Done);
    EXPECT_EQ(r.settings->differences(held), std::vector<Setting>{});
    EXPECT_EQ(read.sent.size(), 24u);
    const auto saw = [&](const std::string &text) {
        return std::find(read.labels.begin(), read.labels.end(), text) != read.labels.end();
    };
    EXPECT_TRUE(saw("!!! Неверный ответ блока !!!"));
    EXPECT_TRUE(saw("!!! Ошибка CRC !!!"));

    // A command answered only with a garbled frame went through to the unit: it is not sent
    // again, and the exchange gives up on the ninth tick.
    Options o = optionsOf(Kind::Command);
    o.commandCode = 20;
    const Shape garbled = [](int, const Bytes &r) {
        Bytes bad = r;
        bad.back() ^= 0xFF;
        return std::vector<std::pair<int, Bytes>>{{0, bad}};
    };
    Session command(unit, o, 20, garbled);
    EXPECT_EQ(command.run().outcome, Outcome::NoAnswer);
    EXPECT_EQ(command.sent.size(), 1u);
    EXPECT_EQ(command.finishedAt, 9 * 300);
    EXPECT_TRUE(command.engine.labelRed());
}

TEST(ExchangeEngine, SilentUnitsAndGivingUp)
{
    HandUnit silent;
    silent.address = 9; // answers no request to unit 1
    // A configuration step goes again on every tick for ever; after ten unanswered requests
    // the label names what to check, the address in hex.
    Options o = optionsOf(Kind::Write);
    o.address = 0x1F;
    Session write(silent, o);
    write.run(3600);
    EXPECT_FALSE(write.engine.finished());
    EXPECT_EQ(write.sent.size(), 12u);
    EXPECT_EQ(write.engine.label(), "Запись параметров КОНФИГУРАЦИИ ...\nБлок не отвечает: "
                                    "проверьте кабель, порт, адрес блока (hex) 1F и DTR/RTS");
    EXPECT_FALSE(write.engine.labelRed());
    write.engine.abort();
    EXPECT_EQ(write.engine.result().outcome, Outcome::Aborted);
    EXPECT_FALSE(write.engine.result().settings);

    // A command goes again only after 900 ms without an answer, and gives up on the 9th tick.
    Options c = optionsOf(Kind::Command);
    c.commandCode = 9;
    Session command(silent, c);
    EXPECT_EQ(command.run().outcome, Outcome::NoAnswer);
    std::vector<int> times;
    for (const auto &s : command.sent)
        times.push_back(s.first);
    EXPECT_EQ(times, (std::vector<int>{300, 1200, 2100}));
    EXPECT_EQ(command.finishedAt, 2700);
    EXPECT_EQ(command.engine.label(), "Исполнение команды прервано!");
    EXPECT_TRUE(command.engine.labelRed());

    // The state read is sent on eight ticks.
    Session state(silent, optionsOf(Kind::State));
    EXPECT_EQ(state.run().outcome, Outcome::NoAnswer);
    EXPECT_EQ(state.sent.size(), 8u);
    EXPECT_EQ(state.engine.label(), "Чтение состояний прервано!");
    EXPECT_FALSE(state.engine.result().lamps);

    // With a time-out (ksb7ctl), a step gives up; a caller that comes back late and ticks many
    // times at once sends one copy, not a burst.
    Options timed = optionsOf(Kind::Read);
    timed.stepTimeout = Milliseconds(3000);
    Session late(silent, timed);
    late.engine.tick(at(300));
    for (int i = 0; i < 10; ++i)
        late.engine.tick(at(2000));
    EXPECT_EQ(late.sent.size(), 2u);
    late.engine.tick(at(3300));
    EXPECT_EQ(late.engine.result().outcome, Outcome::NoAnswer);
    EXPECT_EQ(late.engine.result().failedStep, 1);
}

TEST(ExchangeEngine, RefusalsStopTheExchangeAndAreNeverSuccess)
{
    HandUnit unit = distinctUnit();
    unit.refused = {384};
    SettingsSet set;
    Session write(unit, optionsOf(Kind::Write, set));
    const Result &w = write.run();
    EXPECT_EQ(w.outcome, Outcome::Refused);
    EXPECT_EQ(w.lastAccepted, 3);
    EXPECT_EQ(w.failedStep, 4);
    EXPECT_EQ(w.exceptionCode, 3);
    EXPECT_EQ(w.message, "ОШИБКА: Блок отклонил запрос: недопустимое значение данных (код 3)\r\n"
                         "Запрос к регистрам 384–394\r\n"
                         "Блок хранит частично записанную конфигурацию!");
    EXPECT_EQ(write.engine.closing(), Closing::WaitForUser);
    EXPECT_EQ(write.sent.size(), 4u);

    // Verified, the write reads back what the unit holds now, and still reports the refusal.
    unit.refuseWritesOnly = true;
    Options verified = optionsOf(Kind::Write, set);
    verified.verify = true;
    Session checked(unit, verified);
    const Result &v = checked.run();
    EXPECT_EQ(v.outcome, Outcome::Refused);
    EXPECT_FALSE(v.failedInReadBack);
    EXPECT_TRUE(v.settings);

    // A read refused half-way hands back no settings at all.
    unit.refuseWritesOnly = false;
    Session read(unit, optionsOf(Kind::Read));
    EXPECT_EQ(read.run().outcome, Outcome::Refused);
    EXPECT_FALSE(read.engine.result().settings);
    EXPECT_EQ(read.engine.result().lastAccepted, 3);

    // A verified write to a unit that keeps another value names the count.
    HandUnit altering;
    altering.alterRegister = 385;
    altering.alterValue = 150;
    Session altered(altering, verified);
    const Result &a = altered.run();
    EXPECT_EQ(a.outcome, Outcome::Differences);
    EXPECT_EQ(a.message, "ОШИБКА: Блок хранит другие значения (1)");
    EXPECT_EQ(a.differences, std::vector<Setting>{Setting::RxSpinEdit8});
}

// A two-wire adapter hears its own request. A function-6 echo is byte for byte the unit's reply,
// so without a unit an echoing line must never make a command succeed; with one, the unit's
// reply is the second copy and every kind goes as on a quiet line.
TEST(ExchangeEngine, AnEchoingAdapterIsNeverTheUnit)
{
    Options o = optionsOf(Kind::Command);
    o.commandCode = 20;
    HandUnit absent;
    absent.address = 9;
    Session alone(absent, o);
    alone.echo = true;
    EXPECT_EQ(alone.run().outcome, Outcome::NoAnswer);
    EXPECT_EQ(alone.engine.label(), "Исполнение команды прервано!");
    EXPECT_EQ(alone.sent.size(), 1u); // a command that may have been heard is never repeated
    EXPECT_EQ(std::count(alone.discarded.begin(), alone.discarded.end(), "эхо адаптера"), 1);
    // A garbled echo: the command is not repeated, and a caller pacing by replies is not told
    // to repeat it.
    Session garbled(absent, o);
    garbled.engine.tick(at(300));
    Bytes bad = garbled.sent.at(0).second;
    bad[4] ^= 0x10;
    garbled.engine.received(bad, at(312));
    garbled.engine.tick(at(600));
    EXPECT_FALSE(garbled.engine.repeatDue());
    garbled.engine.tick(at(1500));
    EXPECT_EQ(garbled.sent.size(), 1u);

    HandUnit unit = distinctUnit();
    Session command(unit, o);
    command.echo = true;
    EXPECT_EQ(command.run().outcome, Outcome::Done);
    EXPECT_EQ(unit.commands, std::vector<uint16_t>{20});
    EXPECT_EQ(command.finishedAt, 600);

    HandUnit reference = distinctUnit();
    const SettingsSet held = *Session(reference, optionsOf(Kind::Read)).run().settings;
    Session read(unit, optionsOf(Kind::Read));
    read.echo = true;
    const Result &r = read.run();
    ASSERT_EQ(r.outcome, Outcome::Done);
    EXPECT_EQ(r.settings->differences(held), std::vector<Setting>{});
    EXPECT_EQ(read.sent.size(), 8u);
    EXPECT_EQ(read.finishedAt, 17 * 300);

    Options verified = optionsOf(Kind::Write, held);
    verified.verify = true;
    HandUnit target;
    Session write(target, verified);
    write.echo = true;
    EXPECT_EQ(write.run().outcome, Outcome::Done);
    EXPECT_EQ(write.sent.size(), 14u);
}

// Noise, another unit's frames and stray bytes while a block answers late; the cable pulled out
// for half a minute. Whatever comes, a block's reply is decoded for that block only, and once
// the line is back the exchange ends in seconds.
TEST(ExchangeEngine, NoiseLateBlocksAndOutagesNeverShiftAReplyToAnotherStep)
{
    HandUnit reference = distinctUnit();
    const SettingsSet held = *Session(reference, optionsOf(Kind::Read)).run().settings;
    const Bytes noise = hex("FF 00 13 01 04 16");
    const Bytes foreign = withCrc(hex("05 04 16 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 "
                                      "00 09 00 0A 00 0B 00 00"));
    for (const Bytes &burst : {noise, foreign}) {
        // Block 4 answers 650 ms late, so its copies are answered while block 5 (as long) would
        // be waiting; the burst comes at every moment of that stretch in turn.
        for (int t = 2100; t <= 5400; t += 50) {
            SCOPED_TRACE(t);
            HandUnit unit = distinctUnit();
            Session read(unit, optionsOf(Kind::Read));
            read.latencyOf = [](const Bytes &r) { return HandUnit::word(r, 2) == 384 ? 650 : 20; };
            read.due.insert({t, burst});
            const Result &r = read.run();
            ASSERT_EQ(r.outcome, Outcome::Done);
            EXPECT_EQ(r.settings->differences(held), std::vector<Setting>{});
        }
    }

    // A stray byte before every reply (a turnaround glitch): each reply is still taken, on the
    // documented ticks.
    for (uint8_t stray : {uint8_t(0x00), uint8_t(0x01), uint8_t(0xFF)}) {
        HandUnit unit = distinctUnit();
        const Shape glitch = [stray](int, const Bytes &r) {
            return std::vector<std::pair<int, Bytes>>{{-1, Bytes{stray}}, {0, r}};
        };
        Session read(unit, optionsOf(Kind::Read), 20, glitch);
        const Result &r = read.run();
        ASSERT_EQ(r.outcome, Outcome::Done);
        EXPECT_EQ(r.settings->differences(held), std::vector<Setting>{});
        EXPECT_EQ(read.sent.size(), 8u);
    }

    // The cable out for 30 s from the second step on: the window keeps asking and ends a few
    // seconds after the cable is back; ksb7ctl's step gives up after its time-out.
    HandUnit unit = distinctUnit();
    Session read(unit, optionsOf(Kind::Read));
    read.outageFrom = 800;
    read.outageTo = 30800;
    const Result &r = read.run(120000);
    ASSERT_EQ(r.outcome, Outcome::Done);
    EXPECT_EQ(r.settings->differences(held), std::vector<Setting>{});
    EXPECT_LT(read.finishedAt, 30800 + 8000);
    Options timed = optionsOf(Kind::Read);
    timed.stepTimeout = Milliseconds(3000);
    Session given(unit, timed);
    given.outageFrom = 800;
    given.outageTo = 30800;
    EXPECT_EQ(given.run(120000).outcome, Outcome::NoAnswer);
    EXPECT_EQ(given.engine.result().failedStep, 2);
    EXPECT_LE(given.finishedAt, 900 + 3300);
}

// A write refused part-way stays refused whatever its read-back meets, and the refusal stays on
// show; a refusal of an extra copy never beats the answer to another in the same buffer; a
// command goes again only 900 ms after it went.
TEST(ExchangeEngine, RefusalsStandAndCommandsWaitTheirTime)
{
    HandUnit unit = distinctUnit();
    unit.refused = {277};
    unit.refuseWritesOnly = true;
    Options verified = optionsOf(Kind::Write);
    verified.verify = true;
    verified.stepTimeout = Milliseconds(3000);
    Session write(unit, verified);
    // The unit stops answering once it has refused block 3.
    write.outageFrom = 1600;
    write.outageTo = 1 << 30;
    const Result &w = write.run();
    EXPECT_EQ(w.outcome, Outcome::Refused);
    EXPECT_EQ(w.failedStep, 3);
    EXPECT_FALSE(w.failedInReadBack);
    EXPECT_EQ(w.exceptionCode, 3);
    EXPECT_EQ(write.engine.label(), w.message);
    EXPECT_EQ(std::count_if(write.labels.begin(), write.labels.end(),
                            [](const std::string &l) { return l.starts_with("Чтение"); }),
              0);

    // Aborted during the read-back: still the refusal.
    verified.stepTimeout = Milliseconds(0);
    Session aborted(unit, verified);
    aborted.outageFrom = 1600;
    aborted.outageTo = 1 << 30;
    aborted.run(2400);
    aborted.engine.abort();
    EXPECT_EQ(aborted.engine.result().outcome, Outcome::Refused);
    EXPECT_EQ(aborted.engine.label(), aborted.engine.result().message);

    // The unit refuses the first copy (busy) and answers the second; both wait in one buffer.
    HandUnit reference = distinctUnit();
    const SettingsSet held = *Session(reference, optionsOf(Kind::Read)).run().settings;
    const Shape busyFirst = [](int n, const Bytes &r) {
        if (n != 0)
            return std::vector<std::pair<int, Bytes>>{{0, r}};
        return std::vector<std::pair<int, Bytes>>{
            {0, withCrc({r[0], uint8_t(r[1] | 0x80), 6, 0, 0})}, {2, r}};
    };
    HandUnit busy = distinctUnit();
    Session read(busy, optionsOf(Kind::Read), 20, busyFirst);
    const Result &r = read.run();
    ASSERT_EQ(r.outcome, Outcome::Done);
    EXPECT_EQ(r.settings->differences(held), std::vector<Setting>{});

    // Ticks at any moment (ksb7ctl paces by replies): 800 ms after the command went is not
    // yet 900.
    Options c = optionsOf(Kind::Command);
    c.commandCode = 2;
    HandUnit silent;
    silent.address = 9;
    Session command(silent, c);
    command.engine.tick(at(300));
    command.engine.tick(at(1100));
    EXPECT_EQ(command.sent.size(), 1u);
    command.engine.tick(at(1200));
    EXPECT_EQ(command.sent.size(), 2u);
}
