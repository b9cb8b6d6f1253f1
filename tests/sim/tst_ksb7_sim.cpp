// The simulated unit, driven through its pseudo-terminal by raw frames built here.
#include "scratch_folder.h"
#include "simulated_unit.h"
#include "unit_registers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using ksb7sim::Faults;
using ksb7sim::SimulatedUnit;

namespace
{

// Bit by bit, on purpose unlike the table-driven CRC of the code under test.
uint16_t crc(const Bytes &bytes)
{
    uint16_t value = 0xFFFF;
    for (uint8_t byte : bytes) {
        value ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1) ? static_cast<uint16_t>((value >> 1) ^ 0xA001) : value >> 1;
    }
    return value;
}

Bytes withCrc(Bytes body)
{
    const uint16_t value = crc(body);
    body.push_back(static_cast<uint8_t>(value & 0xFF)); // low byte first on the wire
    body.push_back(static_cast<uint8_t>(value >> 8));
    return body;
}

bool crcOk(const Bytes &frame)
{
    if (frame.size() < 4)
        return false;
    const Bytes body(frame.begin(), frame.end() - 2);
    return withCrc(body) == frame;
}

Bytes readRequest(int unit, int first, int count)
{
    return withCrc({uint8_t(unit), 4, uint8_t(first >> 8), uint8_t(first), uint8_t(count >> 8),
                    uint8_t(count)});
}

Bytes writeSingle(int unit, int address, int value)
{
    return withCrc({uint8_t(unit), 6, uint8_t(address >> 8), uint8_t(address), uint8_t(value >> 8),
                    uint8_t(value)});
}

Bytes writeRequest(int unit, int first, const std::vector<uint16_t> &values)
{
    const size_t n = values.size();
    Bytes body = {uint8_t(unit), 16, uint8_t(first >> 8), uint8_t(first), 0, uint8_t(n),
                  uint8_t(2 * n)};
    for (uint16_t v : values) {
        body.push_back(uint8_t(v >> 8));
        body.push_back(uint8_t(v));
    }
    return withCrc(body);
}

Bytes exceptionReply(int unit, int function, int code)
{
    return withCrc({uint8_t(unit), uint8_t(function | 0x80), uint8_t(code)});
}

Bytes readReply(int unit, const std::vector<uint16_t> &values)
{
    Bytes body = {uint8_t(unit), 4, uint8_t(2 * values.size())};
    for (uint16_t v : values) {
        body.push_back(uint8_t(v >> 8));
        body.push_back(uint8_t(v));
    }
    return withCrc(body);
}

std::vector<uint16_t> registersOf(const Bytes &reply)
{
    std::vector<uint16_t> values;
    for (size_t at = 3; at + 3 < reply.size(); at += 2)
        values.push_back(uint16_t(reply[at] << 8 | reply[at + 1]));
    return values;
}

// The configurator's side of the line: the link opened as a raw serial port.
class Client
{
public:
    explicit Client(const std::string &path)
    {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            termios settings{};
            ::tcgetattr(fd, &settings);
            ::cfmakeraw(&settings);
            ::tcsetattr(fd, TCSANOW, &settings);
        }
    }
    ~Client()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool isOpen() const { return fd >= 0; }
    void send(const Bytes &frame) const
    {
        ASSERT_EQ(::write(fd, frame.data(), frame.size()), ssize_t(frame.size()));
    }
    // Reads until want bytes have come, the line hangs up or timeoutMs have passed.
    Bytes receive(size_t want, int timeoutMs)
    {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < want) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd p = {fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
                break;
            uint8_t buffer[256];
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                hungUp = true;
                break;
            }
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
    Bytes transact(const Bytes &request, size_t want, int timeoutMs = 2000)
    {
        send(request);
        return receive(want, timeoutMs);
    }
    int fd = -1;
    bool hungUp = false;
};

// For each configuration block, values at the edges of each setting's range, none of them a
// fresh unit's.
const std::vector<std::pair<int, std::vector<uint16_t>>> validBlocks = {
    {257, {0x0221, 5, 5000}},
    {267, {100}},
    {277, {0x000E, 2500, 0x000F, 9995, 0x0009, 10}},
    {384, {0x000F, 300, 12, 200, 60000, 0x0003, 1800, 2000, 0x0008, 300, 5}},
    {395, {0x0002, 4, 0, 1, 5, 0x000F, 4, 0, 0x0001, 300, 60000}},
    {262, {0x0055, 1, 20, 7, 1}},
    {269, {0x0007, 7, 0, 3}},
};

