// ksb7ctl against simulated units on a pseudo-terminal, each run as its own process:
//  - wall time of `write --verify` and `read` on the configurator's 300 ms ticks, next to what
//    the ticks alone take (two ticks a step);
//  - the same with `--pace reply`, next to the time the frames and the silences between them
//    take on a 9600 bit/s line (a pseudo-terminal itself has no bit rate);
//  - a switchboard: `write --verify` into three units on one line with one command, and a scan
//    of every address 1-F7 with the default time-out, next to its bound of 40 s;
//  - the peak resident memory of the ksb7ctl process.
//
// bench_ksb7ctl [--repeat N]
#include "core/records/config_file.h"
#include "core/modbus/modbus_rtu.h"
#include "core/settings/settings_set.h"
#include "simulated_unit.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace
{

namespace modbus = qvoksb::modbus;
constexpr int Port = 9;
constexpr double ByteMs = 10.0 / 9600.0 * 1000.0;          // start, 8 data bits, stop
constexpr double SilenceMs = 3.5 * 11.0 / 9600.0 * 1000.0; // between frames

struct Sample {
    double wallMs = 0;
    long peakKb = 0;
    int code = -1;
};

Sample run(std::vector<std::string> args)
{
    args.insert(args.begin(), {KSB7CTL_PATH, "--port", "COM" + std::to_string(Port)});
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    Sample s;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        rusage usage{};
        ::wait4(pid, &status, 0, &usage);
        s.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        s.peakKb = usage.ru_maxrss;
    }
    s.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    posix_spawn_file_actions_destroy(&actions);
    return s;
}

// The frames of the configuration exchanges on a 9600 bit/s line, with the silence after each.
double wireMs(bool write, bool verify, bool trip)
{
    double bytes = 0;
    int frames = 0;
    for (const modbus::Block &b : modbus::ConfigurationBlocks) {
        if (write) {
            bytes += double(modbus::writeRequestBytes(b.count) + modbus::WriteReplyBytes);
            frames += 2;
        }
        if (!write || verify) {
            bytes += double(modbus::ReadRequestBytes + modbus::readReplyBytes(b.count));
            frames += 2;
        }
    }
    if (trip) {
        bytes +=
            double(modbus::ReadRequestBytes + modbus::readReplyBytes(modbus::LastTripBlock.count));
        frames += 2;
    }
    return bytes * ByteMs + frames * SilenceMs;
}

void report(const char *what, const std::vector<Sample> &samples, double referenceMs,
            const char *reference)
{
    std::vector<double> walls;
    long peak = 0;
    int failures = 0;
    for (const Sample &s : samples) {
        walls.push_back(s.wallMs);
        peak = std::max(peak, s.peakKb);
        failures += s.code != 0;
    }
    std::sort(walls.begin(), walls.end());
    const double median = walls[walls.size() / 2];
    std::printf("%-34s median %8.1f ms (min %8.1f, max %8.1f)  %s %8.1f ms  ratio %.3f  "
                "peak RSS %.1f MB%s\n",
                what, median, walls.front(), walls.back(), reference, referenceMs,
                median / referenceMs, double(peak) / 1024.0, failures ? "  FAILED RUNS" : "");
}

} // namespace

int main(int argc, char **argv)
{
    int repeat = 3;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--repeat") == 0)
            repeat = std::max(1, std::atoi(argv[i + 1]));

    char dir[] = "/tmp/bench-ksb7ctl-XXXXXX";
    if (!::mkdtemp(dir))
        return 1;
    ::setenv("QVOKSB_PORT_DIR", (std::string(dir) + "/ports").c_str(), 1);
    std::vector<std::unique_ptr<ksb7sim::SimulatedUnit>> units;
    for (int address : {1, 2, 3}) {
        units.push_back(std::make_unique<ksb7sim::SimulatedUnit>());
        std::string error;
        const bool ok = address == 1 ? units[0]->start(Port, address, &error)
                                     : units.back()->startOnLine(*units[0], address, &error);
        if (!ok) {
            std::fprintf(stderr, "bench_ksb7ctl: %s\n", error.c_str());
            return 1;
        }
    }
    const std::string file = std::string(dir) + "/feeder.txt";
    qvoksb::SettingsSet set;
    set.setValue(qvoksb::Setting::RxSpinEdit2, 200);
    qvoksb::writeConfigFile(file, set);
    const std::string out = std::string(dir) + "/read.txt";

    const auto many = [&](std::vector<std::string> args) {
        std::vector<Sample> samples;
        for (int i = 0; i < repeat; ++i)
            samples.push_back(run(args));
        return samples;
    };
    // Two ticks a step: one sends, the next examines the reply.
    const double tickWriteVerify = 2.0 * 2 * modbus::WriteSteps * 300;
    const double tickRead = 2.0 * modbus::LastTripStep * 300;
    std::printf("ksb7ctl against simulated units on a pseudo-terminal, %d runs each\n", repeat);
    report("write --verify (ticks)", many({"write", file, "--verify"}), tickWriteVerify, "ticks");
    report("read -o (ticks)", many({"read", "-o", out}), tickRead, "ticks");
    report("write --verify (reply)", many({"--pace", "reply", "write", file, "--verify"}),
           wireMs(true, true, false), "9600 bit/s wire");
    report("read -o (reply)", many({"--pace", "reply", "read", "-o", out}),
           wireMs(false, false, true), "9600 bit/s wire");
    report("3 units write --verify (reply)",
           many({"--pace", "reply", "--address", "1-3", "--json", "write", file, "--verify"}),
           3 * wireMs(true, true, false), "9600 bit/s wire");
    report("3 units write --verify (ticks)", many({"--address", "1-3", "write", file, "--verify"}),
           3 * tickWriteVerify, "ticks");
    report("scan 1-F7, 3 units", many({"scan"}), 40000, "bound");
    units.clear();
    std::system((std::string("rm -rf ") + dir).c_str());
    return 0;
}
