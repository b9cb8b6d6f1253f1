// How long the configurator takes from the start of its process to the splash on screen, and
// how much memory the process holds at its peak once the main window is shown.
//
// The start of the process is read from the kernel (/proc/self/stat, in clock ticks since boot),
// so the time includes loading the program and its libraries, not only main().
#include "About.h"
#include "Main.h"
#include "bench_home.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace
{

double secondsSinceBoot()
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// The process's start, in seconds since boot; field 22 of /proc/self/stat.
double processStartSinceBoot()
{
    std::ifstream in("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The command name may hold spaces; the fields after it start behind the last ')'.
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i)
        rest >> field;
    return double(std::stoull(field)) / double(sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char *argv[])
{
    const BenchHome home;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Конфигуратор KSB-7"));
    QTranslator qtbase;
    if (qtbase.load(QStringLiteral("qtbase_ru"),
                    QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtbase);

    TFAbout::ShowMilliseconds = 50;
    double splashAt = 0;
    TFKsb window;
    FKsb = &window;
    // The first event loop turn inside the splash's modal showing: the splash is on screen.
    QTimer::singleShot(0, [&] { splashAt = secondsSinceBoot(); });
    window.ShowAtStart();
    QApplication::processEvents();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double startMs = (splashAt - processStartSinceBoot()) * 1000.0;
    std::printf("process start to splash on screen: %.0f ms (clock tick %ld ms; target < 300 ms)\n",
                startMs, 1000 / sysconf(_SC_CLK_TCK));
    std::printf("peak resident memory with the main window shown: %.1f MB (target < 80 MB)\n",
                double(usage.ru_maxrss) / 1024.0);
    FKsb = nullptr;
    return 0;
}
