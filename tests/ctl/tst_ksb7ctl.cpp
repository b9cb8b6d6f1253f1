// ksb7ctl run as a program against simulated units on a pseudo-terminal, directly or through a
// simulated Ethernet gateway: what reaches the units' registers, what it prints and how it ends.
#include "core/records/config_file.h"
#include "core/records/journal.h"
#include "core/modbus/modbus_rtu.h"
#include "scratch_folder.h"
#include "core/files/sha256.h"
#include "gateway.h"
#include "loopback_listener.h"
#include "simulated_unit.h"
#include "unit_registers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

using ksb7sim::Faults;
using ksb7sim::SimulatedUnit;
using qvoksb::Setting;

namespace
{

constexpr int Port = 7;

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t lineCount(const std::string &text)
{
    size_t n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

class Ksb7ctlTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }
    void TearDown() override { units_.clear(); }

    // Units on one line at these addresses; the first owns the terminal.
    void startUnits(std::initializer_list<int> addresses)
    {
        for (int a : addresses) {
            units_.push_back(std::make_unique<SimulatedUnit>());
            std::string error;
            const bool ok = units_.size() == 1 ? units_[0]->start(Port, a, &error)
                                               : units_.back()->startOnLine(*units_[0], a, &error);
            ASSERT_TRUE(ok) << error;
        }
    }
    SimulatedUnit &unit(size_t i) { return *units_[i]; }

    // Runs ksb7ctl on the units' port (or port_), reply-paced unless the arguments say otherwise.
    Outcome ksb7ctl(std::vector<std::string> args, bool fast = true)
    {
        args.insert(args.begin(), {KSB7CTL_PATH, "--port", port_});
        if (fast)
            args.insert(args.begin() + 3, {"--pace", "reply"});
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = dir_ + "/stdout", err = dir_ + "/stderr";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        pid_t pid = 0;
        Outcome run;
        if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        run.out = slurp(out);
        run.err = slurp(err);
        return run;
    }

    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    std::string writeFile(const std::string &name, const qvoksb::SettingsSet &set)
    {
        std::string problem;
        EXPECT_TRUE(qvoksb::writeConfigFile(path(name), set, &problem)) << problem;
        return path(name);
    }

    // Ports and a journal of our own: other test programs run beside this one.
    ScratchFolder scratch_{"ksb7ctl-test"};
    const std::string &dir_ = scratch_.path();
    std::vector<std::unique_ptr<SimulatedUnit>> units_;
    std::string port_ = "COM" + std::to_string(Port);
};

// A set every register carries exactly, unlike the factory values in several places.
qvoksb::SettingsSet changedSet()
{
    qvoksb::SettingsSet set;
    set.setValue(Setting::RxSpinEdit1, 60);    // register 257 bit 0
    set.setValue(Setting::RxSpinEdit2, 200);   // register 258
    set.setValue(Setting::CheckBox2, 1);       // register 277 bit 2 (ВЫХ.2)
    set.setValue(Setting::ComboBox3, 0);       // register 386
    set.setValue(Setting::RxSpinEdit23, 500);  // register 264, in 100 ms
    set.setValue(Setting::RxSpinEdit21, 2000); // register 405, in 10 ms
    set.setValue(Setting::ComboBox9, 1);       // register 270
    return set;
}

// The unit's last trip: cause 0 on 8 December 2026 at 9:05, 12.3 s into the minute.
void setKnownTrip(SimulatedUnit &u)
{
    u.setReg(529, uint16_t(0 << 7 | 26));
    u.setReg(530, uint16_t(12 << 10 | 8 << 5 | 9));
    u.setReg(531, uint16_t(5 << 10 | 123));
}

} // namespace

TEST_F(Ksb7ctlTest, WriteThenReadGivesTheFileBackByteForByte)
{
    startUnits({1});
    setKnownTrip(unit(0));
    qvoksb::SettingsSet set = changedSet();
    set.setText(Setting::EEvent, "СОБЫТИЯ ОТСУТСТВУЮТ");
    set.setText(Setting::EDt, "8.12.2026 9:5:12");
    const std::string file = writeFile("feeder.txt", set);

    const Outcome wrote = ksb7ctl({"write", file, "--verify"});
    EXPECT_EQ(wrote.code, 0) << wrote.err;
    EXPECT_EQ(unit(0).reg(257) & 1, 1);
    EXPECT_EQ(unit(0).reg(258), 200);
    EXPECT_EQ(unit(0).reg(277), 1 << 2);
    EXPECT_EQ(unit(0).reg(264), 5);
    EXPECT_EQ(unit(0).reg(405), 200);

    const Outcome read = ksb7ctl({"read", "-o", path("back.txt")});
    EXPECT_EQ(read.code, 0) << read.err;
    EXPECT_EQ(slurp(path("back.txt")), slurp(file));

    // As in the configurator, the phase cut-off trips the breaker even when a file says not.
    set.setValue(Setting::CheckBox16, 0);
    EXPECT_EQ(ksb7ctl({"write", writeFile("cleared.txt", set)}).code, 0);
    EXPECT_EQ(unit(0).reg(389) & 1, 1);
}

