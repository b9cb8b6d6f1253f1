// The exchange engine on a simulated line, twenty thousand times over, on a clock of the test's
// own. Each run draws from its seed the kind of exchange, the pacing (the window's ticks, or
// ksb7ctl's looks as soon as a reply is in), the unit's latency for each block, whether the
// adapter echoes, noise bursts, frames of other units, the cable pulled out for up to a
// minute, truncated and garbled replies and a refusal, and then checks what must hold whatever
// the line did: a success hands back the unit's own values and leaves the unit holding what was
// written, no command acts twice, a refusal is reported as a refusal, and the exchange ends
// within its bound once the faults are over. What the unit holds is the hand unit's registers,
// never the program's decoding. A seed that once failed is kept below and runs first.
#include "core/exchange/exchange_engine.h"
#include "core/settings/register_map.h"

#include "hand_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>

using namespace qvoksb::exchange;
using qvoksb::SettingsSet;

namespace
{

// Seeds that once broke an invariant; they run before the drawn ones.
const std::vector<uint64_t> keptSeeds = {
    164, // a garbled reply to a command taken for noise: the command went twice
    287, // three bytes of a reply to a command: the command went twice
    935, // noise, then the adapter's echo of a command: taken for the unit's reply
};

constexpr uint64_t drawnRuns = 20000;
constexpr long tickMs = 300;
// However the line behaved, once its faults are over an exchange ends within this.
constexpr long boundAfterFaultsMs = 60000;

// Milliseconds a frame takes on the wire at 9600 bit/s, ten bits a character, rounded up.
long wireMs(size_t bytes)
{
    return long(bytes * 10 * 1000 / 9600) + 1;
}

// The step a request belongs to, by its first register: 0 the command, 99 the state.
int stepOf(const Bytes &request)
{
    static const std::map<int, int> steps = {{257, 1}, {267, 2}, {277, 3}, {384, 4}, {395, 5},
                                             {262, 6}, {269, 7}, {529, 8}, {128, 0}, {517, 99}};
    const auto it = steps.find(HandUnit::word(request, 2));
    return it == steps.end() ? 0 : it->second;
}

struct Plan {
    Kind kind = Kind::Read;
    bool verify = false;
    bool timed = false;               // ksb7ctl's step time-out; otherwise the window's patience
    bool replyPaced = false;          // ksb7ctl looks as soon as a reply is in, not on ticks
    bool echo = false;                // the adapter hears its own transmission
    bool queues = false;              // the unit holds one request that came while it was busy
    long adapterMs = 0;               // the adapter's latency, for every byte it hands over
    std::array<long, 10> latencyMs{}; // the unit's, by step (the state's last)
    long faultsEnd = 0;               // from here on the line is clean
    long outageFrom = -1, outageTo = -1;
    int truncatePercent = 0, garblePercent = 0;
    int refusedStep = -1;
    uint8_t refusalCode = 0;
    std::multimap<long, Bytes> injected; // noise and other units' frames
};

Plan draw(uint64_t seed)
{
    std::mt19937_64 rng(seed);
    const auto below = [&](long n) { return long(rng() % uint64_t(n)); };
    Plan p;
    static constexpr std::pair<Kind, bool> kinds[] = {
        {Kind::Read, false},     {Kind::Compare, false}, {Kind::Write, false},
        {Kind::Write, true},     {Kind::Command, false}, {Kind::State, false},
        {Kind::LastTrip, false}, {Kind::Write, true}};
    std::tie(p.kind, p.verify) = kinds[below(std::size(kinds))];
    p.timed = below(2);
    p.replyPaced = p.timed && below(2);
    p.echo = below(2);
    p.queues = below(2);
    p.adapterMs = below(16);
    // A unit needs some milliseconds before it answers; the command acts at once.
    for (long &l : p.latencyMs)
        l = 10 + below(1490);
    p.latencyMs[0] = 10 + below(790);
    p.faultsEnd = below(20000);
    if (below(3) == 0) {
        p.outageFrom = below(p.faultsEnd + 1);
        p.outageTo = p.outageFrom + below(60000);
        p.faultsEnd = std::max(p.faultsEnd, p.outageTo);
    }
    for (long n = below(7); n > 0; --n) {
        Bytes noise(size_t(1 + below(8)));
        for (uint8_t &b : noise)
            b = uint8_t(rng());
        p.injected.emplace(below(p.faultsEnd + 1), noise);
    }
    for (long n = below(4); n > 0; --n) {
        const uint8_t count = uint8_t(1 + below(11));
        Bytes other{uint8_t(2 + below(246)), 4, uint8_t(2 * count)};
        for (int k = 0; k < 2 * count; ++k)
            other.push_back(uint8_t(rng()));
        other.resize(other.size() + 2);
        p.injected.emplace(below(p.faultsEnd + 1), withCrc(other));
    }
    p.truncatePercent = int(below(31));
    p.garblePercent = int(below(31));
    if (below(6) == 0) {
        p.refusalCode = uint8_t(1 + below(4));
        switch (p.kind) {
        case Kind::Command:
            p.refusedStep = 0;
            break;
        case Kind::State:
            p.refusedStep = 99;
            break;
        case Kind::LastTrip:
            p.refusedStep = 8;
            break;
        case Kind::Read:
            p.refusedStep = int(1 + below(8));
            break;
        default:
            p.refusedStep = int(1 + below(7));
            break;
        }
    }
    return p;
}

const std::map<int, int> firstRegisterOf = {{1, 257}, {2, 267}, {3, 277}, {4, 384}, {5, 395},
                                            {6, 262}, {7, 269}, {8, 529}, {0, 128}, {99, 517}};

// One exchange on the simulated line.
struct Simulation : Line {
    Plan plan;
    std::mt19937_64 rng;
    HandUnit unit = distinctUnit();
    Engine engine;
    std::multimap<long, Bytes> arrivals; // what reaches the port, and when
    long now = 0;
    long unitFreeAt = 0;
    long lastStart = 0; // when the unit began on the last request it took
    long finishedAt = -1;
    bool commandReplyLost = false;
    bool refusalSent = false;
    long refusalArrivedAt = -1; // the first intact refusal, when it reached the port