std::vector<uint16_t> validValues(int first)
{
    for (const auto &[start, values] : validBlocks) {
        if (start == first)
            return values;
    }
    return {};
}

// Seconds between a trip record of the unit's local clock and now.
double secondsAgo(const ksb7sim::TripRecord &trip)
{
    std::tm when{};
    when.tm_year = trip.year - 1900;
    when.tm_mon = trip.month - 1;
    when.tm_mday = trip.day;
    when.tm_hour = trip.hour;
    when.tm_min = trip.minute;
    when.tm_sec = trip.subMinute / 10;
    when.tm_isdst = -1;
    return std::difftime(std::time(nullptr), std::mktime(&when));
}

class SimTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(directory.empty()); }
    void TearDown() override { unit.stop(); }
    void startUnit(int address = 1)
    {
        std::string error;
        ASSERT_TRUE(unit.start(1, address, &error)) << error;
    }
    std::string entry(int port = 1) const
    {
        return directory + "/ports/COM" + std::to_string(port);
    }
    // A request the unit must leave unanswered: it arrives, and nothing comes back.
    void expectNoReply(Client &client, const Bytes &request)
    {
        const size_t before = unit.receivedFrames().size();
        client.send(request);
        ASSERT_TRUE(unit.waitForFrames(before + 1, 2000));
        EXPECT_TRUE(client.receive(1, 300).empty());
    }

    ScratchFolder scratch{"ksb7sim-test"};
    const std::string &directory = scratch.path();
    SimulatedUnit unit;
};

TEST(SimCrc, TestCrcMatchesKnownFrames)
{
    EXPECT_EQ(crc({'1', '2', '3', '4', '5', '6', '7', '8', '9'}), 0x4B37);
    EXPECT_EQ(readRequest(1, 257, 3), (Bytes{0x01, 0x04, 0x01, 0x01, 0x00, 0x03, 0xE0, 0x37}));
    EXPECT_EQ(writeSingle(1, 128, 1), (Bytes{0x01, 0x06, 0x00, 0x80, 0x00, 0x01, 0x49, 0xE2}));
}

TEST(SimLastTrip, PackingOfCauseDateAndTime)
{
    ksb7sim::TripRecord trip;
    trip.cause = 40;
    trip.year = 2009;
    trip.month = 6;
    trip.day = 11;
    trip.hour = 7;
    trip.minute = 18;
    trip.subMinute = 405;
    EXPECT_EQ(ksb7sim::packTrip(trip), (std::array<uint16_t, 3>{0x1409, 0x1967, 0x4995}));
    const auto back = ksb7sim::unpackTrip(0x1409, 0x1967, 0x4995);
    EXPECT_EQ(ksb7sim::describeTrip(back), "40 at 11.6.2009 7:18:40");

    // Every field at its widest, and a year before the unit's epoch.
    trip = {511, 2127, 15, 31, 31, 63, 1023};
    EXPECT_EQ(ksb7sim::packTrip(trip), (std::array<uint16_t, 3>{0xFFFF, 0x3FFF, 0xFFFF}));
    trip.year = 1999;
    EXPECT_EQ(ksb7sim::packTrip(trip)[0], 0xFF80);
}

TEST_F(SimTest, LinkAppearsPointingAtATerminalAndGoesOnStop)
{
    startUnit();
    EXPECT_EQ(unit.linkPath(), entry());
    ASSERT_TRUE(fs::is_symlink(entry()));
    EXPECT_EQ(fs::read_symlink(entry()).string(), unit.devicePath());
    EXPECT_TRUE(fs::is_character_file(unit.devicePath()));
    EXPECT_FALSE(unit.start(1));
    unit.stop();
    EXPECT_FALSE(fs::exists(fs::symlink_status(entry())));
    EXPECT_FALSE(unit.running());
}

