// The scan of a line on a clock of the test's own, against libmodbus slaves at several addresses
// on one simulated line, their replies travelling at 9600 bit/s. Noise, two units at one address
// and slow units are made from their real replies.
#include "core/exchange/scan.h"

#include "../frame_bytes.h"
#include "../libmodbus_slave.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

using namespace qvoksb::exchange;

namespace
{

// A byte of 11 bits at 9600 bit/s, in microseconds.
constexpr int byteUs = 11 * 1000000 / 9600;

// A libmodbus slave at one address. Each request reaches the slaves of its address only: a
// libmodbus slave that ignores a request for another unit takes the next frame on the line for
// that unit's reply and drops it, which on a line with silent addresses would swallow requests.
struct Peer {
    int address;
    std::unique_ptr<LibmodbusSlave> slave;
    int latencyMs = 5; // from the end of the request to the first byte of the reply
};

struct LineOfPeers : Line {
    std::vector<Peer> peers;
    // Changes the n-th reply (from 0) of the peer at index `peer`; empty: lost.
    std::function<Bytes(size_t peer, int n, Bytes reply)> spoil;
    std::map<size_t, int> replies;
    bool collide = false; // replies to one request merge into one spoilt stream
    std::multimap<int, Bytes> due; // by the millisecond the bytes are in
    std::vector<Bytes> sent;
    int now = 0;

    void add(int address, int latencyMs = 5)
    {
        peers.push_back({address, std::make_unique<LibmodbusSlave>(address), latencyMs});
        ASSERT_TRUE(peers.back().slave->ok());
    }
    LibmodbusSlave &slave(size_t i) { return *peers[i].slave; }

    void discardInput() override {}
    bool send(std::span<const uint8_t> frame) override
    {
        const Bytes request(frame.begin(), frame.end());
        sent.push_back(request);
        const int requestEnd = now + int(request.size()) * byteUs / 1000;
        std::vector<std::pair<int, Bytes>> out;
        for (size_t i = 0; i < peers.size(); ++i) {
            if (peers[i].address != request[0])
                continue;
            Bytes reply = peers[i].slave->transact(request);
            if (reply.empty())
                continue;
            if (spoil)
                reply = spoil(i, replies[i]++, reply);
            if (!reply.empty())
                out.push_back(
                    {requestEnd + peers[i].latencyMs + int(reply.size()) * byteUs / 1000 + 1,
                     reply});
        }
        // Two transmitters at once: the line carries a mixture of their bits.
        if (collide && out.size() > 1) {
            for (size_t k = 0; k < out[0].second.size() && k < out[1].second.size(); ++k)
                out[0].second[k] &= uint8_t(out[1].second[k] ^ 0x5A);
            out.resize(1);
        }
        due.insert(out.begin(), out.end());
        return true;
    }

    // Runs the scan to its end, millisecond by millisecond; `during` may act at each one.
    std::vector<ScanEntry> run(Scan &scan, const std::function<void(Scan &)> &during = {})
    {
        for (now = 0; !scan.finished() && now < 600000; ++now) {
            bool came = false;
            for (auto it = due.begin(); it != due.end() && it->first <= now; it = due.erase(it)) {
                scan.received(it->second, TimePoint{} + Milliseconds(now));
                came = true;
            }
            if (came || TimePoint{} + Milliseconds(now) >= scan.due())
                scan.poll(TimePoint{} + Milliseconds(now));
            if (during)
                during(scan);
        }
        return scan.entries();
    }

    int requestsTo(int address, int function = 4) const
    {
        int n = 0;
        for (const Bytes &r : sent)
            n += r[0] == address && r[1] == function;
        return n;
    }
};

std::vector<uint8_t> range(int first, int last)
{
    std::vector<uint8_t> out;
    for (int a = first; a <= last; ++a)
        out.push_back(uint8_t(a));
    return out;
}

std::map<int, Presence> presences(const std::vector<ScanEntry> &entries)
{
    std::map<int, Presence> out;
    for (const ScanEntry &e : entries)
        out[e.address] = e.presence;
    return out;
}

std::vector<int> answering(const std::vector<ScanEntry> &entries)
{
    std::vector<int> out;
    for (const ScanEntry &e : entries)
        if (e.presence == Presence::Answers)
            out.push_back(e.address);
    return out;
}

} // namespace