TEST_F(Ksb7ctlTest, WriteGoesOnTheConfiguratorsTicksInItsOrder)
{
    startUnits({1});
    const Outcome wrote = ksb7ctl({"write", writeFile("f.txt", changedSet())}, false);
    EXPECT_EQ(wrote.code, 0) << wrote.err;
    const auto frames = unit(0).receivedFrames();
    const int firstRegisters[] = {257, 267, 277, 384, 395, 262, 269};
    ASSERT_EQ(frames.size(), 7u);
    for (size_t k = 0; k < 7; ++k) {
        EXPECT_EQ(frames[k][1], 16);
        EXPECT_EQ(frames[k][2] << 8 | frames[k][3], firstRegisters[k]);
    }
}

TEST_F(Ksb7ctlTest, DiffNamesExactlyTheChangedSettings)
{
    startUnits({1});
    const std::string written = writeFile("a.txt", changedSet());
    ASSERT_EQ(ksb7ctl({"write", written}).code, 0);
    qvoksb::SettingsSet other = changedSet();
    other.setValue(Setting::RxSpinEdit2, 300);
    other.setValue(Setting::CheckBox18, 1);
    const std::string changed = writeFile("b.txt", other);

    const Outcome same = ksb7ctl({"diff", written});
    EXPECT_EQ(same.code, 0) << same.err;
    const Outcome unitDiff = ksb7ctl({"diff", changed});
    EXPECT_EQ(unitDiff.code, 1);
    EXPECT_EQ(lineCount(unitDiff.out), 2u) << unitDiff.out;
    EXPECT_NE(
        unitDiff.out.find("Ток первичной обмотки применяемого ТТ (А) — блок 200 А, файл 300 А"),
        std::string::npos)
        << unitDiff.out;
    EXPECT_NE(unitDiff.out.find("Токовая отсечка в фазах (Реле): ВЫХ.2 — блок нет, файл да"),
              std::string::npos)
        << unitDiff.out;

    const Outcome files = ksb7ctl({"diff", written, changed, "--json"});
    EXPECT_EQ(files.code, 1);
    EXPECT_NE(files.out.find(R"("control":"RxSpinEdit2")"), std::string::npos) << files.out;
    EXPECT_NE(files.out.find(R"("control":"CheckBox18")"), std::string::npos) << files.out;
}

// A file's texts reach the terminal with their control characters visible, and JSON stays
// UTF-8 whatever bytes a file name holds (read back by Python's json module).
TEST_F(Ksb7ctlTest, HostileTextsAndFileNamesStayHarmless)
{
    qvoksb::SettingsSet set = changedSet();
    set.setText(Setting::EEvent, "\x1b]0;owned\x07\x1b[2JКЗ");
    const std::string plain = writeFile("plain.txt", changedSet());
    const std::string hostile = writeFile("hostile\xff.txt", set);

    const Outcome text = ksb7ctl({"diff", plain, hostile});
    EXPECT_EQ(text.code, 1);
    EXPECT_EQ(text.out.find('\x1b'), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("\\x1b]0;owned\\x07\\x1b[2JКЗ"), std::string::npos) << text.out;

    const Outcome json = ksb7ctl({"diff", plain, hostile, "--json"});
    std::ofstream(path("out.json"), std::ios::binary) << json.out;
    const std::string read =
        "python3 -c \"import json, sys; d = json.loads(open(sys.argv[1], 'rb').read().decode()); "
        "print(d['files'][1]); print(d['differences'][0]['second'])\" " +
        path("out.json") + " > " + path("read.txt");
    ASSERT_EQ(std::system(read.c_str()), 0) << json.out;
    EXPECT_EQ(slurp(path("read.txt")), path("hostile\\xff.txt") + "\n\x1b]0;owned\x07\x1b[2JКЗ\n");
}

// A port that will not open is reported with its real cause, and nothing is tried.
TEST_F(Ksb7ctlTest, PortOpenFailuresNameTheirCause)
{
    std::ofstream(path("plain")) << "not a terminal";
    const struct {
        std::string port;
        const char *cause;
    } rows[] = {
        {path("plain"), "это не последовательный порт"},
        {path("gone/ttyUSB0"), "нет такого файла или папки"},
        {dir_, "это папка, а не файл"},
    };
    for (const auto &row : rows) {
        const Outcome run = ksb7ctl({"--port", row.port, "status"});
        EXPECT_EQ(run.code, 2) << row.port;
        EXPECT_NE(run.err.find(row.cause), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("занят"), std::string::npos) << run.err;
    }
}