TEST_F(SimTest, ForeignEntryIsLeftAloneAndADanglingLinkIsTakenOver)
{
    fs::create_directories(directory + "/ports");
    fs::create_symlink("/dev/null", entry());
    std::string error;
    EXPECT_FALSE(unit.start(1, 1, &error));
    EXPECT_NE(error.find("already exists"), std::string::npos) << error;
    EXPECT_EQ(fs::read_symlink(entry()), "/dev/null");

    fs::remove(entry());
    fs::create_symlink(directory + "/no-such-terminal", entry());
    startUnit();
    EXPECT_EQ(fs::read_symlink(entry()).string(), unit.devicePath());

    // Someone repointed the entry while the unit ran: stopping must not delete theirs.
    fs::remove(entry());
    fs::create_symlink("/dev/null", entry());
    unit.stop();
    EXPECT_TRUE(fs::is_symlink(entry()));
}

TEST_F(SimTest, AnswersClientsThatOpenAndCloseThePortAgainAndAgain)
{
    startUnit();
    const Bytes expected = readReply(1, {0x0640, 100, 100});
    for (int round = 0; round < 3; ++round) {
        Client client(unit.linkPath());
        ASSERT_TRUE(client.isOpen());
        EXPECT_EQ(client.transact(readRequest(1, 257, 3), expected.size()), expected) << round;
    }
}

TEST_F(SimTest, EachConfigurationBlockIsWrittenAndReadBack)
{
    startUnit();
    Client client(unit.linkPath());
    for (const auto &[first, values] : validBlocks) {
        const Bytes request = writeRequest(1, first, values);
        const Bytes echo = withCrc(Bytes(request.begin(), request.begin() + 6));
        EXPECT_EQ(client.transact(request, echo.size()), echo) << first;
        const Bytes back = readReply(1, values);
        EXPECT_EQ(client.transact(readRequest(1, first, int(values.size())), back.size()), back)
            << first;
        for (size_t k = 0; k < values.size(); ++k)
            EXPECT_EQ(unit.reg(first + int(k)), values[k]) << first + int(k);
    }
    // Function 3 sees the same registers as function 4.
    const Bytes holding = withCrc({1, 3, 0x01, 0x0B, 0, 1});
    EXPECT_EQ(registersOf(client.transact(holding, 7)), (std::vector<uint16_t>{100}));
}

TEST_F(SimTest, RefusesValuesTheUnitDoesNotAcceptAndStoresNothing)
{
    startUnit();
    Client client(unit.linkPath());
    struct Case {
        int address;
        uint16_t value;
    };
    const Case refused[] = {
        {385, 3},      {385, 301},    {386, 13},     {387, 0},      {388, 60001},
        {390, 1801},   {397, 0xFFFF}, {258, 4},      {259, 5001},   {263, 0},
        {266, 21},     {267, 4},      {270, 8},      {257, 0x0261}, {257, 0x0662},
        {277, 0x0001}, {384, 0x0010}, {262, 0x0002}, {269, 0x0008}, {280, 9996},
    };
    for (const Case &c : refused) {
        const ksb7sim::Block *block = ksb7sim::blockContaining(c.address);
        ASSERT_NE(block, nullptr);
        // A block of acceptable new values but for the one register: none may be stored.
        std::vector<uint16_t> values = validValues(block->first);
        ASSERT_EQ(values.size(), size_t(block->count));
        values[size_t(c.address - block->first)] = c.value;
        std::vector<uint16_t> before;
        for (int a = block->first; a < block->first + block->count; ++a)
            before.push_back(unit.reg(a));
        const Bytes reply = client.transact(writeRequest(1, block->first, values), 5);
        EXPECT_EQ(reply, exceptionReply(1, 16, 3)) << c.address << " = " << c.value;
        for (int a = block->first; a < block->first + block->count; ++a)
            EXPECT_EQ(unit.reg(a), before[size_t(a - block->first)]) << a;
    }
    EXPECT_EQ(client.transact(writeSingle(1, 128, 3), 5), exceptionReply(1, 6, 3));
    EXPECT_EQ(client.transact(writeSingle(1, 385, 500), 5), exceptionReply(1, 6, 3));
    EXPECT_EQ(unit.reg(385), 4);
}

