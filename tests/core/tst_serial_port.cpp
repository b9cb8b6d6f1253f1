// The serial port on pseudo-terminal pairs: the test holds the far side, the port opens the near
// side as COMn. The test thread plays the GUI thread. The same tests run on POSIX and, built for
// Windows, under Wine; what only POSIX can arrange (a far side that vanishes, a port directory,
// another program's lock, the simulated unit) is skipped there by name.
#include "core/link/line_errors.h"
#include "core/link/port_directory.h"
#include "core/link/serial_port.h"
#ifdef QVOKSB_HAVE_SIM
#include "simulated_unit.h"
#endif
#ifdef _WIN32
#include "pty_pair_win.h"
#else
#include "core/link/port_assignment.h"
#include "pty_pair_posix.h"
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/wait.h>
#endif

#include "queued_hand_off.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace qvoksb;
using namespace serial_test;

namespace
{

// The test's GUI thread; it keeps what escaped from the handlers.
class TestGui : public QueuedHandOff
{
public:
    void reportHandlerError(const std::string &what) override { handlerErrors.push_back(what); }
    std::vector<std::string> handlerErrors;
};

// Aborts the test program when a step hangs, instead of letting a deadlock run into the ctest
// time-out without saying where.
class Watchdog
{
public:
    Watchdog(const char *what, int ms)
        : thread_([this, what, ms] {
              std::unique_lock lock(mutex_);
              if (!cv_.wait_for(lock, milliseconds(ms), [&] { return done_; })) {
                  std::fprintf(stderr, "watchdog: %s hung for %d ms\n", what, ms);
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

// A port on the test GUI that records what its handlers saw.
struct Recorder {
    TestGui gui;
    SerialPort port{&gui};
    Bytes received;
    size_t chunks = 0;
    std::vector<uint32_t> errors;

    explicit Recorder(int portNum)
    {
        port.PortNum = portNum;
        port.CloseDelayMs = 0;
        port.OnRxBuf = [this](const uint8_t *data, size_t count) {
            EXPECT_GE(count, 1u);
            received.insert(received.end(), data, data + count);
            ++chunks;
        };
        port.OnError = [this](uint32_t flags) { errors.push_back(flags); };
    }
    bool waitForBytes(size_t count, int timeoutMs = 5000)
    {
        return gui.runUntil([&] { return received.size() >= count; }, timeoutMs);
    }
};

Bytes sequence(size_t count, size_t start = 0)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<uint8_t>((start + i) * 7 + (start + i) / 251);
    return bytes;
}

#ifdef QVOKSB_HAVE_SIM
// Starts the simulated unit, address 1, on port n of the tests' port folder.
testing::AssertionResult startUnit(ksb7sim::SimulatedUnit &unit, int port)
{
    portDir();
    std::string error;
    if (unit.start(port, 1, &error))
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << error;
}
#else
const char *const noSimulatedUnit =
    "the simulated unit needs libmodbus and pseudo-terminals (POSIX)";
#endif

} // namespace

// --- line-error messages and the receive store -------------------------------------------

TEST(LineErrors, EachFlagHasItsMessageAndTheLastSetInTableOrderWins)
{
    const char *const parity = "ОШИБКА: Ошибка четности";
    const char *const overrun =
        "ОШИБКА: Переполнение аппаратного буфера (следующий символ потерян)";
    EXPECT_STREQ(lineErrorMessage(CE_FRAME | CE_RXPARITY), parity);
    EXPECT_STREQ(lineErrorMessage(CE_BREAK | CE_OVERRUN), overrun);
    EXPECT_STREQ(lineErrorMessage(CE_BREAK), "ОШИБКА: Обнаружено состояние разрыва связи");
    EXPECT_STREQ(lineErrorMessage(CE_IOE), "ОШИБКА: Ошибка ввода-вывода при работе с портом");
    EXPECT_STREQ(lineErrorMessage(CE_TXFULL | CE_MODE), "ОШИБКА: Переполнение буфера передачи");
    EXPECT_STREQ(lineErrorMessage(0xFFFFFFFFu), parity);
    // Flags outside the eight leave the text alone.
    EXPECT_EQ(lineErrorMessage(0), nullptr);
    EXPECT_EQ(lineErrorMessage(0x0200 | 0x0020 | 0x10000), nullptr);
    // Every row's flag alone gives that row's message, and the flags are the Win32 values.
    const uint32_t win32[] = {0x0010, 0x0008, 0x0400, 0x8000, 0x0002, 0x0001, 0x0100, 0x0004};
    for (size_t i = 0; i < lineErrorTable.size(); ++i) {
        EXPECT_EQ(lineErrorTable[i].flag, win32[i]);
        EXPECT_STREQ(lineErrorMessage(lineErrorTable[i].flag), lineErrorTable[i].message);
    }
}

TEST(SerialPortOpen, PortNumberNamesTheEntryInThePortDirectoryElseTheBuiltInPort)
{
#ifdef _WIN32
    EXPECT_EQ(serialDevicePath(16), "\\\\.\\COM16");
    GTEST_SKIP() << "Windows names its ports itself: there is no port directory";
#else
    const std::string dir = portDir();
    const std::string entry = dir + "/COM16";
    fs::remove(entry);
    EXPECT_EQ(portEntryName(16), "COM16");
    EXPECT_EQ(serialDevicePath(16), "/dev/ttyS15");
    EXPECT_EQ(serialDevicePath(1), "/dev/ttyS0");
    {
        PtyPair pty(16);
        EXPECT_EQ(serialDevicePath(16), entry);
        Recorder r(16);
        r.port.Open();
        EXPECT_EQ(r.port.devicePath(), entry);
        pty.send({0x31});
        EXPECT_TRUE(r.waitForBytes(1));
        r.port.Close();
    }
    // A dangling link stays the user's choice and fails the open with its own path.
    fs::create_symlink(dir + "/no-such-device", entry);
    EXPECT_EQ(serialDevicePath(16), entry);
    Recorder r(16);
    try {
        r.port.Open();
        FAIL() << "opened a missing device";
    } catch (const SerialPortError &e) {
        const std::string text = e.what();
        EXPECT_NE(text.find("COM16"), std::string::npos) << text;
        EXPECT_NE(text.find(entry), std::string::npos) << text;
        EXPECT_NE(text.find(std::strerror(ENOENT)), std::string::npos) << text;
        EXPECT_EQ(e.systemError(), ENOENT);
    }
    EXPECT_FALSE(r.port.Active());
    fs::remove(entry);
#endif
}

#ifndef _WIN32
// Without HOME and XDG_CONFIG_HOME there is no port folder: the built-in ports, and a clear
// reason instead of a folder made at the root.
TEST(SerialPortOpen, WithoutAHomeThereIsNoPortFolder)
{
    const std::string saved[] = {portDir(), std::getenv("HOME") ? std::getenv("HOME") : "",
                                 std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME")
                                                                : ""};
    const bool rootHadIt = fs::exists("/.config/QvoKsb");
    ::unsetenv("QVOKSB_PORT_DIR");
    ::unsetenv("HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(configHome(), "");
    EXPECT_EQ(portDirectory(), "");
    EXPECT_EQ(serialDevicePath(2), "/dev/ttyS1");
    EXPECT_EQ(portEntryTarget(2), "");
    const std::string why = assignPortEntry(2, "/dev/ttyS5");
    EXPECT_NE(why.find("HOME"), std::string::npos) << why;
    if (!rootHadIt) {
        EXPECT_FALSE(fs::exists("/.config/QvoKsb"));
    }
    ::setenv("QVOKSB_PORT_DIR", saved[0].c_str(), 1);
    if (!saved[1].empty())
        ::setenv("HOME", saved[1].c_str(), 1);
    if (!saved[2].empty())
        ::setenv("XDG_CONFIG_HOME", saved[2].c_str(), 1);
}
#endif

TEST(SerialPortOpen, RefusesWhatIsNotAUsableSerialDevice)
{
    Recorder r(9);
#ifdef _WIN32
    // A port number no device answers to.
    Recorder missing(99);
    EXPECT_THROW(missing.port.Open(), SerialPortError);
    EXPECT_FALSE(missing.port.Active());
#else
    const std::string entry = portDir() + "/COM9";
    fs::remove(entry);
    {
        std::FILE *f = std::fopen(entry.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    EXPECT_THROW(r.port.Open(), SerialPortError);
    EXPECT_FALSE(r.port.Active());
    fs::remove(entry);
#endif

    PtyPair pty(9);
    SerialPort noGui;
    noGui.PortNum = 9;
    EXPECT_THROW(noGui.Open(), SerialPortError);
    EXPECT_FALSE(noGui.Active());

    r.port.Open();
    try {
        r.port.Open();
        FAIL() << "opened twice";
    } catch (const SerialPortError &e) {
        EXPECT_NE(std::string(e.what()).find("already open"), std::string::npos);
    }
    EXPECT_TRUE(r.port.Active());
    r.port.Close();
    EXPECT_FALSE(r.port.Active());
    r.port.Close(); // closing a closed port does nothing
    EXPECT_NO_THROW(r.port.PurgeRead());
    EXPECT_NO_THROW(r.port.PurgeWrite());
    EXPECT_THROW(r.port.WriteBuf("x", 1), SerialPortError);
}

TEST(SerialPortOpen, IsExclusiveWhileOpenAndFreeAfterClose)
{
#ifdef _WIN32
    if (runningUnderWine())
        GTEST_SKIP() << "Wine does not hold a serial device exclusively; Windows itself does";
#endif
    PtyPair pty(5);
    Recorder first(5), second(5);
    first.port.Open();
    try {
        second.port.Open();
        FAIL() << "a second opener got the port";
    } catch (const SerialPortError &e) {
        EXPECT_NE(std::string(e.what()).find("held by another program"), std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(second.port.Active());
    first.port.Close();
    second.port.Open();
    EXPECT_TRUE(second.port.Active());
    second.port.Close();

#ifdef _WIN32
    GTEST_SKIP() << "another program's lock on the device is a POSIX flock";
#else
    // Another program holding the lock, even as root.
    const int other = ::open(pty.nearPath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
    EXPECT_THROW(first.port.Open(), SerialPortError);
    ::close(other);
    first.port.Open();
    first.port.Close();
#endif
}

#ifndef _WIN32
// Opens and closes the device five times; the number of the open that failed, else 0.
int openCloseFiveTimes(const std::string &device)
{
    TestGui gui;
    SerialPort port(&gui);
    port.DevicePath = device;
    port.CloseDelayMs = 0;
    for (int i = 1; i <= 5; ++i) {
        try {
            port.Open();
        } catch (const SerialPortError &e) {
            std::fprintf(stderr, "open %d: %s\n", i, e.what());
            return i;
        }
        port.Close();
    }
    return 0;
}

// Root may open a terminal whatever its exclusive flag says; an ordinary user may not. As root
// the opening is done by a child that has become "nobody".
TEST(SerialPortOpen, AnOrdinaryUserOpensTheSamePtyAgainAndAgain)
{
    PtyPair pty(6);
    if (::geteuid() != 0) {
        EXPECT_EQ(openCloseFiveTimes(pty.nearPath()), 0);
        return;
    }
    const passwd *nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    ASSERT_EQ(::chown(pty.nearPath().c_str(), uid, gid), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 ||
            ::geteuid() == 0)
            ::_exit(100);
        ::_exit(openCloseFiveTimes(pty.nearPath()));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "100: could not become nobody; else the failed open";
}
#endif

TEST(SerialPortOpen, OnOpenRunsBeforeOpenReturnsAndAThrowingHandlerKeepsThePortOpen)
{
    PtyPair pty(4);
    Recorder r(4);
    std::thread::id openedOn;
    bool activeInHandler = false;
    r.port.OnOpen = [&] {
        openedOn = std::this_thread::get_id();
        activeInHandler = r.port.Active();
        throw std::runtime_error("handler failed");
    };
    r.port.Open();
    EXPECT_EQ(openedOn, std::this_thread::get_id());
    EXPECT_TRUE(activeInHandler);
    EXPECT_TRUE(r.port.Active());
    ASSERT_EQ(r.gui.handlerErrors.size(), 1u);
    EXPECT_NE(r.gui.handlerErrors[0].find("handler failed"), std::string::npos);
    r.port.WriteBuf("ok", 2);
    EXPECT_EQ(pty.receive(2), (Bytes{'o', 'k'}));
    r.port.Close();
}

TEST(SerialPortOpen, ModemLinesFollowTheControlsAndAPtyWithoutThemStillOpens)
{
    EXPECT_EQ(modemLineLevels(dtrEnabled, rtsDisabled), (ModemLineLevels{true, false}));
    EXPECT_EQ(modemLineLevels(dtrDisabled, rtsDisabled), (ModemLineLevels{false, false}));
    EXPECT_EQ(modemLineLevels(dtrDisabled, rtsEnabled), (ModemLineLevels{false, true}));

    PtyPair pty(3);
    Recorder r(3);
    std::vector<ModemLineLevels> driven;
    r.port.modemLineDriver = [&](ModemLineLevels levels) {
        driven.push_back(levels);
        return true;
    };
    r.port.ControlDtr = dtrEnabled;
    r.port.ControlRts = rtsDisabled;
    r.port.Open();
    EXPECT_TRUE(r.port.modemLinesDriven());
    r.port.Close();
    r.port.ControlDtr = dtrDisabled;
    r.port.Open();
    r.port.Close();
    ASSERT_EQ(driven.size(), 2u);
    EXPECT_EQ(driven[0], (ModemLineLevels{true, false}));
    EXPECT_EQ(driven[1], (ModemLineLevels{false, false}));

    // The real driver on a pseudo-terminal: no modem lines, the open goes on.
    r.port.modemLineDriver = nullptr;
    r.port.ControlDtr = dtrEnabled;
    r.port.ControlRts = rtsEnabled;
    r.port.Open();
    EXPECT_FALSE(r.port.modemLinesDriven());
    EXPECT_TRUE(r.port.Active());
    r.port.Close();
}

// --- bytes both ways ----------------------------------------------------------------------

TEST(SerialPortData, BytesGoBothWaysInOrderAcrossManyChunks)
{
    PtyPair pty(7);
    Recorder r(7);
    r.port.Open();

    // Far to near: chunks of 1 to 97 bytes, each handed over whole or split, never reordered.
    Bytes expected;
    for (size_t i = 0; i < 120; ++i) {
        const Bytes chunk = sequence(1 + i % 97, expected.size());
        expected.insert(expected.end(), chunk.begin(), chunk.end());
        pty.send(chunk);
        if (i % 10 == 0)
            r.gui.runFor(5);
    }
    ASSERT_TRUE(r.waitForBytes(expected.size()));
    EXPECT_EQ(r.received, expected);
    EXPECT_GT(r.chunks, 1u);

    // Near to far: 60 writes of up to 500 bytes, each taken whole at once and sent in order.
    Bytes sent;
    Bytes got;
    for (size_t i = 0; i < 60; ++i) {
        const Bytes chunk = sequence(1 + i * 13 % 500, sent.size());
        ASSERT_EQ(r.port.WriteBuf(chunk.data(), static_cast<int>(chunk.size())),
                  static_cast<int>(chunk.size()));
        sent.insert(sent.end(), chunk.begin(), chunk.end());
        const Bytes part = pty.receive(sent.size() - got.size());
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, sent);
    r.port.Close();
}

TEST(SerialPortData, EveryByteValuePassesUnchangedBothWays)
{
    PtyPair pty(8);
    Recorder r(8);
    r.port.Open();
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<uint8_t>(i);
    // CR LF, NUL, XON/XOFF, DEL, the interrupt and end-of-file characters, twice over.
    Bytes twice = all;
    twice.insert(twice.end(), all.rbegin(), all.rend());

    pty.send(twice);
    ASSERT_TRUE(r.waitForBytes(twice.size()));
    EXPECT_EQ(r.received, twice);
    EXPECT_TRUE(r.errors.empty());

    r.port.WriteBuf(twice.data(), static_cast<int>(twice.size()));
    EXPECT_EQ(pty.receive(twice.size() + 1, 500), twice); // nothing added either
    r.port.Close();
}

TEST(SerialPortData, EveryReceivedByteReachesOnRxBufInOrderHoweverMany)
{
    PtyPair pty(10);
    Recorder r(10);
    r.port.Open();
    size_t total = 0;
    auto sendAndWait = [&](size_t count) {
        pty.send(sequence(count, total));
        total += count;
        ASSERT_TRUE(r.waitForBytes(total));
    };
    // Well past the 5120 bytes that the unread receive store of old took for an overflow.
    for (int i = 0; i < 6; ++i)
        sendAndWait(1000);
    sendAndWait(128);
    EXPECT_EQ(r.received.size(), total);
    EXPECT_EQ(r.received, sequence(total));
    r.port.Close();
}

// --- purging and the transmit queue -------------------------------------------------------

TEST(SerialPortQueue, WriteBufFailsAtOnceWithoutRoomAndPurgeWriteMakesRoom)
{
    PtyPair pty(11);
    Recorder r(11);
    r.port.Open();
    const Bytes big = sequence(SerialPort::transmitQueueBytes + 1);
    EXPECT_THROW(r.port.WriteBuf(big.data(), static_cast<int>(big.size())), SerialPortError);

    // The far side reads nothing: the driver fills up, then the queue. A refusal alone does not
    // mean the driver is full, since the writer thread may not have run yet; only a refusal that
    // still stands after a pause does, and from then on no queued byte can reach the far side.
    const auto start = Clock::now();
    size_t accepted = 0;
    bool refusedBefore = false;
    for (;;) {
        try {
            accepted += static_cast<size_t>(r.port.WriteBuf(big.data(), 512));
            refusedBefore = false;
        } catch (const SerialPortError &e) {
            EXPECT_NE(std::string(e.what()).find("transmit queue"), std::string::npos);
            if (refusedBefore)
                break;
            refusedBefore = true;
            std::this_thread::sleep_for(milliseconds(100));
            continue;
        }
        if (accepted > 10'000'000) {
            FAIL() << "the queue never filled";
            break;
        }
        if (accepted % (8 * 512) == 0)
            std::this_thread::sleep_for(milliseconds(2));
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_GE(accepted, SerialPort::transmitQueueBytes - 512);
    EXPECT_THROW(r.port.WriteBuf(big.data(), 1000), SerialPortError);

    r.port.PurgeWrite();
    EXPECT_EQ(r.port.WriteBuf(big.data(), static_cast<int>(SerialPort::transmitQueueBytes)),
              static_cast<int>(SerialPort::transmitQueueBytes));
    r.port.PurgeWrite();

    // A pseudo-terminal cannot discard what its far side has not read, so only the queue's part
    // of the purge shows: the far side gets what the driver holds, then what was written after
    // the purge, and never the purged queue (more than 1536 bytes when WriteBuf refused 512).
    const Bytes marker = {0xDE, 0xAD, 0xBE, 0xEF};
    r.port.WriteBuf(marker.data(), 4);
    Bytes got;
    for (;;) {
        const Bytes part = pty.receive(1, 300);
        if (part.empty())
            break;
        got.insert(got.end(), part.begin(), part.end());
    }
    ASSERT_GE(got.size(), 4u);
    EXPECT_TRUE(std::equal(marker.begin(), marker.end(), got.end() - 4));
#ifndef _WIN32 // under Wine the far side is a relay that never stops taking bytes
    EXPECT_LE(got.size() - 4, accepted - (SerialPort::transmitQueueBytes - 512));
#endif
    r.port.Close();
}

TEST(SerialPortQueue, PurgeReadDiscardsBytesNotYetHandedOver)
{
    PtyPair pty(12);
    Recorder r(12);
    r.port.Open();
    pty.send(Bytes(300, 0x55));
    ASSERT_TRUE(r.gui.waitForQueued()); // the GUI thread is busy elsewhere
    r.port.PurgeRead();
    r.gui.runFor(100);
    EXPECT_TRUE(r.received.empty()) << r.received.size() << " stale bytes handed over";
    pty.send({1, 2, 3});
    ASSERT_TRUE(r.waitForBytes(3));
    EXPECT_EQ(r.received, (Bytes{1, 2, 3}));
    r.port.Close();
}

// --- a port that goes away ---------------------------------------------------------------

TEST(SerialPortVanish, FarSideClosingIsReportedOnceAndThePortFallsQuiet)
{
#ifdef _WIN32
    GTEST_SKIP() << "the far side of the relayed pair cannot vanish from inside Wine";
#else
    PtyPair pty(13);
    Recorder r(13);
    r.port.Open();
    pty.send(sequence(40));
    ASSERT_TRUE(r.waitForBytes(40));
    pty.closeFar();
    ASSERT_TRUE(r.gui.runUntil([&] { return !r.errors.empty(); }));
    EXPECT_EQ(r.errors, (std::vector<uint32_t>{CE_IOE}));

    // No thread keeps waking on the dead device.
    const size_t postedBefore = r.gui.posted();
    const double cpuBefore = processCpuMs();
    r.gui.runFor(500);
    EXPECT_LT(processCpuMs() - cpuBefore, 50.0);
    EXPECT_EQ(r.gui.posted(), postedBefore);

    // Writing to it is refused by the device, already reported.
    r.port.WriteBuf("abc", 3);
    r.gui.runFor(200);
    EXPECT_EQ(r.errors.size(), 1u);
    EXPECT_TRUE(r.port.Active());
    {
        Watchdog dog("Close after the device vanished", 3000);
        r.port.Close();
    }
    EXPECT_FALSE(r.port.Active());
#endif
}

TEST(SerialPortVanish, HalfAReplyBeforeTheUnitVanishesStillArrives)
{
#ifndef QVOKSB_HAVE_SIM
    GTEST_SKIP() << noSimulatedUnit;
#else
    ksb7sim::SimulatedUnit unit;
    ASSERT_TRUE(startUnit(unit, 14));
    ksb7sim::Faults faults;
    faults.vanishOnNextRequest = true;
    faults.vanishDowntimeMs = -1;
    unit.setFaults(faults);

    Recorder r(14);
    r.port.Open();
    // Read 2 input registers from 517: the reply is 9 bytes.
    const Bytes request = {0x01, 0x04, 0x02, 0x05, 0x00, 0x02, 0x60, 0x72};
    r.port.WriteBuf(request.data(), static_cast<int>(request.size()));
    ASSERT_TRUE(r.gui.runUntil([&] { return !r.errors.empty(); }));
    EXPECT_GE(r.received.size(), 1u);
    EXPECT_LT(r.received.size(), 9u);
    EXPECT_EQ(r.received[0], 0x01);
    EXPECT_EQ(r.errors, (std::vector<uint32_t>{CE_IOE}));
    r.gui.runFor(300);
    EXPECT_EQ(r.errors.size(), 1u);
    r.port.Close();
#endif
}

// --- closing, never deadlocking ------------------------------------------------------------

TEST(SerialPortClose, WhileBytesPourInFromTheFarSide)
{
    PtyPair pty(15);
    std::atomic<bool> flooding{true};
    std::thread flooder([&] {
        const Bytes burst = sequence(64);
        while (flooding)
            pty.sendSome(burst);
    });
    for (int round = 0; round < 30; ++round) {
        Recorder r(15);
        r.port.Open();
        ASSERT_TRUE(r.waitForBytes(1 + round * 10));
        r.port.WriteBuf("hello", 5);
        Watchdog dog("Close under load", 3000);
        if (round % 2) {
            ASSERT_TRUE(r.gui.waitForQueued()); // the event thread waits for the GUI thread
        }
        r.port.Close();
        EXPECT_FALSE(r.port.Active());
        const size_t before = r.received.size();
        r.gui.runFor(20); // what was queued for the closed port is dropped unhandled
        EXPECT_EQ(r.received.size(), before);
    }
    flooding = false;
    flooder.join();
}

TEST(SerialPortClose, WhileTheGuiThreadIsBusyAndFromInsideAHandler)
{
    PtyPair pty(6);
    {
        Recorder r(6);
        r.port.Open();
        pty.send(sequence(10));
        ASSERT_TRUE(r.gui.waitForQueued());
        std::this_thread::sleep_for(milliseconds(100)); // busy with something else
        const auto start = Clock::now();
        r.port.Close();
        EXPECT_LT(Clock::now() - start, milliseconds(500));
        r.gui.runFor(50);
        EXPECT_TRUE(r.received.empty());
    }
    {
        Recorder r(6);
        int calls = 0;
        r.port.OnRxBuf = [&](const uint8_t *, size_t) {
            ++calls;
            Watchdog dog("Close inside OnRxBuf", 3000);
            r.port.Close();
        };
        r.port.Open();
        pty.send(sequence(10));
        r.gui.runUntil([&] { return calls > 0; });
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(r.port.Active());
        pty.send(sequence(10));
        r.gui.runFor(100);
        EXPECT_EQ(calls, 1);
        // Reopened from the same port, it works as before.
        r.port.OnRxBuf = nullptr;
        r.port.Open();
        r.port.WriteBuf("z", 1);
        EXPECT_EQ(pty.receive(1), Bytes{'z'});
        r.port.Close();
    }
#ifndef _WIN32 // the far side of the relayed pair cannot vanish from inside Wine
    {
        Recorder r(6);
        r.port.OnError = [&](uint32_t) { r.port.Close(); };
        r.port.Open();
        pty.closeFar();
        Watchdog dog("Close inside OnError", 3000);
        r.gui.runUntil([&] { return !r.port.Active(); });
        EXPECT_FALSE(r.port.Active());
    }
#endif
}

TEST(SerialPortClose, WhenTheGuiIsGoneOrDropsEventsTheThreadsStillEnd)
{
    PtyPair pty(2);
    {
        Recorder r(2);
        r.gui.setGone(true);
        r.port.Open();
        pty.send(sequence(10));
        const double cpuBefore = processCpuMs();
        std::this_thread::sleep_for(milliseconds(300));
        EXPECT_LT(processCpuMs() - cpuBefore, 50.0);
        Watchdog dog("Close with the GUI gone", 3000);
        r.port.Close();
    }
    {
        Recorder r(2);
        r.port.Open();
        pty.send(sequence(10));
        ASSERT_TRUE(r.gui.waitForQueued());
        r.gui.dropQueued();
        std::this_thread::sleep_for(milliseconds(100));
        Watchdog dog("Close after dropped events", 3000);
        r.port.Close();
        EXPECT_TRUE(r.received.empty());
    }
}

TEST(SerialPortClose, APortDestroyedWithAnEventQueuedLeavesTheEventHarmless)
{
    PtyPair pty(2);
    TestGui gui;
    int calls = 0;
    {
        SerialPort port(&gui);
        port.PortNum = 2;
        port.OnRxBuf = [&](const uint8_t *, size_t) { ++calls; };
        port.Open();
        pty.send(sequence(10));
        ASSERT_TRUE(gui.waitForQueued());
        Watchdog dog("destroying an open port", 3000);
    } // the window went away without closing its port first
    gui.runFor(50);
    EXPECT_EQ(calls, 0);
    // The device was closed and unlocked.
    Recorder r(2);
    r.port.Open();
    pty.send({42});
    ASSERT_TRUE(r.waitForBytes(1));
    r.port.Close();
}

TEST(SerialPortClose, ReturnsAtOnceAndTheNextOpenWaitsForTheDeviceToSettle)
{
    PtyPair pty(1);
    TestGui gui;
    SerialPort port(&gui);
    port.PortNum = 1;
    std::vector<std::string> order;
    port.OnClose = [&] { order.push_back("closed"); };
    port.Open();
    const auto start = Clock::now();
    port.Close();
    EXPECT_LT(Clock::now() - start, milliseconds(200));
    EXPECT_EQ(order, std::vector<std::string>{"closed"});
    port.Open();
    EXPECT_GE(Clock::now() - start, milliseconds(300));
    EXPECT_TRUE(port.Active());
    port.CloseDelayMs = 0;
}

TEST(SerialPortClose, OpenAndClose200TimesLeaksNoDescriptorOrThread)
{
    PtyPair pty(16);
    Recorder r(16);
    r.port.Open(); // warm up whatever the first open allocates for good
    r.port.Close();
    const size_t handles = openHandles();
    const size_t threads = threadCount();
    for (int i = 0; i < 200; ++i) {
        r.port.Open();
        if (i % 20 == 0) {
            pty.send({uint8_t(i)});
            ASSERT_TRUE(r.waitForBytes(r.received.size() + 1));
        }
        r.port.Close();
    }
    EXPECT_EQ(openHandles(), handles);
    EXPECT_EQ(threadCount(), threads);
}

// --- with the simulated unit ---------------------------------------------------------------

TEST(SerialPortUnit, ACommandIsAnsweredWithItsEightByteEcho)
{
#ifndef QVOKSB_HAVE_SIM
    GTEST_SKIP() << noSimulatedUnit;
#else
    ksb7sim::SimulatedUnit unit;
    ASSERT_TRUE(startUnit(unit, 12));
    Recorder r(12);
    r.port.Open();
    // Command 1 (reset) into register 128: the unit echoes the request.
    const Bytes request = {0x01, 0x06, 0x00, 0x80, 0x00, 0x01, 0x49, 0xE2};
    for (int i = 0; i < 3; ++i) {
        r.received.clear();
        r.port.PurgeWrite();
        r.port.WriteBuf(request.data(), static_cast<int>(request.size()));
        ASSERT_TRUE(r.waitForBytes(8));
        EXPECT_EQ(r.received, request);
        r.port.PurgeRead();
    }
    EXPECT_TRUE(r.errors.empty());
    EXPECT_EQ(unit.lastCommand(), 1);
    r.port.Close();
#endif
}
