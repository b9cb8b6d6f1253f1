// The serial port's costs on a pseudo-terminal, with events delivered to a Qt GUI thread the way
// the exchange window receives them (a queued invocation):
//  - the time from 8 bytes written on the far side to OnRxBuf having all of them;
//  - the round trip of an 8-byte request answered at once by an echoing far side, and answered
//    by the simulated unit (which waits for the request's end-of-frame gap before it answers);
//  - the CPU time of the whole process while the port is open and idle, and after its far side
//    vanished. Both should be close to zero.
//
// bench_serial_port [--idle-seconds N] [--rounds N]
#include "core/link/port_directory.h"
#include "core/link/serial_port.h"
#include "simulated_unit.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace qvoksb;
using Clock = std::chrono::steady_clock;

namespace
{

class QtHandOff : public GuiHandOff
{
public:
    explicit QtHandOff(QObject *context) : context_(context) {}
    bool post(std::function<void()> task) override
    {
        return QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
    }

private:
    QObject *context_;
};

double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

double usSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// Runs the GUI event loop until done() holds, for at most timeoutMs; false on time-out.
template <class Pred> bool spin(Pred done, int timeoutMs = 2000)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    QEventLoop loop;
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        // Blocks until an event arrives (the port's posted events wake it).
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void idleFor(int seconds)
{
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Stats {
    std::vector<double> us;
    void print(const char *what) const
    {
        if (us.empty()) {
            std::printf("%-58s no samples\n", what);
            return;
        }
        std::vector<double> sorted = us;
        std::sort(sorted.begin(), sorted.end());
        const auto at = [&](double q) { return sorted[size_t(q * double(sorted.size() - 1))]; };
        std::printf("%-58s median %8.1f us  p90 %8.1f us  max %8.1f us  (%zu rounds)\n", what,
                    at(0.5), at(0.9), sorted.back(), sorted.size());
    }
};

struct Pty {
    int far = -1;
    std::string near;
    Pty(int port)
    {
        int slave = -1;
        char name[256];
        if (openpty(&far, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        close(slave);
        fcntl(far, F_SETFL, fcntl(far, F_GETFL) | O_NONBLOCK);
        near = name;
        const std::string link = portDirectory() + "/" + portEntryName(port);
        std::filesystem::remove(link);
        std::filesystem::create_symlink(near, link);
    }
    ~Pty() { closeFar(); }
    void closeFar()
    {
        if (far >= 0)
            close(far);
        far = -1;
    }
};

} // namespace

int main(int argc, char *argv[])
{
    int idleSeconds = 2;
    int rounds = 200;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--idle-seconds") == 0)
            idleSeconds = std::max(1, std::atoi(argv[i + 1]));
        else if (std::strcmp(argv[i], "--rounds") == 0)
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    QCoreApplication app(argc, argv);
    QTemporaryDir ports;
    setenv("QVOKSB_PORT_DIR", ports.path().toLocal8Bit().constData(), 1);

    QObject gui;
    QtHandOff handOff(&gui);
    size_t received = 0;
    std::vector<uint32_t> errors;
    SerialPort port(&handOff);
    port.PortNum = 1;
    port.CloseDelayMs = 0;
    port.OnRxBuf = [&](const uint8_t *, size_t count) { received += count; };
    port.OnError = [&](uint32_t flags) { errors.push_back(flags); };
    const uint8_t request[8] = {0x01, 0x06, 0x00, 0x80, 0x00, 0x01, 0x49, 0xE2};

    // Far side to OnRxBuf.
    {
        Pty pty(1);
        port.Open();
        Stats stats;
        for (int i = 0; i < rounds; ++i) {
            received = 0;
            const auto start = Clock::now();
            if (write(pty.far, request, sizeof request) != sizeof request)
                break;
            if (!spin([&] { return received >= 8; }))
                break;
            stats.us.push_back(usSince(start));
        }
        stats.print("far side writes 8 bytes -> OnRxBuf has them");

        // An echoing far side.
        std::atomic<bool> echoing{true};
        std::thread echo([&] {
            uint8_t buf[64];
            while (echoing) {
                pollfd p{pty.far, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0)
                    continue;
                const ssize_t n = read(pty.far, buf, sizeof buf);
                if (n > 0 && write(pty.far, buf, size_t(n)) != n)
                    break;
            }
        });
        Stats echoStats;
        for (int i = 0; i < rounds; ++i) {
            received = 0;
            const auto start = Clock::now();
            port.WriteBuf(request, sizeof request);
            if (!spin([&] { return received >= 8; }))
                break;
            echoStats.us.push_back(usSince(start));
        }
        echoing = false;
        echo.join();
        echoStats.print("WriteBuf 8 bytes -> echoed 8-byte reply in OnRxBuf");

        const double before = processCpuMs();
        idleFor(idleSeconds);
        std::printf("%-58s %8.2f ms CPU in %d s\n", "port open and idle", processCpuMs() - before,
                    idleSeconds);

        pty.closeFar();
        spin([&] { return !errors.empty(); });
        const double vanishedBefore = processCpuMs();
        idleFor(idleSeconds);
        std::printf("%-58s %8.2f ms CPU in %d s (%zu error report%s)\n",
                    "port open after its far side vanished", processCpuMs() - vanishedBefore,
                    idleSeconds, errors.size(), errors.size() == 1 ? "" : "s");
        port.Close();
    }

    // The simulated unit: the same request, its 8-byte answer.
    {
        ksb7sim::SimulatedUnit unit;
        std::string error;
        if (!unit.start(2, 1, &error)) {
            std::fprintf(stderr, "simulated unit: %s\n", error.c_str());
            return 1;
        }
        port.PortNum = 2;
        port.Open();
        Stats stats;
        for (int i = 0; i < std::min(rounds, 50); ++i) {
            received = 0;
            port.PurgeWrite();
            const auto start = Clock::now();
            port.WriteBuf(request, sizeof request);
            if (!spin([&] { return received >= 8; }))
                break;
            stats.us.push_back(usSince(start));
            port.PurgeRead();
        }
        stats.print("WriteBuf 8 bytes -> simulated unit's reply in OnRxBuf");
        port.Close();
    }
    return 0;
}