TEST_F(SimTest, RefusesRegistersOutsideTheMapAndOtherFunctions)
{
    startUnit();
    Client client(unit.linkPath());
    EXPECT_EQ(client.transact(readRequest(1, 257, 5), 5), exceptionReply(1, 4, 2)); // 260 is a gap
    EXPECT_EQ(client.transact(readRequest(1, 600, 1), 5), exceptionReply(1, 4, 2));
    EXPECT_EQ(client.transact(readRequest(1, 257, 0), 5), exceptionReply(1, 4, 3));
    EXPECT_EQ(client.transact(writeSingle(1, 517, 1), 5), exceptionReply(1, 6, 2));
    EXPECT_EQ(client.transact(writeRequest(1, 529, {0, 0, 0}), 5), exceptionReply(1, 16, 2));
    EXPECT_EQ(client.transact(withCrc({1, 5, 0, 0, 0xFF, 0}), 5), exceptionReply(1, 5, 1));
    EXPECT_EQ(unit.reg(517), 0);
}

TEST_F(SimTest, CommandsHaveTheirEffects)
{
    startUnit();
    Client client(unit.linkPath());
    const auto command = [&](int code) {
        const Bytes request = writeSingle(1, 128, code);
        EXPECT_EQ(client.transact(request, request.size()), request) << code; // the echo
    };
    const auto status = [&] { return registersOf(client.transact(readRequest(1, 517, 2), 9)); };
    const auto lastTrip = [&] {
        const auto w = registersOf(client.transact(readRequest(1, 529, 3), 11));
        EXPECT_EQ(w.size(), 3u);
        return w.size() == 3 ? ksb7sim::unpackTrip(w[0], w[1], w[2]) : ksb7sim::TripRecord{};
    };
    const auto expectNow = [](const ksb7sim::TripRecord &trip) {
        EXPECT_LT(std::abs(secondsAgo(trip)), 60) << ksb7sim::describeTrip(trip);
    };

    unit.setInputs(0x001B); // only four inputs exist
    EXPECT_EQ(status(), (std::vector<uint16_t>{0x0000, 0x000B}));

    command(2);
    EXPECT_EQ(status()[0], 0x0001);
    auto trip = lastTrip();
    EXPECT_EQ(trip.cause, 35);
    expectNow(trip);
    EXPECT_EQ(unit.reg(128), 0);
    EXPECT_EQ(unit.lastCommand(), 2);

    command(9);
    EXPECT_EQ(lastTrip().cause, 1);
    command(8);
    trip = lastTrip();
    EXPECT_EQ(trip.cause, 54);
    expectNow(trip);
    EXPECT_EQ(status()[0], 0x0001) << "the trip relay latches";

    command(1);
    EXPECT_EQ(status()[0], 0x0000);
    EXPECT_EQ(lastTrip().cause, 54) << "a reset records nothing";

    // Output 2 for its pulse of 300 ms, output 3 for 2 s; the trip relay in pulse mode.
    unit.setReg(265, 3);
    unit.setReg(266, 20);
    unit.setReg(262, 0x0001);
    unit.setReg(263, 3);
    command(21);
    command(22);
    command(2);
    EXPECT_EQ(status()[0], 0x000D);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    EXPECT_EQ(status()[0], 0x0008);
    command(1);
    EXPECT_EQ(status()[0], 0x0000);
}

TEST_F(SimTest, StartsWithAPlausibleTripOnRecord)
{
    startUnit();
    Client client(unit.linkPath());
    const auto w = registersOf(client.transact(readRequest(1, 529, 3), 11));
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w, (std::vector<uint16_t>{unit.reg(529), unit.reg(530), unit.reg(531)}));
    const auto trip = ksb7sim::unpackTrip(w[0], w[1], w[2]);
    EXPECT_EQ(trip.cause, 40);
    EXPECT_GT(secondsAgo(trip), 3600 * 12) << ksb7sim::describeTrip(trip);
    EXPECT_LT(secondsAgo(trip), 3600 * 48) << ksb7sim::describeTrip(trip);
    EXPECT_LE(trip.subMinute, 599);
}