    static Options optionsOf(const Plan &p)
    {
        Options o;
        o.kind = p.kind;
        o.verify = p.verify;
        o.commandCode = CommandOutput2;
        o.stepTimeout = Milliseconds(p.timed ? 3000 : 0);
        return o;
    }

    Simulation(const Plan &p, uint64_t seed)
        : plan(p), rng(seed ^ 0x5eed), engine(optionsOf(p), *this)
    {
        // Values the pages can show as they are (in range, in their steps), so that what a read
        // decodes writes back the same registers.
        unit.regs[278] = 10;
        unit.regs[387] = 200;
        if (p.refusedStep >= 0) {
            unit.refused = {firstRegisterOf.at(p.refusedStep)};
            unit.refusalCode = p.refusalCode;
            unit.refuseWritesOnly = p.kind == Kind::Write;
        }
        for (const auto &[t, bytes] : p.injected)
            if (!cut(t))
                arrivals.emplace(t + p.adapterMs, bytes);
    }

    bool cut(long t) const { return t >= plan.outageFrom && t < plan.outageTo; }
    long below(long n) { return long(rng() % uint64_t(n)); }

    void discardInput() override {}
    bool send(std::span<const uint8_t> frame) override
    {
        const Bytes request(frame.begin(), frame.end());
        const long heardAt = now + wireMs(request.size());
        if (plan.echo)
            arrivals.emplace(heardAt + plan.adapterMs, request);
        // Unheard: the cable is out, or the unit is busy and holds no request (or one already).
        if (cut(now) || cut(heardAt) || heardAt < (plan.queues ? lastStart : unitFreeAt))
            return true;
        Bytes reply = unit.answer(request);
        if (reply.empty())
            return true;
        lastStart = std::max(heardAt, unitFreeAt);
        const long sentAt =
            lastStart + 4 + plan.latencyMs[size_t(std::min(stepOf(request), 9))] + below(21);
        const long doneAt = sentAt + wireMs(reply.size());
        unitFreeAt = doneAt;
        const bool refusal = (reply[1] & 0x80) != 0;
        refusalSent = refusalSent || refusal;
        if (cut(sentAt) || cut(doneAt)) {
            commandReplyLost = commandReplyLost || request[1] == 6;
            return true;
        }
        bool intact = true;
        if (sentAt < plan.faultsEnd && below(100) < plan.truncatePercent) {
            reply.resize(size_t(1 + below(long(reply.size()) - 1)));
            intact = false;
        } else if (sentAt < plan.faultsEnd && below(100) < plan.garblePercent) {
            reply[size_t(below(long(reply.size())))] ^= uint8_t(1 + below(255));
            intact = false;
        }
        const long arrives = doneAt + plan.adapterMs;
        if (refusal && intact && refusalArrivedAt < 0)
            refusalArrivedAt = arrives;
        arrivals.emplace(arrives, reply);
        return true;
    }

