// How long saving and opening one configuration file takes on the main window, and what opening a
// 10 MB file costs in time and memory (it is refused: no configuration is that large).
//
// The files go to the temporary folder (TMPDIR). On a disk, a save's time is mostly the two
// syncs (the file, then its folder) that make the replacement durable; on tmpfs it is the work
// of building the file alone.
#include "Main.h"
#include "Messages.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace
{

double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
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
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    int messages = 0;
    Messages::hook = [&messages](Messages::Kind, const QString &) {
        ++messages;
        return true;
    };

    TFKsb w;
    // Settings away from the start values, so that opening changes every control back and forth.
    w.RxSpinEdit9->setValueFromProgram(12345LL);
    w.CheckBox13->setChecked(true);
    w.SetListIndex(w.ComboBox3, 0);
    w.EEvent->setText(QStringLiteral("МТЗ в фазах"));
    const QString file = dir.filePath(QStringLiteral("bench.txt"));
    const QString other = dir.filePath(QStringLiteral("other.txt"));
    w.SaveDialog1.FileName = other;
    w.SaveConfigFile();
    w.RxSpinEdit9->setValueFromProgram(1000LL);
    w.CheckBox13->setChecked(false);
    w.SetListIndex(w.ComboBox3, 1);
    w.SaveDialog1.FileName = file;

    constexpr int rounds = 200;
    std::vector<double> saves, opens;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        w.SaveConfigFile();
        saves.push_back(millisecondsSince(start));
        w.OpenDialog1.FileName = (i % 2) ? file : other;
        start = Clock::now();
        w.LoadConfigFile();
        opens.push_back(millisecondsSince(start));
    }
    std::printf("save of one file: median %.3f ms, worst %.3f ms (%d rounds)\n", median(saves),
                *std::max_element(saves.begin(), saves.end()), rounds);
    std::printf("open of one file: median %.3f ms, worst %.3f ms (%d rounds)\n", median(opens),
                *std::max_element(opens.begin(), opens.end()), rounds);

    // Ten megabytes of lines that name nothing, then a complete file.
    const QString big = dir.filePath(QStringLiteral("big.txt"));
    {
        QFile f(big);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray line = "key=value value value value value value value value\r\n";
        f.write("[junk]\r\n");
        while (f.size() < 10 * 1024 * 1024)
            f.write(line);
        QFile small(file);
        if (!small.open(QIODevice::ReadOnly))
            return 1;
        f.write(small.readAll());
    }
    const long before = peakKilobytes();
    const int messagesBefore = messages;
    w.OpenDialog1.FileName = big;
    const auto start = Clock::now();
    w.LoadConfigFile();
    const double ms = millisecondsSince(start);
    std::printf("open of a 10 MB file: %.3f ms, peak memory grew by %ld kB, %d message(s)\n", ms,
                peakKilobytes() - before, messages - messagesBefore);
    Messages::hook = nullptr;
    return 0;
}