TEST_F(SimTest, IgnoresBadFramesAndOtherUnitsThenAnswersAGoodFrame)
{
    startUnit(0x0A);
    Client client(unit.linkPath());
    Bytes bad = readRequest(0x0A, 257, 3);
    std::swap(bad[6], bad[7]);
    expectNoReply(client, bad);
    expectNoReply(client, Bytes(bad.begin(), bad.begin() + 5)); // cut short
    expectNoReply(client, readRequest(1, 257, 3));
    expectNoReply(client, writeRequest(0, 267, {20})); // broadcast
    EXPECT_EQ(unit.reg(267), 15);

    const Bytes good = readRequest(0x0A, 257, 3);
    EXPECT_EQ(good, (Bytes{0x0A, 0x04, 0x01, 0x01, 0x00, 0x03, 0xE1, 0x4C}));
    EXPECT_EQ(client.transact(good, 11), readReply(0x0A, {0x0640, 100, 100}));
    const auto frames = unit.receivedFrames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0], bad);
    EXPECT_EQ(frames[4], good);
}

TEST_F(SimTest, TwoRequestsInOneWriteAreBothAnswered)
{
    startUnit();
    Client client(unit.linkPath());
    Bytes both = readRequest(1, 267, 1);
    const Bytes second = readRequest(1, 258, 2);
    both.insert(both.end(), second.begin(), second.end());
    Bytes expected = readReply(1, {15});
    const Bytes secondReply = readReply(1, {100, 100});
    expected.insert(expected.end(), secondReply.begin(), secondReply.end());
    EXPECT_EQ(client.transact(both, expected.size()), expected);
}

TEST_F(SimTest, TrafficPrintShowsTimeBytesAndMeaning)
{
    std::vector<std::string> lines;
    std::mutex linesMutex;
    unit.setTrafficPrinter([&](const std::string &line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    });
    startUnit();
    Client client(unit.linkPath());
    client.transact(readRequest(1, 257, 3), 11);
    client.transact(writeSingle(1, 385, 500), 5);
    unit.setReg(529, 0x1409);
    unit.setReg(530, 0x1967);
    unit.setReg(531, 0x4995);
    client.transact(readRequest(1, 529, 3), 11);
    std::lock_guard lock(linesMutex);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[5].find("last trip: cause 40 at 11.6.2009 7:18:40"), std::string::npos)
        << lines[5];
    // Every line opens with "hh:mm:ss.mmm <- " or "hh:mm:ss.mmm -> ".
    const auto stamped = [](const std::string &line) {
        const std::string shape = "dd:dd:dd.ddd ";
        if (line.size() < shape.size() + 3)
            return false;
        for (size_t i = 0; i < shape.size(); ++i) {
            const bool digit = line[i] >= '0' && line[i] <= '9';
            if (shape[i] == 'd' ? !digit : line[i] != shape[i])
                return false;
        }
        const std::string arrow = line.substr(shape.size(), 3);
        return arrow == "<- " || arrow == "-> ";
    };
    for (const std::string &line : lines)
        EXPECT_TRUE(stamped(line)) << line;
    EXPECT_NE(lines[0].find("<- 01 04 01 01 00 03 E0 37  ф.4 чтение 257–259 (3 рег.)"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("-> 01 04 06 06 40 00 64 00 64"), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find("ф.4 прочитано: 257=1600 258=100 259=100"), std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find("ф.6 запись 385 = 500"), std::string::npos) << lines[2];
    EXPECT_NE(lines[3].find("ф.6 отказ: недопустимое значение данных (код 3)"), std::string::npos)
        << lines[3];
    EXPECT_NE(lines[3].find("outside 4..300"), std::string::npos) << lines[3];
}

// --- fault modes ---------------------------------------------------------------------------

TEST_F(SimTest, SilentAndDropEvery)
{
    startUnit();
    Client client(unit.linkPath());
    const Bytes request = readRequest(1, 267, 1);
    const Bytes reply = readReply(1, {15});
    unit.setFaults({.silent = true});
    expectNoReply(client, request);
    expectNoReply(client, request);

    unit.setFaults({.dropEvery = 2});
    EXPECT_EQ(client.transact(request, reply.size()), reply);
    expectNoReply(client, request);
    EXPECT_EQ(client.transact(request, reply.size()), reply);
    expectNoReply(client, request);
}