// The whole address range with the default time-out: exactly the three units, each silent
// address asked once, within 40 s of line time; the state and last trip are the slaves' own.
TEST(Scan, FindsTheUnitsOfAWholeLineInTime)
{
    LineOfPeers line;
    line.add(1);
    line.add(5);
    line.add(0x2A);
    line.slave(1).reg(517) = 0x0003; // ВЫКЛ. and ВЫХ.1
    line.slave(1).reg(518) = 0x0004; // input 3
    // Cause 40 in 2026; 14 March, 09 h; 30 min 12.5 s.
    line.slave(1).reg(529) = uint16_t(40 << 7 | 26);
    line.slave(1).reg(530) = uint16_t(3 << 10 | 14 << 5 | 9);
    line.slave(1).reg(531) = uint16_t(30 << 10 | 125);
    Scan scan({range(1, 247), ScanTimeout, true}, line);
    const auto entries = line.run(scan);

    EXPECT_EQ(answering(entries), (std::vector<int>{1, 5, 0x2A}));
    EXPECT_EQ(entries.size(), 247u);
    for (const ScanEntry &e : entries) {
        EXPECT_EQ(line.requestsTo(e.address), e.presence == Presence::Answers ? 2 : 1)
            << int(e.address);
        EXPECT_EQ(e.tries, 1);
    }
    EXPECT_LT(line.now, 40000);
    EXPECT_EQ(scan.done(), scan.inAll());

    const ScanEntry &five = entries[4];
    ASSERT_TRUE(five.state && five.lamps && five.lastTrip);
    EXPECT_EQ(*five.state, (std::array<uint16_t, 2>{3, 4}));
    EXPECT_TRUE((*five.lamps)[0] && (*five.lamps)[1] && !(*five.lamps)[2] && (*five.lamps)[6]);
    EXPECT_EQ(five.lastTrip->cause, 40u);
    EXPECT_EQ(five.lastTrip->year, 2026u);
    EXPECT_EQ(five.lastTrip->day, 14u);
    EXPECT_EQ(five.lastTrip->minute, 30u);
}

// Bytes that do not decode get one more request after the others: noise once is a unit that
// answers; two units at one address, whose replies collide or follow each other, stay garbled.
TEST(Scan, AsksGarbledAddressesOnceMore)
{
    struct Case {
        const char *name;
        int secondUnitLatencyMs; // 0: one unit at 2
        std::function<Bytes(size_t, int, Bytes)> spoil;
        Presence atTwo;
    };
    const Case cases[] = {
        {"noise on the first reply", 0,
         [](size_t peer, int n, Bytes r) {
             if (peer == 0 && n == 0)
                 r[3] ^= 0x10;
             return r;
         },
         Presence::Answers},
        {"two units, colliding", 5, {}, Presence::Garbled},
        {"two units, one after the other", 40, {}, Presence::Garbled},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        LineOfPeers line;
        line.add(2, 5);
        if (c.secondUnitLatencyMs)
            line.add(2, c.secondUnitLatencyMs);
        line.add(3);
        line.spoil = c.spoil;
        line.collide = std::string(c.name).ends_with("colliding");
        Scan scan({range(1, 4), ScanTimeout, false}, line);
        const auto entries = line.run(scan);
        EXPECT_EQ(presences(entries), (std::map<int, Presence>{{1, Presence::Silent},
                                                               {2, c.atTwo},
                                                               {3, Presence::Answers},
                                                               {4, Presence::Silent}}));
        EXPECT_EQ(entries[1].tries, 2);
        EXPECT_EQ(line.requestsTo(2), 2);
        EXPECT_EQ(line.requestsTo(3), 1);
        if (c.atTwo == Presence::Garbled) {
            EXPECT_FALSE(entries[1].trouble.empty());
            EXPECT_FALSE(entries[1].state);
        }
    }
}

// A unit slower than the time-out is silent, and its late reply, landing in the next address's
// time, spoils nothing for good: the second try finds the neighbour silent. With a longer
// time-out the slow unit is found.
TEST(Scan, SlowUnitNeedsALongerTimeout)
{
    for (const int timeoutMs : {100, 300}) {
        SCOPED_TRACE(timeoutMs);
        LineOfPeers line;
        line.add(3, 150);
        Scan scan({range(1, 5), Milliseconds(timeoutMs), false}, line);
        const auto entries = line.run(scan);
        const Presence three = timeoutMs > 150 ? Presence::Answers : Presence::Silent;
        EXPECT_EQ(presences(entries), (std::map<int, Presence>{{1, Presence::Silent},
                                                               {2, Presence::Silent},
                                                               {3, three},
                                                               {4, Presence::Silent},
                                                               {5, Presence::Silent}}));
    }
}

// An abort stops at once: the address being asked is left out and nothing more is sent.
TEST(Scan, AbortSendsNothingMore)
{
    LineOfPeers line;
    line.add(1);
    line.add(7);
    Scan scan({range(1, 20), ScanTimeout, true}, line);
    size_t sentAtAbort = 0;
    const auto entries = line.run(scan, [&](Scan &s) {
        if (!s.aborted() && line.sent.back()[0] == 5) {
            s.abort();
            sentAtAbort = line.sent.size();
        }
    });
    EXPECT_TRUE(scan.aborted());
    EXPECT_EQ(line.sent.size(), sentAtAbort);
    EXPECT_EQ(entries.size(), 4u);
    EXPECT_EQ(answering(entries), (std::vector<int>{1}));
}

// A lost port ends the scan.
TEST(Scan, LostPortEndsTheScan)
{
    LineOfPeers line;
    line.add(1);
    Scan scan({range(1, 20), ScanTimeout, true}, line);
    line.run(scan, [&](Scan &s) {
        if (line.now == 250)
            s.lineError("порт пропал", true);
    });
    EXPECT_TRUE(scan.portLost());
    EXPECT_LE(line.sent.size(), 4u);
}
