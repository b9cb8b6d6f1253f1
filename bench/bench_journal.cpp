// How long opening a journal of 100 000 records takes: reading and parsing the file, and the
// window "Журнал работ" listing it. The journal goes to the temporary folder (TMPDIR); records
// look like a commissioning day's, with a file path, a message and a digest each. First, what
// 10 MB of junk lines cost: the time of a read and the process's peak memory after it.
#include "JournalWindow.h"
#include "core/records/journal.h"

#include <QApplication>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace
{

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakKb()
{
    struct rusage usage {
    };
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const std::string path = dir.filePath(QStringLiteral("journal.jsonl")).toStdString();

    // 10 MB of "x" lines, five million damaged lines, before anything else raises the peak.
    {
        std::ofstream(path, std::ios::binary) << [] {
            std::string lines;
            for (int i = 0; i < 5000000; ++i)
                lines += "x\n";
            return lines;
        }();
        const long before = peakKb();
        const Clock::time_point start = Clock::now();
        const qvoksb::journal::Reading junk = qvoksb::journal::read(path);
        const double readMs = millisecondsSince(start);
        std::printf("10 MB of junk lines: %zu of 5000000 kept (older left out: %s), read in "
                    "%.0f ms, peak memory %ld kB -> %ld kB\n",
                    junk.records.size(), junk.older ? "yes" : "no", readMs, before, peakKb());
    }
    constexpr int Records = 100000;
    {
        std::ofstream out(path, std::ios::binary);
        const char *kinds[] = {"write", "read", "compare", "command"};
        for (int i = 0; i < Records; ++i) {
            qvoksb::journal::Record r;
            r.time = "2026-12-" + std::to_string(1 + i % 28) + "T14:05:09+03:00";
            r.program = i % 3 ? "qvoksb" : "ksb7ctl";
            r.port = "COM3";
            r.address = 1 + i % 16;
            r.kind = kinds[i % 4];
            r.outcome = "ok";
            r.message = "Все параметры успешно записаны!";
            r.source = "файл /home/наладчик/подстанция 110 кВ/фидер " + std::to_string(i) + ".txt";
            r.sha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
            r.differences = i % 4 == 2 ? i % 5 : -1;
            out << qvoksb::journal::recordLine(r) << '\n';
        }
    }
    const auto size = std::ifstream(path, std::ios::binary | std::ios::ate).tellg();

    std::vector<double> reads, windows;
    for (int run = 0; run < 5; ++run) {
        Clock::time_point start = Clock::now();
        const qvoksb::journal::Reading reading = qvoksb::journal::read(path);
        reads.push_back(millisecondsSince(start));
        if (int(reading.records.size()) != Records || reading.damaged) {
            std::fprintf(stderr, "read %zu records, %d damaged\n", reading.records.size(),
                         reading.damaged);
            return 1;
        }
        start = Clock::now();
        JournalWindow window(QString::fromStdString(path));
        window.show();
        app.processEvents();
        windows.push_back(millisecondsSince(start));
    }
    std::printf("journal of %d records, %.1f MB\n", Records, double(size) / 1e6);
    std::printf("read and parse:            %7.1f ms (median of 5)\n", median(reads));
    std::printf("\"Журнал работ\" open, shown: %7.1f ms (median of 5)\n", median(windows));
    return 0;
}
