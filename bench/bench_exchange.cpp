// The four exchanges of the real main window with the simulated unit on a pseudo-terminal:
//  - for each kind, the time from the button to the exchange window's close, next to the pacing
//    the 300 ms ticks and the 1.5 s outcome pause give, and the time from the port's opening to
//    the outcome;
//  - the CPU time the program spent on it (the whole process less the simulated unit's own
//    threads, which run in this process too);
//  - after many state reads in a row, the change in open descriptors, threads and resident
//    memory;
//  - the time to build the list of differences between two settings sets, and the list of
//    values the unit cannot carry;
//  - the exchange log: the program's CPU time per write with the log closed and open, the
//    longest the event loop was held up while the unit floods the line with noise and the log
//    is open, and the resident memory the log takes for its 5000 lines.
//
// bench_exchange [--repeat N] [--rounds N] [--log-only]
#include "DifferenceWindow.h"
#include "TrafficLog.h"
#include "exchange_harness.h"
#include "core/settings/settings_diff.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

using namespace exchangetest;

namespace
{

double processCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

std::set<pid_t> threadIds()
{
    std::set<pid_t> ids;
    for (const auto &e : std::filesystem::directory_iterator("/proc/self/task"))
        ids.insert(pid_t(std::stol(e.path().filename().string())));
    return ids;
}

// The CPU time of another thread of this process (the clock id glibc's pthread_getcpuclockid
// builds from a thread id).
double threadCpuMs(pid_t tid)
{
    const clockid_t clock = clockid_t((~clockid_t(tid) << 3) | 6);
    timespec ts{};
    if (clock_gettime(clock, &ts) != 0)
        return 0;
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

size_t entriesOf(const char *dir)
{
    size_t n = 0;
    for ([[maybe_unused]] const auto &e : std::filesystem::directory_iterator(dir))
        ++n;
    return n;
}

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

struct Kind {
    const char *name;
    double pacingMs; // ticks to the outcome
    double pauseMs;  // the outcome's pause
    std::function<void()> press;
};

struct Sample {
    double buttonToCloseMs = 0;
    double openToOutcomeMs = 0;
    double programCpuMs = 0;
    double unitCpuMs = 0;
    bool ok = false;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    int repeat = 3;
    int rounds = 100;
    bool logOnly = false; // --log-only: the exchange log's figures alone
    for (int i = 1; i < argc; ++i)
        logOnly = logOnly || !std::strcmp(argv[i], "--log-only");
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--repeat"))
            repeat = std::max(1, std::atoi(argv[++i]));
        else if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[++i]));
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    Harness h;
    const std::set<pid_t> before = threadIds();
    std::string error;
    if (!h.start(&error)) {
        std::fprintf(stderr, "cannot start the simulated unit: %s\n", error.c_str());
        return 1;
    }
    // The simulated unit's threads: those that came with it.
    std::vector<pid_t> unitThreads;
    for (pid_t t : threadIds())
        if (!before.count(t))
            unitThreads.push_back(t);
    const auto unitCpuMs = [&] {
        double sum = 0;
        for (pid_t t : unitThreads)
            sum += threadCpuMs(t);
        return sum;
    };
    TFKsb &w = *h.window;

    const Kind kinds[] = {
        {"write configuration", 4500, 1500, [&] { w.SIWrite->click(); }},
        {"read configuration", 5100, 1500, [&] { w.SIRead->click(); }},
        {"control command", 600, 1500, [&] { w.Button1->click(); }},
        {"input/output state", 600, 0, [&] { w.Button2->click(); }},
        // Seven blocks read as a read does, without the last trip: 15 ticks.
        {"compare with unit", 4500, 1500, [&] { w.CompareUnit->trigger(); }},
        // The write's 15 ticks, then the read-back's 15.
        {"verified write", 9000, 1500,
         [&] {
             w.VerifyWrite->setChecked(true);
             w.SIWrite->click();
             w.VerifyWrite->setChecked(false);
         }},
    };
    // The unit holds what the window holds: the difference window has nothing to show and is
    // closed at once.
    w.AnswerDifferences = [](DifferenceWindow &) { return DifferenceWindow::Choice::Close; };
    const QString outcomes[] = {
        QStringLiteral("Все параметры успешно записаны!"),
        QStringLiteral("Чтение всех параметров успешно завершено!"),
        QStringLiteral("Команда успешно выполнена!"),
        QString(),
        QStringLiteral("Чтение всех параметров успешно завершено!"),
        QStringLiteral("Все параметры успешно записаны!"),
    };

