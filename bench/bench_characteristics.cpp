// How long the time-current plot takes to paint at 800 × 600 on an image and on a PDF page, how
// long its points take to compute, and how long the test sheet takes to rebuild, in the core and
// in the window's table.
#include "CharacteristicsPlot.h"
#include "CharacteristicsWindow.h"
#include "Main.h"
#include "bench_home.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace qvoksb::characteristics;

namespace
{

struct Figures {
    double medianMs, maxMs;
};

Figures measure(int runs, const std::function<void()> &work)
{
    work(); // warm-up: fonts, glyph caches
    std::vector<double> ms;
    ms.reserve(std::size_t(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

void print(const char *what, const Figures &f)
{
    std::printf("  %-52s median %8.3f ms   max %8.3f ms\n", what, f.medianMs, f.maxMs);
}

// A feeder with all three stages over four decades of current: 1000 A CTs, IEC extremely inverse
// from 50 % at multiplier 2.0, a cut-off at 1800 % after 0.1 s, an alarm at 10 % after 60 s.
Settings wideSettings()
{
    Settings s;
    s.phaseCtPrimaryA = 1000;
    s.phases.timeDependent = {true, 12, 50, 20, 1000};
    s.phases.cutOff = {true, 1800, 100};
    s.phases.alarm = {true, 10, 60000};
    s.earth = s.phases;
    return s;
}

} // namespace

int main(int argc, char *argv[])
{
    const BenchHome home;
    QApplication app(argc, argv);

    const Settings settings = wideSettings();
    const PlotData data = plotData(settings, Protection::Phases);
    std::size_t points = data.resulting.size();
    for (const StageCurve &c : data.stages)
        points += c.points.size();
    std::printf("Time-current plot, three stages and the resulting characteristic, %zu points\n",
                points);

    print("plot points (core)",
          measure(2000, [&] { (void)plotData(settings, Protection::Phases); }));

    QImage image(800, 600, QImage::Format_ARGB32_Premultiplied);
    print("paint 800 x 600 on a QImage", measure(300, [&] {
              QPainter p(&image);
              paintCharacteristics(p, QRectF(0, 0, 800, 600), data, QStringLiteral("Фазы"));
          }));

    // A PDF page at 300 dpi with the plot in an 800 × 600 rectangle of the page's units: the
    // painting alone, on pages of one open document, and a whole one-page document written out.
    {
        QBuffer pdf;
        pdf.open(QIODevice::WriteOnly);
        QPdfWriter writer(&pdf);
        writer.setResolution(300);
        QPainter p(&writer);
        bool first = true;
        print("paint 800 x 600 on a PDF page (300 dpi)", measure(300, [&] {
                  if (!first)
                      writer.newPage();
                  first = false;
                  paintCharacteristics(p, QRectF(0, 0, 800, 600), data, QStringLiteral("Фазы"));
              }));
        p.end();
    }
    qint64 pdfBytes = 0;
    print("one-page PDF document written to memory", measure(50, [&] {
              QBuffer pdf;
              pdf.open(QIODevice::WriteOnly);
              {
                  QPdfWriter writer(&pdf);
                  writer.setResolution(300);
                  QPainter p(&writer);
                  paintCharacteristics(p, QRectF(0, 0, 800, 600), data, QStringLiteral("Фазы"));
              }
              pdfBytes = pdf.size();
          }));
    std::printf("  (one page holds %lld bytes)\n", static_cast<long long>(pdfBytes));
    // bench_characteristics <file.pdf> also leaves the page behind, to look at.
    if (argc > 1) {
        QPdfWriter writer(QString::fromLocal8Bit(argv[1]));
        writer.setResolution(300);
        QPainter p(&writer);
        paintCharacteristics(p, QRectF(0, 0, 800, 600), data, QStringLiteral("Фазы"));
    }

    print("test sheet (core) and its tab-separated text",
          measure(5000, [&] { (void)sheetText(testSheet(settings, Protection::Phases, 5)); }));

    // The window's own refresh after a change of one setting: points, sheet and table.
    TFKsb window;
    FKsb = &window;
    CharacteristicsWindow curves(window.currentSettings(), &window);
    curves.show();
    QApplication::processEvents();
    print("window refresh (points, sheet, table)",
          measure(300, [&] { curves.setSettings(window.currentSettings()); }));
    FKsb = nullptr;
    return 0;
}
