#pragma once
// The time-current plot on log-log axes: trip time in seconds against the primary current, with a
// second current scale in multiples of the pick-up. One function paints it onto any paint device
// (a widget, an image, a PDF page), so the window and the printed report show the same picture.
#include "core/settings/characteristics.h"

#include <QRectF>
#include <QString>

#include <vector>

class QPainter;

// Where the axes stand inside a rectangle, and the mapping between values and points.
struct CharacteristicsLayout {
    QRectF area; // the plot's frame
    double fontPx = 12;
    double currentMinA = 1, currentMaxA = 10, timeMinS = 0.01, timeMaxS = 10;
    // A time of 0 has no place on a log scale: when a stage operates without delay, a band at
    // the bottom of the frame, below the smallest time, stands for 0 s.
    double zeroBandPx = 0;
    double logBottom() const { return area.bottom() - zeroBandPx; }

    // Times below the axis stand on its bottom, 0 s in the middle of the band.
    double xOf(double currentA) const;
    double yOf(double timeS) const;
    double currentAt(double x) const;
    double timeAt(double y) const;
};

CharacteristicsLayout characteristicsLayout(const QRectF &rect,
                                            const qvoksb::characteristics::PlotData &data);

// Paints the whole picture into `rect`: frame, grid, both current scales, the curves of the
// active stages, the resulting characteristic, the legend and the base current under the plot.
// Sizes of text and lines follow the rectangle, so a PDF page at any resolution looks the same.
// No text leaves the rectangle or overlaps another; `textBoxes`, when given, receives the box of
// every text painted, in the painter's device coordinates.
void paintCharacteristics(QPainter &painter, const QRectF &rect,
                          const qvoksb::characteristics::PlotData &data,
                          const QString &title = QString(),
                          std::vector<QRectF> *textBoxes = nullptr);