    // Timed runs look at the window every 2 ms; the CPU is measured in runs of their own
    // without that look, so that it is the program's alone.
    const auto timed = [&](size_t k) {
        Sample s;
        ExchangeLog log;
        const qint64 pressedAt = log.elapsed();
        kinds[k].press();
        log.sample();
        const qint64 gone = log.goneAt();
        s.buttonToCloseMs = double((gone >= 0 ? gone : log.elapsed()) - pressedAt);
        const auto opened = log.firstWhere([](const Look &l) { return l.portOpen; });
        // The outcome: the tick that stops the kind's timer.
        const auto outcome = log.firstWhere([&](const Look &l) {
            return opened && l.ms > opened->ms && l.open && !l.timerRunning;
        });
        const bool closesAtOnce = outcomes[k].isEmpty();
        if (opened && outcome)
            s.openToOutcomeMs = double(outcome->ms - opened->ms);
        s.ok = opened && (closesAtOnce || (outcome && log.showed(outcomes[k]))) &&
               !log.firstWhere([](const Look &l) { return l.red; });
        return s;
    };
    const auto measured = [&](size_t k, Sample &s) {
        const double cpu0 = processCpuMs();
        const double unit0 = unitCpuMs();
        kinds[k].press();
        const double cpu = processCpuMs() - cpu0;
        s.unitCpuMs = unitCpuMs() - unit0;
        s.programCpuMs = cpu - s.unitCpuMs;
    };

    std::printf("exchange with the simulated unit, %d runs each (medians)\n", repeat);
    std::printf("%-20s %10s %10s %8s %10s %7s %8s %8s %7s %4s\n", "kind", "button-to", "ticks",
                "off by", "open-to", "ticks", "off by", "program", "unit", "ok");
    std::printf("%-20s %10s %10s %8s %10s %7s %8s %8s %7s %4s\n", "", "close, ms", "+pause,ms", "",
                "outcome,ms", "ms", "", "CPU, ms", "CPU, ms", "");
    for (size_t k = 0; k < (logOnly ? 0 : std::size(kinds)); ++k) {
        std::vector<double> close, outcome, program, unit;
        bool ok = true;
        for (int i = 0; i < repeat; ++i) {
            Sample s = timed(k);
            measured(k, s);
            close.push_back(s.buttonToCloseMs);
            outcome.push_back(s.openToOutcomeMs);
            program.push_back(s.programCpuMs);
            unit.push_back(s.unitCpuMs);
            ok = ok && s.ok;
        }
        const double pacing = kinds[k].pacingMs + kinds[k].pauseMs;
        const double ticks = kinds[k].pacingMs;
        // The state read closes in the tick that decodes the reply, so its outcome is not seen
        // apart from the closing.
        char outcomeText[32] = "-";
        char outcomeOff[32] = "-";
        if (median(outcome) > 0) {
            std::snprintf(outcomeText, sizeof outcomeText, "%.0f", median(outcome));
            std::snprintf(outcomeOff, sizeof outcomeOff, "%+.1f%%",
                          100.0 * (median(outcome) - ticks) / ticks);
        }
        std::printf("%-20s %10.0f %10.0f %+7.1f%% %10s %7.0f %8s %8.1f %7.1f %4s\n", kinds[k].name,
                    median(close), pacing, 100.0 * (median(close) - pacing) / pacing, outcomeText,
                    ticks, outcomeOff, median(program), median(unit), ok ? "yes" : "NO");
    }

    // Many state reads in a row: nothing may pile up.
    w.Button2->click();
    const size_t fd0 = entriesOf("/proc/self/fd");
    const size_t threads0 = entriesOf("/proc/self/task");
    const long rss0 = residentKb();
    int failed = 0;
    for (int i = 0; i < (logOnly ? 0 : rounds); ++i) {
        h.unit->setReg(518, uint16_t(i & 0xF));
        w.Button2->click();
        failed += w.VrBlinkLedBit1->isLit() == bool(i & 1) ? 0 : 1;
    }
    const size_t fd1 = entriesOf("/proc/self/fd");
    const size_t threads1 = entriesOf("/proc/self/task");
    const long rss1 = residentKb();
    std::printf("(button-to-close includes the port's closing, which waits 300 ms after the "
                "device is closed)\n");
    std::printf("\n%d state reads in a row (%d wrong LEDs)\n", rounds, failed);
    std::printf("  open descriptors  %zu -> %zu  (%+ld)\n", fd0, fd1, long(fd1) - long(fd0));
    std::printf("  threads           %zu -> %zu  (%+ld)\n", threads0, threads1,
                long(threads1) - long(threads0));
    std::printf("  resident memory   %ld kB -> %ld kB  (%+ld kB)\n", rss0, rss1, rss1 - rss0);

