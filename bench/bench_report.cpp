// How long building the settings report as PDF takes, and how large the PDF is: for the factory
// settings, and for the largest values with the longest last-trip texts.
//
//     build/bench_report [prefix]   # also writes prefix-factory.pdf and prefix-largest.pdf
#include "Main.h"
#include "Messages.h"
#include "SettingsReport.h"
#include "report_sets.h"

#include <QApplication>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using Clock = std::chrono::steady_clock;

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Messages::hook = [](Messages::Kind, const QString &) { return true; };
    TFKsb w;
    const QDateTime when(QDate(2026, 12, 8), QTime(14, 5));

    const auto run = [&](const char *name, const char *file, const qvoksb::SettingsSet &set) {
        w.applySettings(set);
        std::vector<double> ms;
        QByteArray pdf;
        for (int i = 0; i < 7; ++i) {
            const auto start = Clock::now();
            pdf = reportPdf(settingsReport(w.currentSettings(), w.reportHeader(), when));
            ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        std::sort(ms.begin(), ms.end());
        std::printf("%-36s build %6.1f ms median (%6.1f fastest), PDF %6.1f KB\n", name, ms[3],
                    ms.front(), double(pdf.size()) / 1024.0);
        if (argc > 1) {
            QFile out(QString::fromLocal8Bit(argv[1]) + QLatin1String(file));
            if (!out.open(QIODevice::WriteOnly) || out.write(pdf) != pdf.size())
                std::exit(1);
        }
    };
    run("report, factory settings", "-factory.pdf", qvoksb::SettingsSet());
    run("report, every setting changed", "-changed.pdf", changedSettings());
    run("report, largest values, long texts", "-largest.pdf", largestSettings());
    return 0;
}
