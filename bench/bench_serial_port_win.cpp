// The Windows port layer's costs, run under Wine by tools/wine-tests.sh (WINE_BENCH=1) against
// the relayed pseudo-terminal pair, with events handed to a plain GUI-thread queue:
//  - the time from 8 bytes written on the far side to OnRxBuf having all of them;
//  - the CPU time of the whole process while the port is open and idle (aim: about zero).
//
// bench_serial_port_win [--idle-seconds N] [--rounds N]
#include "core/link/serial_port.h"

#include "pty_pair_win.h"
#include "queued_hand_off.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

using namespace qvoksb;
using namespace serial_test;

namespace
{

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

} // namespace

int main(int argc, char **argv)
{
    int idleSeconds = 10;
    int rounds = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--idle-seconds"))
            idleSeconds = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::atoi(argv[i + 1]);
    }

    PtyPair pty(5);
    QueuedHandOff gui; // run by main()
    SerialPort port(&gui);
    port.PortNum = 5;
    port.CloseDelayMs = 0;
    size_t received = 0;
    port.OnRxBuf = [&](const uint8_t *, size_t count) { received += count; };
    port.Open();

    const Bytes request = {0x01, 0x04, 0x02, 0x05, 0x00, 0x02, 0x60, 0x72};
    std::vector<double> latencyMs;
    for (int i = 0; i < rounds; ++i) {
        received = 0;
        const auto start = Clock::now();
        pty.send(request);
        if (!gui.runUntil([&] { return received >= request.size(); }, 5000)) {
            std::printf("round %d: the bytes never arrived\n", i);
            return 1;
        }
        latencyMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(milliseconds(5));
    }
    std::printf(
        "8 bytes far side to OnRxBuf, %d rounds: median %.3f ms, 95th %.3f ms, max %.3f ms\n",
        rounds, percentile(latencyMs, 0.5), percentile(latencyMs, 0.95),
        percentile(latencyMs, 1.0));

    const double cpuBefore = processCpuMs();
    gui.runUntil([] { return false; }, idleSeconds * 1000);
    const double cpuMs = processCpuMs() - cpuBefore;
    std::printf("idle open port, %d s: process CPU %.1f ms (%.3f %%)\n", idleSeconds, cpuMs,
                cpuMs / (idleSeconds * 10.0));
    port.Close();
    return 0;
}