    // The lists of differences: two sets that differ in every setting that can, and the
    // pre-write check of a set with values between the steps.
    {
        using Clock = std::chrono::steady_clock;
        qvoksb::SettingsSet factory;
        qvoksb::SettingsSet other;
        for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue())
            other.setValue(r.id, r.kind == qvoksb::Kind::Numeric ? r.max - 1 : 1 - r.start);
        other.setValue(qvoksb::Setting::RxSpinEdit22, 250);
        const int lists = 2000;
        size_t rows = 0;
        const auto time = [&](auto &&build) {
            const auto t0 = Clock::now();
            for (int i = 0; i < lists; ++i)
                rows += build().size();
            return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / lists;
        };
        const double differing = time([&] {
            return qvoksb::differenceRows(factory, other, qvoksb::Compared::Configuration);
        });
        const double all = time([&] {
            return qvoksb::differenceRows(factory, other, qvoksb::Compared::Everything, true);
        });
        const double carry = time([&] { return qvoksb::valuesTheUnitCannotCarry(other); });
        std::printf("\nlists of differences (%d builds each; %zu rows in all)\n", lists, rows);
        std::printf("  %zu differing settings   %8.1f us per list\n",
                    qvoksb::differenceRows(factory, other, qvoksb::Compared::Configuration).size(),
                    differing);
        std::printf("  all 76 settings          %8.1f us per list\n", all);
        std::printf("  pre-write check          %8.1f us per list\n", carry);
    }

    // The exchange log.
    const auto writeCpuMs = [&] {
        const double cpu0 = processCpuMs();
        const double unit0 = unitCpuMs();
        w.SIWrite->click();
        if (w.TrafficLog && w.TrafficLog->recording())
            w.TrafficLog->flush(); // the last batch is the program's work too
        return processCpuMs() - cpu0 - (unitCpuMs() - unit0);
    };
    std::vector<double> closedCpu, openCpu;
    for (int i = 0; i < repeat; ++i)
        closedCpu.push_back(writeCpuMs());
    w.TrafficLogItem->trigger();
    TrafficLogWindow &log = *w.TrafficLog;
    for (int i = 0; i < repeat; ++i)
        openCpu.push_back(writeCpuMs());
    const int logLines = int(log.lines().size());

    // A read while the unit answers every request with 3000 bytes of noise: how long the event
    // loop was held up at most, looked at every 5 ms.
    ksb7sim::Faults flood;
    flood.burstBytes = 3000;
    h.unit->setFaults(flood);
    QElapsedTimer gapClock;
    qint64 lastLook = -1, longestGapMs = 0;
    QTimer looker;
    looker.setInterval(5);
    looker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&looker, &QTimer::timeout, [&] {
        const qint64 now = gapClock.elapsed();
        if (lastLook >= 0)
            longestGapMs = std::max(longestGapMs, now - lastLook);
        lastLook = now;
    });
    ExchangeLog floodAbort([&](TFrs232 &x, const Look &l) {
        if (l.ms < 4000)
            return false;
        looker.stop(); // the port's closing is no part of the flood
        x.BExit->click();
        return true;
    });
    gapClock.start();
    looker.start();
    w.SIRead->click();
    looker.stop();
    h.unit->setFaults({});
    const int floodLines = int(log.lines().size()) - logLines;

    // The log full: 5000 lines of an 11-register write and its echo.
    log.clearLines();
    log.flush();
    QCoreApplication::processEvents();
    const long rssEmpty = residentKb();
    uint8_t request[qvoksb::modbus::writeRequestBytes(11)];
    const uint16_t values[11] = {1, 4, 1, 10, 100, 1, 40, 0, 0, 4, 100};
    const size_t requestBytes = qvoksb::modbus::buildWriteMultiple(request, 1, 384, values);
    const std::span<const uint8_t> frame(request, requestBytes);
    for (int i = 0; i < TrafficLogWindow::maxLines / 2; ++i) {
        log.sent(frame);
        log.received(frame, frame.first(8), QTime::currentTime());
    }
    log.flush();
    QCoreApplication::processEvents();
    const long rssFull = residentKb();
    qint64 textChars = 0;
    for (const QString &line : log.lines())
        textChars += line.size() + 1;

    std::printf("\nexchange log (%d writes each, medians)\n", repeat);
    std::printf("  program CPU per write, log closed  %.1f ms\n", median(closedCpu));
    std::printf("  program CPU per write, log open    %.1f ms  (%+.1f ms, %d lines per write)\n",
                median(openCpu), median(openCpu) - median(closedCpu), logLines / repeat);
    std::printf("  read against a flood of noise (3000 bytes per reply, 4 s, %d lines): longest "
                "hold-up of the event loop %lld ms\n",
                floodLines, static_cast<long long>(longestGapMs));
    std::printf("  %d lines (%lld characters of text): resident memory %ld kB -> %ld kB "
                "(%+ld kB)\n",
                TrafficLogWindow::maxLines, static_cast<long long>(textChars), rssEmpty, rssFull,
                rssFull - rssEmpty);

    h.stop();
    return failed == 0 ? 0 : 2;
}