    static long msOf(TimePoint t)
    {
        return long(std::chrono::duration_cast<Milliseconds>(t.time_since_epoch()).count());
    }

    // When ksb7ctl's reply pacing looks next: at once when an answer is in, 20 ms after new
    // bytes stopped coming, at the end of a quiet wait, a tick after a request still unanswered.
    long nextLook(long lastTick, bool newBytes) const
    {
        if (engine.quiet())
            return std::max(now + 1, msOf(engine.quietUntil()));
        if (engine.awaitingReply() && !engine.repeatDue())
            return newBytes && !engine.held().empty() ? std::min(lastTick + tickMs, now + 20)
                                                      : lastTick + tickMs;
        return now + 4;
    }

    void run()
    {
        const long limit = plan.faultsEnd + boundAfterFaultsMs;
        long lastTick = 0, due = tickMs;
        bool newBytes = false;
        while (!engine.finished()) {
            now = arrivals.empty() ? due : std::min(due, arrivals.begin()->first);
            if (now > limit)
                return;
            while (!arrivals.empty() && arrivals.begin()->first <= now) {
                engine.received(arrivals.begin()->second, TimePoint{} + Milliseconds(now));
                arrivals.erase(arrivals.begin());
                newBytes = true;
            }
            if (plan.replyPaced) {
                if (now < due && !engine.answerWaiting()) {
                    due = std::max(now + 1, nextLook(lastTick, newBytes));
                    continue;
                }
            } else if (now < due) {
                continue;
            }
            engine.tick(TimePoint{} + Milliseconds(now));
            lastTick = now;
            newBytes = false;
            due = plan.replyPaced ? std::max(now + 1, nextLook(lastTick, false))
                                  : (now / tickMs + 1) * tickMs;
        }
        finishedAt = now;
    }

    // The registers the write request of a block carries for this set.
    static std::vector<uint16_t> carried(int step, const SettingsSet &set)
    {
        std::vector<uint8_t> frame(64);
        frame.resize(qvoksb::registers::buildWriteRequest(frame, 1, step, set));
        std::vector<uint16_t> values;
        for (size_t at = 7; at + 2 < frame.size(); at += 2)
            values.push_back(uint16_t(frame[at] << 8 | frame[at + 1]));
        return values;
    }
    std::vector<uint16_t> held(int step) const
    {
        const int first = firstRegisterOf.at(step);
        std::vector<uint16_t> values;
        for (int r = first; r < first + int(carried(step, {}).size()); ++r)
            values.push_back(unit.regs.count(r) ? unit.regs.at(r) : uint16_t(0));
        return values;
    }