TEST_F(SimTest, BadCrcEveryNthReply)
{
    startUnit();
    Client client(unit.linkPath());
    unit.setFaults({.badCrcEvery = 3});
    const Bytes reply = readReply(1, {15});
    for (int n = 1; n <= 6; ++n) {
        const Bytes got = client.transact(readRequest(1, 267, 1), reply.size());
        ASSERT_EQ(got.size(), reply.size());
        EXPECT_EQ(crcOk(got), n % 3 != 0) << n;
        EXPECT_TRUE(std::equal(reply.begin(), reply.end() - 2, got.begin())) << n;
    }
}

TEST_F(SimTest, SplitAndDelayedReplies)
{
    startUnit();
    Client client(unit.linkPath());
    const Bytes reply = readReply(1, {0x0640, 100, 100});
    unit.setFaults({.splitPauseMs = 400});
    client.send(readRequest(1, 257, 3));
    const Bytes first = client.receive(reply.size(), 250);
    EXPECT_EQ(first, Bytes(reply.begin(), reply.begin() + long(reply.size() / 2)));
    Bytes whole = first;
    const Bytes rest = client.receive(reply.size() - first.size(), 2000);
    whole.insert(whole.end(), rest.begin(), rest.end());
    EXPECT_EQ(whole, reply);

    unit.setFaults({.delayMs = 400});
    client.send(readRequest(1, 257, 3));
    EXPECT_TRUE(client.receive(1, 200).empty());
    EXPECT_EQ(client.receive(reply.size(), 2000), reply);
}

TEST_F(SimTest, ExceptionForOneBlock)
{
    startUnit();
    Client client(unit.linkPath());
    unit.setFaults({.exceptionBlockStart = 384, .exceptionCode = 4});
    EXPECT_EQ(client.transact(readRequest(1, 384, 11), 5), exceptionReply(1, 4, 4));
    EXPECT_EQ(client.transact(readRequest(1, 390, 1), 5), exceptionReply(1, 4, 4));
    EXPECT_EQ(client.transact(writeRequest(1, 384, {1, 4, 1, 10, 100, 1, 40, 0, 0, 4, 100}), 5),
              exceptionReply(1, 16, 4));
    EXPECT_EQ(client.transact(readRequest(1, 395, 1), 7), readReply(1, {1}));
}

TEST_F(SimTest, AlteringUnitAcknowledgesAWriteButKeepsItsOwnValue)
{
    startUnit();
    Client client(unit.linkPath());
    unit.setFaults({.alterRegister = 385, .alterValue = 150});
    const auto echoOf = [](const Bytes &request) {
        return withCrc(Bytes(request.begin(), request.begin() + 6));
    };
    const Bytes phase = writeRequest(1, 384, {1, 4, 1, 10, 100, 1, 40, 0, 0, 4, 100});
    EXPECT_EQ(client.transact(phase, 8), echoOf(phase));
    EXPECT_EQ(client.transact(readRequest(1, 384, 2), 9), readReply(1, {1, 150}));
    // Other registers keep what was sent.
    const Bytes earth = writeRequest(1, 395, {0});
    EXPECT_EQ(client.transact(earth, 8), echoOf(earth));
    EXPECT_EQ(client.transact(readRequest(1, 395, 1), 7), readReply(1, {0}));
}

TEST_F(SimTest, MalformedRepliesCarryARightCrc)
{
    startUnit();
    Client client(unit.linkPath());
    unit.setFaults({.malformed = true});
    const Bytes read = client.transact(readRequest(1, 257, 3), 11, 500);
    EXPECT_EQ(read.size(), 9u) << "one register short";
    EXPECT_TRUE(crcOk(read));
    EXPECT_EQ(read[2], 6) << "the byte count still promises three registers";

    const Bytes request = writeSingle(1, 267, 20);
    const Bytes echo = client.transact(request, request.size());
    ASSERT_EQ(echo.size(), request.size());
    EXPECT_TRUE(crcOk(echo));
    EXPECT_NE(echo[1], request[1]);
}

TEST_F(SimTest, RandomBurstInsteadOfTheReply)
{
    startUnit();
    Client client(unit.linkPath());
    unit.setFaults({.burstBytes = 20});
    for (int n = 0; n < 5; ++n) {
        const Bytes got = client.transact(readRequest(1, 257, 3), 20);
        EXPECT_EQ(got.size(), 20u);
        EXPECT_FALSE(crcOk(got));
    }
}