TEST_F(Ksb7ctlTest, StatusTripAndTheSevenCommands)
{
    startUnits({1});
    setKnownTrip(unit(0));
    unit(0).setInputs(0x5);
    unit(0).setReg(517, 0x2);
    const Outcome status = ksb7ctl({"status", "--json"});
    EXPECT_EQ(status.code, 0) << status.err;
    EXPECT_NE(status.out.find(R"("outputs":{"trip":false,"out1":true,"out2":false,"out3":false})"),
              std::string::npos)
        << status.out;
    EXPECT_NE(status.out.find(R"("inputs":{"in1":true,"in2":false,"in3":true,"breaker":false})"),
              std::string::npos)
        << status.out;

    const Outcome trip = ksb7ctl({"trip"});
    EXPECT_EQ(trip.code, 0) << trip.err;
    EXPECT_EQ(trip.out, "8.12.2026 9:5:12  СОБЫТИЯ ОТСУТСТВУЮТ\n");

    // Unconfirmed, a command only shows its frame: 01 06 00 80 00 02 and the CRC.
    unit(0).clearReceivedFrames();
    const Outcome unconfirmed = ksb7ctl({"command", "trip"});
    EXPECT_EQ(unconfirmed.code, 3);
    EXPECT_NE(unconfirmed.out.find("01 06 00 80 00 02 09 E3"), std::string::npos)
        << unconfirmed.out;
    EXPECT_TRUE(unit(0).receivedFrames().empty());

    const std::pair<const char *, int> codes[] = {
        {"reset", 1}, {"trip", 2}, {"clear-maintenance", 8}, {"delete-events", 9}, {"out1", 20},
        {"out2", 21}, {"out3", 22}};
    for (const auto &[name, code] : codes) {
        const Outcome run = ksb7ctl({"command", name, "--yes"});
        EXPECT_EQ(run.code, 0) << name << ": " << run.err;
        EXPECT_EQ(unit(0).lastCommand(), code) << name;
    }
}

TEST_F(Ksb7ctlTest, AnAddressListWithASilentUnitInTheMiddle)
{
    startUnits({1, 3}); // nobody answers at 2
    const Outcome wrote = ksb7ctl({"--address", "1-3", "--timeout", "0.5", "--json", "write",
                                   writeFile("f.txt", changedSet())});
    EXPECT_EQ(wrote.code, 2);
    EXPECT_NE(wrote.out.find(R"({"address":1,"result":"ok")"), std::string::npos) << wrote.out;
    EXPECT_NE(wrote.out.find(R"({"address":2,"result":"silent","exit":2)"), std::string::npos)
        << wrote.out;
    EXPECT_NE(wrote.out.find(R"({"address":3,"result":"ok")"), std::string::npos) << wrote.out;
    EXPECT_EQ(lineCount(wrote.err), 1u) << wrote.err;
    // Each unit keeps its own registers.
    EXPECT_EQ(unit(0).reg(258), 200);
    EXPECT_EQ(unit(1).reg(258), 200);
    unit(1).setReg(258, 400);
    const Outcome diff = ksb7ctl({"--address", "1,3", "diff", path("f.txt")});
    EXPECT_EQ(diff.code, 1);
    EXPECT_EQ(lineCount(diff.out), 2u) << diff.out; // 1 matches; 3 has one difference
}