    // Everything that must hold after the run; empty when it all does.
    std::string broken() const
    {
        const Result &r = engine.result();
        const bool configuration =
            plan.kind == Kind::Read || plan.kind == Kind::Compare || plan.kind == Kind::Write;
        if (!engine.finished())
            return "did not end within its bound after the faults";
        if (unit.commands.size() > 1 && !commandReplyLost)
            return "the command acted twice";
        if (r.outcome == Outcome::Refused &&
            (!refusalSent || r.exceptionCode != plan.refusalCode ||
             r.failedStep != plan.refusedStep || r.failedInReadBack))
            return "a refusal reported that the unit did not make";
        // The command and the state give up on their last tick without looking at what came.
        const bool single = plan.kind == Kind::Command || plan.kind == Kind::State;
        const long lastLook = single ? finishedAt - tickMs : finishedAt;
        if (refusalArrivedAt >= 0 && refusalArrivedAt < lastLook && r.outcome != Outcome::Refused)
            return "a refusal was not reported as one";
        if (configuration && !plan.timed && r.outcome != Outcome::Done &&
            r.outcome != Outcome::Refused)
            return "a patient exchange ended other than done or refused";
        if (r.outcome != Outcome::Done)
            return {};
        if (refusalSent)
            return "success although the unit refused";
        if (plan.kind == Kind::Read || plan.kind == Kind::Compare || plan.verify) {
            if (!r.settings)
                return "success without the settings";
            for (int step = 1; step <= 7; ++step)
                if (carried(step, *r.settings) != held(step))
                    return "decoded block " + std::to_string(step) + " is not the unit's";
        }
        if (plan.kind == Kind::Write)
            for (int step = 1; step <= 7; ++step)
                if (held(step) != carried(step, {}))
                    return "the unit does not hold written block " + std::to_string(step);
        if (plan.kind == Kind::Read || plan.kind == Kind::LastTrip) {
            // Register 529: cause in bits 15..7, year - 2000 in 6..0; 530: month 13..10, day
            // 9..5, hour 4..0; 531: minute 15..10, tenths of a second 9..0.
            const uint16_t a = unit.regs.at(529), b = unit.regs.at(530), c = unit.regs.at(531);
            if (!r.lastTrip || r.lastTrip->cause != unsigned(a >> 7) ||
                r.lastTrip->year != 2000u + (a & 0x7F) ||
                r.lastTrip->month != unsigned(b >> 10 & 0xF) ||
                r.lastTrip->day != unsigned(b >> 5 & 0x1F) ||
                r.lastTrip->hour != unsigned(b & 0x1F) || r.lastTrip->minute != unsigned(c >> 10))
                return "the last trip is not the unit's";
        }
        // (Twice only when a reply was lost on the line: the check above.)
        if (plan.kind == Kind::Command &&
            (unit.commands.empty() || std::count(unit.commands.begin(), unit.commands.end(),
                                                 CommandOutput2) != long(unit.commands.size())))
            return "success, but the unit did not act";
        if (plan.kind == Kind::State && (!r.state || (*r.state)[0] != (unit.regs.at(517) & 0xF) ||
                                         (*r.state)[1] != (unit.regs.at(518) & 0xF)))
            return "the state is not the unit's";
        return {};
    }
};

} // namespace

TEST(ExchangeSimulation, SeededLinesNeverGiveAFalseResult)
{
    std::vector<uint64_t> seeds = keptSeeds;
    for (uint64_t s = 1; s <= drawnRuns; ++s)
        seeds.push_back(s);
    const auto started = std::chrono::steady_clock::now();
    std::map<Outcome, int> outcomes;
    long longestAfterFaults = 0;
    int failures = 0;
    for (uint64_t seed : seeds) {
        Simulation sim(draw(seed), seed);
        sim.run();
        const std::string broken = sim.broken();
        if (!broken.empty()) {
            ADD_FAILURE() << "seed " << seed << ": " << broken;
            if (++failures >= 20)
                break;
            continue;
        }
        ++outcomes[sim.engine.result().outcome];
        longestAfterFaults = std::max(longestAfterFaults, sim.finishedAt - sim.plan.faultsEnd);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%zu exchanges in %.2f s: %d done, %d refused, %d without an answer, %d other; "
                "the longest ended %ld ms after its faults\n",
                seeds.size(), seconds, outcomes[Outcome::Done], outcomes[Outcome::Refused],
                outcomes[Outcome::NoAnswer],
                int(seeds.size()) - failures - outcomes[Outcome::Done] -
                    outcomes[Outcome::Refused] - outcomes[Outcome::NoAnswer],
                longestAfterFaults);
    // Every kind and outcome that matters was reached, so the invariants were put to work.
    EXPECT_GT(outcomes[Outcome::Done], int(drawnRuns / 3));
    EXPECT_GT(outcomes[Outcome::Refused], 0);
    EXPECT_GT(outcomes[Outcome::NoAnswer], 0);
}