TEST_F(SimTest, PortVanishesMidExchangeAndComesBack)
{
    startUnit();
    unit.setFaults({.vanishOnNextRequest = true, .vanishDowntimeMs = 800});
    {
        Client client(unit.linkPath());
        const Bytes reply = readReply(1, {0x0640, 100, 100});
        client.send(readRequest(1, 257, 3));
        const Bytes got = client.receive(reply.size(), 2000);
        EXPECT_EQ(got, Bytes(reply.begin(), reply.begin() + long(reply.size() / 2)));
        EXPECT_TRUE(client.hungUp);
        EXPECT_TRUE(fs::is_symlink(entry()));
        EXPECT_FALSE(Client(unit.linkPath()).isOpen()) << "the entry points at nothing";
    }
    // The new terminal appears by itself; wait for its link without spinning.
    for (int tries = 0; tries < 250 && unit.devicePath().empty(); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_FALSE(unit.devicePath().empty());
    EXPECT_EQ(fs::read_symlink(entry()).string(), unit.devicePath());
    Client again(unit.linkPath());
    ASSERT_TRUE(again.isOpen());
    EXPECT_EQ(again.transact(readRequest(1, 267, 1), 7), readReply(1, {15}));
}

TEST_F(SimTest, ReplyToAClientThatHasGoneIsNotLeftForTheNext)
{
    startUnit();
    unit.setFaults({.delayMs = 300});
    {
        Client leaving(unit.linkPath());
        leaving.send(readRequest(1, 257, 3));
        ASSERT_TRUE(unit.waitForFrames(1, 2000));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    unit.setFaults({});
    Client next(unit.linkPath());
    EXPECT_EQ(next.transact(readRequest(1, 267, 1), 7), readReply(1, {15}));
}

// --- the program ---------------------------------------------------------------------------

std::string simulatorProgram()
{
    const fs::path self = fs::read_symlink("/proc/self/exe");
    return (self.parent_path() / "ksb7-sim").string();
}

TEST_F(SimTest, ProgramRemovesItsLinkOnInterruptAndTerminate)
{
    const std::string program = simulatorProgram();
    if (!fs::exists(program))
        GTEST_SKIP() << program << " not built";
    for (int signal : {SIGINT, SIGTERM}) {
        int out[2];
        ASSERT_EQ(::pipe(out), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::dup2(out[1], 1);
            ::execl(program.c_str(), program.c_str(), "--port", "5", "--inputs", "0x5", "--quiet",
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        // The first line is printed once the link is in place.
        pollfd p = {out[0], POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        char banner[512] = {};
        ASSERT_GT(::read(out[0], banner, sizeof banner - 1), 0);
        EXPECT_NE(std::string(banner).find("COM5"), std::string::npos) << banner;
        ASSERT_TRUE(fs::is_symlink(entry(5)));
        {
            Client client(entry(5));
            EXPECT_EQ(registersOf(client.transact(readRequest(1, 518, 1), 7)),
                      (std::vector<uint16_t>{5}));
        }
        ::kill(child, signal);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_FALSE(fs::exists(fs::symlink_status(entry(5)))) << signal;
        ::close(out[0]);
    }
}

TEST(SimProgram, HelpAndBadOptions)
{
    const std::string program = simulatorProgram();
    if (!fs::exists(program))
        GTEST_SKIP() << program << " not built";
    FILE *help = ::popen((program + " --help").c_str(), "r");
    ASSERT_NE(help, nullptr);
    std::string text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, help)) > 0;)
        text.append(buffer, n);
    EXPECT_EQ(::pclose(help), 0);
    for (const char *option :
         {"--port", "--address", "--inputs", "--quiet", "--silent", "--drop-every",
          "--bad-crc-every", "--split-pause", "--delay", "--exception-block", "--malformed",
          "--burst", "--vanish", "--set", "--alter"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
    // --set takes only values the unit would accept, and neither option the command register.
    for (const char *bad :
         {" --port 17", " --address 0", " --inputs 16", " --delay x", " extra", " --set 385",
          " --set 385=0", " --set 128=1", " --set 600=1", " --alter 385=1", " --alter 128:1"})
        EXPECT_EQ(WEXITSTATUS(std::system((program + bad + " 2>/dev/null").c_str())), 2) << bad;
}

} // namespace