TEST_F(Ksb7ctlTest, ExitCodesAndBadInputSendNothing)
{
    startUnits({1});
    const std::string good = writeFile("good.txt", changedSet());
    std::ofstream(path("bad.txt")) << "[КОНФИГУРАЦИЯ]\nnonsense\n";
    const std::vector<std::vector<std::string>> bad = {
        {"--address", "1,,2", "status"},
        {"--address", "F8", "status"},
        {"--address", "3-1", "status"},
        {"--address", "1,1", "status"},
        {"--timeout", "x", "status"},
        {"--pace", "fast", "status"},
        {"write", path("bad.txt")},
        {"write", path("missing.txt")},
        {"command", "open"},
        {"status", "extra"},
        {"--port", "COM17", "status"},
        {"read", "-o", path("x.txt"), "--address", "1,2"},
        // Where the file could not be written: a missing folder, a folder, a read-only folder.
        {"read", "-o", path("no-such-folder/x.txt")},
        {"read", "-o", dir_},
    };
    for (const auto &args : bad) {
        const Outcome run = ksb7ctl(args);
        EXPECT_EQ(run.code, 3) << args[0] << " " << args[1];
        EXPECT_EQ(lineCount(run.err), 1u) << run.err;
    }
    // The superuser may write into any folder: only an ordinary user finds this one closed.
    if (::geteuid() != 0) {
        ASSERT_EQ(::mkdir(path("closed").c_str(), 0555), 0);
        const Outcome run = ksb7ctl({"read", "-o", path("closed/x.txt")});
        EXPECT_EQ(run.code, 3) << run.err;
        EXPECT_NE(run.err.find("нет прав доступа"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(unit(0).receivedFrames().empty());

    // The unit refuses the phase overcurrent block: steps 1 to 3 were accepted.
    Faults refuse;
    refuse.exceptionBlockStart = 384;
    refuse.exceptionCode = 3;
    unit(0).setFaults(refuse);
    const Outcome refused = ksb7ctl({"write", good});
    EXPECT_EQ(refused.code, 4); // refused, apart from "differences found"
    EXPECT_NE(refused.err.find("последний принятый шаг: 3"), std::string::npos) << refused.err;

    // The port vanishes at the fifth request, for good.
    Faults vanish;
    vanish.vanishAtRequest = 5;
    vanish.vanishDowntimeMs = -1;
    unit(0).setFaults(vanish);
    const Outcome vanished = ksb7ctl({"write", good, "--timeout", "1"});
    EXPECT_EQ(vanished.code, 2);
    EXPECT_NE(vanished.err.find("последний принятый шаг: 4"), std::string::npos) << vanished.err;
    const Outcome missing = ksb7ctl({"status"});
    EXPECT_EQ(missing.code, 2);
}

// A unit slower than a tick, in either pacing: every step is answered by its own reply, the unit
// and the file end up exactly right, and a command is carried out once.
TEST_F(Ksb7ctlTest, SlowUnitsGetEveryStepAndACommandOnce)
{
    startUnits({1});
    setKnownTrip(unit(0));
    qvoksb::SettingsSet set = changedSet();
    const std::string file = writeFile("slow.txt", set);
    ASSERT_EQ(ksb7ctl({"write", file}).code, 0);
    ASSERT_EQ(ksb7ctl({"read", "-o", path("clean.txt")}).code, 0);
    // Paced by replies (the same engine runs the tick pacing): a verified write answered a tick
    // late, a read two ticks late.
    for (const int delayMs : {350, 650}) {
        SCOPED_TRACE(delayMs);
        Faults slow;
        slow.delayMs = delayMs;
        unit(0).setFaults(slow);
        if (delayMs == 650) {
            const Outcome read = ksb7ctl({"read", "-o", path("slow-read.txt")});
            EXPECT_EQ(read.code, 0) << read.err;
            EXPECT_EQ(slurp(path("slow-read.txt")), slurp(path("clean.txt")));
        } else {
            const Outcome verified = ksb7ctl({"write", file, "--verify"});
            EXPECT_EQ(verified.code, 0) << verified.err;
        }
        unit(0).clearReceivedFrames();
        EXPECT_EQ(ksb7ctl({"command", "out1", "--yes"}).code, 0);
        EXPECT_EQ(unit(0).receivedFrames().size(), 1u);
        EXPECT_EQ(unit(0).lastCommand(), 20);
    }
}

// Spoilt and missing replies are asked for again, in either pacing, until the file is whole;
// a unit that only ever answers wrongly is given up with the reason.
TEST_F(Ksb7ctlTest, SpoiltRepliesAreRepeatedUntilTheReadIsWhole)
{
    startUnits({1});
    ASSERT_EQ(ksb7ctl({"read", "-o", path("clean.txt")}).code, 0);
    struct Row {
        const char *what;
        bool ticks;
        Faults faults;
    };
    Faults badCrc, dropped;
    badCrc.badCrcEvery = 3;
    dropped.dropEvery = 3;
    for (const Row &row :
         {Row{"wrong CRC, reply paced", false, badCrc},
          Row{"no reply, reply paced", false, dropped}, Row{"wrong CRC, ticks", true, badCrc}}) {
        unit(0).setFaults(row.faults);
        unit(0).clearReceivedFrames();
        const Outcome read = ksb7ctl({"read", "-o", path("spoilt.txt")}, !row.ticks);
        EXPECT_EQ(read.code, 0) << row.what << ": " << read.err;
        EXPECT_EQ(slurp(path("spoilt.txt")), slurp(path("clean.txt"))) << row.what;
        EXPECT_GT(unit(0).receivedFrames().size(), 8u) << row.what;
    }
    Faults malformed;
    malformed.malformed = true;
    unit(0).setFaults(malformed);
    const Outcome wrong = ksb7ctl({"status", "--timeout", "0.5"});
    EXPECT_EQ(wrong.code, 2);
    EXPECT_NE(wrong.err.find("неверный ответ блока"), std::string::npos) << wrong.err;
}

// The line as it is: an adapter that hears itself, stray bytes before replies, a block that
// answers late amid noise, a refusal followed by silence, the cable out for a while. Each ends
// in the sound result; a success is the unit's own configuration, read as on a clean line.
TEST_F(Ksb7ctlTest, EchoNoiseOutagesAndRefusalsNeverGiveAFalseResult)
{
    startUnits({1});
    const std::string file = writeFile("line.txt", changedSet());
    ASSERT_EQ(ksb7ctl({"write", file}).code, 0);
    ASSERT_EQ(ksb7ctl({"read", "-o", path("clean.txt")}).code, 0);
    const auto readsClean = [&](bool fast, const char *what) {
        const Outcome read = ksb7ctl({"read", "-o", path("line-read.txt")}, fast);
        EXPECT_EQ(read.code, 0) << what << (fast ? ", reply paced: " : ", ticks: ") << read.err;
        EXPECT_EQ(slurp(path("line-read.txt")), slurp(path("clean.txt"))) << what;
    };

    // A two-wire adapter: with nobody at address 2 the command's echo is no success; with the
    // unit there, every kind goes through and the command acts once.
    unit(0).setFaults({.echo = true});
    const Outcome alone = ksb7ctl({"--address", "2", "--timeout", "1", "command", "out1", "--yes"});
    EXPECT_EQ(alone.code, 2) << alone.err;
    unit(0).clearReceivedFrames();
    const Outcome command = ksb7ctl({"command", "out2", "--yes"});
    EXPECT_EQ(command.code, 0) << command.err;
    EXPECT_EQ(unit(0).receivedFrames().size(), 1u);
    EXPECT_EQ(unit(0).lastCommand(), 21);
    EXPECT_EQ(ksb7ctl({"write", file, "--verify"}).code, 0);
    readsClean(true, "echo");

    // A stray byte as the unit turns the line round, and block 4 answering 650 ms late with
    // six bytes of noise before every reply.
    unit(0).setFaults({.noiseBytes = 1});
    readsClean(true, "stray byte");
    unit(0).setFaults({.noiseBytes = 6, .delayBlockStart = 384, .delayBlockMs = 650});
    for (bool fast : {true, false})
        readsClean(fast, "late block and noise");

    // Block 3 refused, then the cable out: the refusal is the outcome, not the read-back.
    unit(0).setFaults({.exceptionBlockStart = 277,
                       .exceptionCode = 3,
                       .silentFromRequest = 4,
                       .silentForMs = 60000});
    const Outcome refused = ksb7ctl({"--timeout", "1", "write", file, "--verify"});
    EXPECT_EQ(refused.code, 4) << refused.err;
    EXPECT_NE(refused.err.find("отклонил шаг 3"), std::string::npos) << refused.err;

    // The cable out for two seconds from the third request: a one-second step time-out gives
    // up at once, a longer one reads the unit whole once the cable is back.
    unit(0).setFaults({.silentFromRequest = 3, .silentForMs = 2000});
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ksb7ctl({"--timeout", "1", "read"}).code, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
    unit(0).setFaults({.silentFromRequest = 3, .silentForMs = 2000});
    const Outcome back = ksb7ctl({"--timeout", "5", "read", "-o", path("line-read.txt")});
    EXPECT_EQ(back.code, 0) << back.err;
    EXPECT_EQ(slurp(path("line-read.txt")), slurp(path("clean.txt")));
}

// Every unit's exchange leaves one record in the journal of work; the digest is that of the
// configuration registers the unit holds, the trip is the unit's; --no-journal leaves none.
TEST_F(Ksb7ctlTest, EachUnitsExchangeLeavesOneJournalRecord)
{
    startUnits({1, 2});
    setKnownTrip(unit(0));
    const std::string file = writeFile("feeder.txt", changedSet());
    ASSERT_EQ(ksb7ctl({"--address", "1,2", "write", file, "--verify"}).code, 0);
    ASSERT_EQ(ksb7ctl({"read"}).code, 0);
    qvoksb::SettingsSet other = changedSet();
    other.setValue(Setting::RxSpinEdit2, 300);
    EXPECT_EQ(ksb7ctl({"diff", writeFile("other.txt", other)}).code, 1);
    EXPECT_EQ(ksb7ctl({"--no-journal", "trip"}).code, 0);
    EXPECT_EQ(ksb7ctl({"command", "reset"}).code, 3); // nothing sent, nothing recorded

    qvoksb::Sha256 held;
    for (const qvoksb::modbus::Block &b : qvoksb::modbus::ConfigurationBlocks)
        for (int r = b.first; r < b.first + b.count; ++r) {
            const uint16_t value = unit(0).reg(r);
            const uint8_t bytes[2] = {uint8_t(value >> 8), uint8_t(value)};
            held.update(bytes);
        }
    const std::string digest = qvoksb::Sha256::hex(held.finish());

    const qvoksb::journal::Reading journal =
        qvoksb::journal::read(dir_ + "/data/QvoKsb/journal.jsonl");
    ASSERT_TRUE(journal.ok) << journal.problem;
    ASSERT_EQ(journal.records.size(), 4u);
    EXPECT_EQ(journal.damaged, 0);
    const auto &r = journal.records;
    for (int i : {0, 1}) {
        EXPECT_EQ(r[i].program, "ksb7ctl");
        EXPECT_EQ(r[i].port, "COM7");
        EXPECT_EQ(r[i].address, i + 1);
        EXPECT_EQ(r[i].kind, "write");
        EXPECT_EQ(r[i].outcome, "ok");
        EXPECT_EQ(r[i].source, "файл " + file);
        EXPECT_EQ(r[i].sha256, digest);
        EXPECT_EQ(r[i].differences, 0);
    }
    EXPECT_EQ(r[2].kind, "read");
    EXPECT_EQ(r[2].address, 1);
    EXPECT_EQ(r[2].source, "блок COM7, адрес 01");
    EXPECT_EQ(r[2].sha256, digest);
    EXPECT_EQ(r[2].differences, -1);
    EXPECT_EQ(r[2].lastTrip, "8.12.2026 9:5:12: СОБЫТИЯ ОТСУТСТВУЮТ");
    EXPECT_EQ(r[3].kind, "compare");
    EXPECT_EQ(r[3].outcome, "differences");
    EXPECT_EQ(r[3].differences, 1);
    EXPECT_EQ(r[3].sha256, digest);
    EXPECT_EQ(r[3].time.substr(0, 2), "20");
}

// The scan finds exactly the units on the line, in hexadecimal, with the state and the last trip
// their registers hold; a unit whose replies never decode is named as garbled after its second
// request; a line where nobody answers is a link failure.
TEST_F(Ksb7ctlTest, ScanFindsTheUnitsOnTheLine)
{
    startUnits({1, 5, 0x2A});
    for (size_t i = 0; i < 3; ++i)
        setKnownTrip(unit(i));
    unit(2).setReg(517, 0x1);
    unit(2).setInputs(0x4);
    const std::string trip = "; последнее отключение: 8.12.2026 9:5:12  СОБЫТИЯ ОТСУТСТВУЮТ\n";
    const std::string quiet = "ВЫХОДНЫЕ РЕЛЕ: ВЫКЛ.=0 ВЫХОД-1=0 ВЫХОД-2=0 ВЫХОД-3=0; "
                              "ЦИФРОВЫЕ ВХОДЫ: ВХОД-1=0 ВХОД-2=0 ВХОД-3=0 ВЫКЛ.=0";
    const Outcome found = ksb7ctl({"scan", "--address", "1-30"});
    EXPECT_EQ(found.code, 0) << found.err;
    EXPECT_EQ(found.out, "адрес 01: " + quiet + trip + "адрес 05: " + quiet + trip +
                             "адрес 2A: ВЫХОДНЫЕ РЕЛЕ: ВЫКЛ.=1 ВЫХОД-1=0 ВЫХОД-2=0 ВЫХОД-3=0; "
                             "ЦИФРОВЫЕ ВХОДЫ: ВХОД-1=0 ВХОД-2=0 ВХОД-3=1 ВЫКЛ.=0" +
                             trip);

    Faults spoilt;
    spoilt.badCrcEvery = 1;
    unit(1).setFaults(spoilt);
    unit(1).clearReceivedFrames();
    const Outcome garbled = ksb7ctl({"scan", "--address", "4-6", "--json"});
    EXPECT_EQ(garbled.code, 1) << garbled.err;
    EXPECT_NE(garbled.out.find(R"({"address":5,"result":"garbled","tries":2)"), std::string::npos)
        << garbled.out;
    EXPECT_NE(garbled.out.find(R"({"address":6,"result":"silent","tries":1})"), std::string::npos)
        << garbled.out;
    EXPECT_EQ(unit(1).receivedFrames().size(), 2u);

    const Outcome nobody = ksb7ctl({"scan", "--address", "10-12", "--timeout", "0.2"});
    EXPECT_EQ(nobody.code, 2) << nobody.err;
    EXPECT_EQ(nobody.out, "");
}

// A journal at the file size limit: the exchanges go on and are reported, the journal's failure
// once on standard error and in the JSON; the journal keeps no half record.
TEST_F(Ksb7ctlTest, JournalAtTheFileSizeLimitIsReportedOnce)
{
    startUnits({1, 2});
    const std::string journalFile = dir_ + "/data/QvoKsb/journal.jsonl";
    ASSERT_TRUE(qvoksb::journal::append(journalFile, qvoksb::journal::parseRecord("{}")));
    std::ofstream(journalFile, std::ios::app) << std::string(20000, 'x') << "\n";
    const std::string before = slurp(journalFile);
    struct rlimit saved {
    };
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = before.size() + 10;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const Outcome run = ksb7ctl({"--address", "1,2", "--json", "status"});
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find("\"journalError\":\"не удаётся записать журнал " + journalFile),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(R"({"address":2,"result":"ok")"), std::string::npos) << run.out;
    EXPECT_EQ(lineCount(run.err), 1u) << run.err;
    EXPECT_NE(run.err.find("журнал работ не записан"), std::string::npos) << run.err;
    EXPECT_EQ(slurp(journalFile), before);
}

// --- through a gateway on the network -----------------------------------------------------------

namespace
{

using GatewayMode = ksb7sim::TcpGateway::Mode;

// A gateway in front of the first unit's line; the tool is pointed at it.
struct GatewayCase {
    GatewayMode mode;
    const char *scheme;
};
constexpr GatewayCase gatewayCases[] = {{GatewayMode::RtuOverTcp, "tcp://"},
                                        {GatewayMode::ModbusTcp, "modbus-tcp://"}};

} // namespace

class Ksb7ctlGatewayTest : public Ksb7ctlTest
{
protected:
    void startGateway(const GatewayCase &c)
    {
        gateway_ = std::make_unique<ksb7sim::TcpGateway>(c.mode,
                                                         [this] { return unit(0).devicePath(); });
        std::string error;
        ASSERT_TRUE(gateway_->start(0, &error)) << error;
        port_ = c.scheme + gateway_->name();
    }
    void TearDown() override
    {
        gateway_.reset();
        Ksb7ctlTest::TearDown();
    }
    std::unique_ptr<ksb7sim::TcpGateway> gateway_;
};

TEST_F(Ksb7ctlGatewayTest, BothKindsOfGatewayCarryEveryExchangeAsTheSerialLineDoes)
{
    startUnits({1, 2});
    setKnownTrip(unit(0));
    qvoksb::SettingsSet set = changedSet();
    set.setText(Setting::EEvent, "СОБЫТИЯ ОТСУТСТВУЮТ");
    set.setText(Setting::EDt, "8.12.2026 9:5:12");
    const std::string file = writeFile("feeder.txt", set);
    for (const GatewayCase &c : gatewayCases) {
        SCOPED_TRACE(c.scheme);
        startGateway(c);
        unit(0).setReg(258, 100);
        unit(1).setReg(258, 100);
        // Two units polled in turn on one connection.
        const Outcome wrote = ksb7ctl({"--address", "1,2", "write", file, "--verify"});
        EXPECT_EQ(wrote.code, 0) << wrote.err;
        EXPECT_EQ(unit(0).reg(258), 200);
        EXPECT_EQ(unit(1).reg(258), 200);
        const Outcome read = ksb7ctl({"read", "-o", path("back.txt")});
        EXPECT_EQ(read.code, 0) << read.err;
        EXPECT_EQ(slurp(path("back.txt")), slurp(file));
        EXPECT_EQ(ksb7ctl({"diff", file}).code, 0);
        unit(0).setInputs(0x5);
        const Outcome status = ksb7ctl({"status", "--json"});
        EXPECT_NE(status.out.find(R"("in1":true,"in2":false,"in3":true)"), std::string::npos)
            << status.out << status.err;
        EXPECT_EQ(ksb7ctl({"trip"}).out, "8.12.2026 9:5:12  СОБЫТИЯ ОТСУТСТВУЮТ\n");
        unit(0).clearReceivedFrames();
        // On the configurator's ticks too; a command goes exactly once.
        const Outcome command = ksb7ctl({"command", "out2", "--yes"}, false);
        EXPECT_EQ(command.code, 0) << command.err;
        EXPECT_EQ(unit(0).lastCommand(), 21);
        EXPECT_EQ(unit(0).receivedFrames().size(), 1u);
    }
    // The journal names the gateway as the port.
    const qvoksb::journal::Reading journal =
        qvoksb::journal::read(dir_ + "/data/QvoKsb/journal.jsonl");
    ASSERT_TRUE(journal.ok) << journal.problem;
    ASSERT_FALSE(journal.records.empty());
    EXPECT_EQ(journal.records.back().port, gateway_->name());
}

TEST_F(Ksb7ctlGatewayTest, AGatewayAnswering800MsLateStillGetsEveryStepOnce)
{
    startUnits({1});
    ASSERT_EQ(ksb7ctl({"read", "-o", path("clean.txt")}).code, 0);
    Faults late;
    late.delayMs = 800;
    unit(0).setFaults(late);
    // The commands first, on a quiet line: a command unanswered for 900 ms goes again, and the
    // copies a slow read leaves in the unit's queue would delay it past that.
    for (const GatewayCase &c : gatewayCases) {
        SCOPED_TRACE(c.scheme);
        startGateway(c);
        unit(0).clearReceivedFrames();
        EXPECT_EQ(ksb7ctl({"command", "out1", "--yes"}).code, 0);
        EXPECT_EQ(unit(0).receivedFrames().size(), 1u);
        EXPECT_EQ(unit(0).lastCommand(), 20);
    }
    for (const GatewayCase &c : gatewayCases) {
        SCOPED_TRACE(c.scheme);
        startGateway(c);
        const Outcome read = ksb7ctl({"read", "-o", path("late.txt")});
        EXPECT_EQ(read.code, 0) << read.err;
        EXPECT_EQ(slurp(path("late.txt")), slurp(path("clean.txt")));
    }
}

TEST_F(Ksb7ctlGatewayTest, AGatewayClosingMidReplyEndsTheExchangeAndSparesTheNextUnits)
{
    startUnits({1, 2});
    for (const GatewayCase &c : gatewayCases) {
        SCOPED_TRACE(c.scheme);
        Faults vanish;
        vanish.vanishAtRequest = 3; // half of the third reply, then the unit's line is gone
        unit(0).setFaults(vanish);
        startGateway(c);
        const Outcome read = ksb7ctl({"--address", "1,2", "read"});
        EXPECT_EQ(read.code, 2);
        EXPECT_NE(read.err.find("адрес 01: связь со шлюзом пропала на"), std::string::npos)
            << read.err;
        EXPECT_NE(read.err.find("закрыл соединение посреди ответа"), std::string::npos)
            << read.err;
        EXPECT_NE(read.err.find("адрес 02: связь со шлюзом пропала (" + gateway_->name() +
                                "), блок не опрошен"),
                  std::string::npos)
            << read.err;
        // The unit's terminal comes back after its downtime.
        unit(0).setFaults({});
        for (int i = 0; i < 200 && unit(0).devicePath().empty(); ++i)
            ::usleep(20000);
        ASSERT_FALSE(unit(0).devicePath().empty());
    }
}

// A converting gateway speaks for a silent unit with exception 11 after its own time-out: that
// is no answer, as on the serial line, never the unit refusing.
TEST_F(Ksb7ctlGatewayTest, AConvertingGatewaysWordForASilentUnitIsNoAnswer)
{
    startUnits({1});
    startGateway(gatewayCases[1]);
    const Outcome run = ksb7ctl({"--address", "2", "--timeout", "2", "status"});
    EXPECT_EQ(run.code, 2) << run.err;
    EXPECT_NE(run.err.find("адрес 02: нет ответа"), std::string::npos) << run.err;
}

TEST_F(Ksb7ctlGatewayTest, ConnectionFailuresAndBadAddressesAreToldAndNothingIsSent)
{
    LoopbackListener watch;
    const std::string watched = std::to_string(watch.port());
    const std::pair<const char *, const char *> badInput[] = {
        {"tcp://127.0.0.1", "порт обязателен"},
        {"modbus-tcp://:502", "не указан адрес шлюза"},
        {"tcp://127.0.0.1:70000", "вне пределов 1..65535"},
        {"tcp://127.0.0.1:5x", "число от 1 до 65535"},
        {"ftp://127.0.0.1:21", "ожидается tcp://"},
    };
    for (const auto &[port, says] : badInput) {
        port_ = port;
        const Outcome run = ksb7ctl({"read"});
        EXPECT_EQ(run.code, 3) << port;
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    }
    EXPECT_FALSE(watch.connectionPending(50));

    LoopbackListener closed;
    port_ = "tcp://127.0.0.1:" + std::to_string(closed.closeListening());
    Outcome run = ksb7ctl({"--address", "1,2", "status"});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("адрес 01: шлюз 127.0.0.1:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("отказал в соединении"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("адрес 02: "), std::string::npos) << run.err;

    port_ = "modbus-tcp://ksb7-gateway.invalid";
    run = ksb7ctl({"status"});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("«ksb7-gateway.invalid» не найден"), std::string::npos) << run.err;

    // A listener whose queue of connections is full leaves the connection unanswered, as an
    // unreachable host does; the time-out is the step's.
    LoopbackListener full(0);
    full.fillQueue();
    port_ = "tcp://127.0.0.1:" + std::to_string(full.port());
    run = ksb7ctl({"--timeout", "0.5", "status"});
    EXPECT_EQ(run.code, 2);
    EXPECT_NE(run.err.find("не ответил на соединение за 500 мс"), std::string::npos) << run.err;
}

// RTU over TCP against a gateway that is not ours: socat passing a TCP port to the unit's
// pseudo-terminal, as a transparent gateway passes it to the RS-485 line. One socat serves one
// connection, so that no second reader is ever left on the terminal.
TEST_F(Ksb7ctlTest, RtuOverTcpThroughSocat)
{
    startUnits({1});
    LoopbackListener free;
    const int tcp = free.closeListening();
    char listenHex[32];
    std::snprintf(listenHex, sizeof listenHex, "0100007F:%04X 00000000:0000 0A", tcp);
    const std::string listen = "TCP-LISTEN:" + std::to_string(tcp) + ",bind=127.0.0.1,reuseaddr";
    const std::string line = "FILE:" + unit(0).devicePath() + ",raw,echo=0";
    port_ = "tcp://127.0.0.1:" + std::to_string(tcp);
    // Starts socat and runs ksb7ctl through it once socat listens.
    const auto throughSocat = [&](std::vector<std::string> args) {
        const char *argv[] = {"socat", listen.c_str(), line.c_str(), nullptr};
        pid_t socat = 0;
        Outcome run;
        if (posix_spawnp(&socat, "socat", nullptr, nullptr, const_cast<char **>(argv),
                         environ) != 0) {
            ADD_FAILURE() << "socat is needed: tools/deps.sh installs it";
            return run;
        }
        // Listening shows in the kernel's table of sockets without connecting to it.
        bool listening = false;
        for (int i = 0; i < 250 && !listening; ++i) {
            listening = slurp("/proc/net/tcp").find(listenHex) != std::string::npos;
            if (!listening)
                ::usleep(20000);
        }
        EXPECT_TRUE(listening);
        run = ksb7ctl(std::move(args));
        ::kill(socat, SIGTERM);
        ::waitpid(socat, nullptr, 0);
        return run;
    };
    const std::string file = writeFile("f.txt", changedSet());
    const Outcome wrote = throughSocat({"write", file, "--verify"});
    EXPECT_EQ(wrote.code, 0) << wrote.err;
    EXPECT_EQ(unit(0).reg(258), 200);
    const Outcome diff = throughSocat({"diff", file});
    EXPECT_EQ(diff.code, 0) << diff.out << diff.err;
}
