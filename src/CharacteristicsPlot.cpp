#include "CharacteristicsPlot.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

using namespace qvoksb::characteristics;

namespace
{

QString text(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

// Axis numbers: whole numbers without grouping, fractions with a decimal comma.
QString axisNumber(double v)
{
    if (v >= 1 && v == std::floor(v))
        return QString::number(qRound64(v));
    return QString::number(v, 'g', 3).replace(QLatin1Char('.'), QLatin1Char(','));
}

QColor stageColor(Stage stage)
{
    switch (stage) {
    case Stage::TimeDependent:
        return QColor(0, 90, 200);
    case Stage::CutOff:
        return QColor(200, 30, 30);
    case Stage::Alarm:
        return QColor(220, 120, 0);
    }
    return Qt::black;
}

QPen stagePen(Stage stage, double unit)
{
    QPen pen(stageColor(stage), 1.6 * unit);
    if (stage == Stage::Alarm)
        pen.setStyle(Qt::DashLine);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

QPen resultingPen(double unit)
{
    QPen pen(QColor(0, 0, 0, 110), 6 * unit);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::FlatCap);
    return pen;
}

// The curve as the plot draws it: down from the top of the frame at the stage's start (below it
// the stage does not operate), then along its points.
QPolygonF curvePolygon(const CharacteristicsLayout &l, const Polyline &points)
{
    QPolygonF polygon;
    if (points.empty())
        return polygon;
    polygon.reserve(int(points.size()) + 1);
    polygon << QPointF(l.xOf(points.front().currentA), l.area.top());
    for (const Point &p : points)
        polygon << QPointF(l.xOf(p.currentA), l.yOf(p.timeS));
    return polygon;
}

double decadeOf(double v)
{
    return std::pow(10.0, std::floor(std::log10(v) + 1e-9));
}

// The values 1 to 9 times each power of ten within [from, to]; `decade` marks the powers.
template <typename F> void forEachGridValue(double from, double to, F &&f)
{
    for (double decade = decadeOf(from); decade <= to * 1.0001; decade *= 10)
        for (int step = 1; step <= 9; ++step) {
            const double v = decade * step;
            if (v > to * 1.0001)
                return;
            if (v >= from * 0.9999)
                f(v, step == 1);
        }
}

struct LegendEntry {
    QPen pen;
    QString caption;
};

std::vector<LegendEntry> legendEntries(const PlotData &data, double unit)
{
    std::vector<LegendEntry> entries;
    if (!data.resulting.empty())
        entries.push_back({resultingPen(unit), QStringLiteral("Отключение (наименьшее время)")});
    for (const StageCurve &curve : data.stages)
        entries.push_back({stagePen(curve.stage, unit), text(curve.legend)});
    return entries;
}

constexpr double legendLineEm = 1.45;

} // namespace

double CharacteristicsLayout::xOf(double currentA) const
{
    const double f = std::log(currentA / currentMinA) / std::log(currentMaxA / currentMinA);
    return area.left() + f * area.width();
}

double CharacteristicsLayout::yOf(double timeS) const
{
    if (timeS <= 0 && zeroBandPx > 0)
        return area.bottom() - zeroBandPx / 2;
    const double t = std::clamp(timeS, timeMinS, timeMaxS);
    const double f = std::log(t / timeMinS) / std::log(timeMaxS / timeMinS);
    return logBottom() - f * (area.height() - zeroBandPx);
}

double CharacteristicsLayout::currentAt(double x) const
{
    return currentMinA * std::pow(currentMaxA / currentMinA, (x - area.left()) / area.width());
}

double CharacteristicsLayout::timeAt(double y) const
{
    if (y > logBottom())
        return 0;
    return timeMinS *
           std::pow(timeMaxS / timeMinS, (logBottom() - y) / (area.height() - zeroBandPx));
}

CharacteristicsLayout characteristicsLayout(const QRectF &rect, const PlotData &data)
{
    CharacteristicsLayout l;
    l.fontPx = std::max(11.0, std::min(rect.width(), rect.height()) / 50);
    l.currentMinA = data.currentMinA;
    l.currentMaxA = data.currentMaxA;
    l.timeMinS = data.timeMinS;
    l.timeMaxS = data.timeMaxS;
    const double f = l.fontPx;
    // Below the frame: the current numbers, the axis title, the base current and the legend.
    const double legendLines = double(legendEntries(data, 1).size());
    l.area = rect.adjusted(f * 6, f * 4.2, -f * 1.8, -f * (4.9 + legendLineEm * legendLines));
    l.zeroBandPx = data.zeroTime ? f * 3.0 : 0;
    return l;
}

void paintCharacteristics(QPainter &painter, const QRectF &rect, const PlotData &data,
                          const QString &title, std::vector<QRectF> *textBoxes)
{
    painter.save();
    CharacteristicsLayout l = characteristicsLayout(rect, data);
    if (!title.isEmpty())
        l.area.setTop(l.area.top() + l.fontPx * 1.6);
    const double f = l.fontPx;
    const double unit = f / 12;
    const QRectF &a = l.area;

    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect, Qt::white);
    QFont font = painter.font();
    font.setPixelSize(int(std::lround(f)));
    painter.setFont(font);
    const QFontMetricsF metrics(font, painter.device());
    const QColor ink(30, 30, 30);

    // Every text goes through here: kept inside the rectangle, recorded for the caller.
    const auto label = [&](QRectF box, int flags, const QString &words) {
        // Never cut to its box: a text that would be is moved or made to fit instead.
        flags |= Qt::TextDontClip;
        QRectF used = painter.boundingRect(box, flags, words);
        // A text wider than the room left to it at an edge moves in, rather than out of the
        // picture.
        const QRectF inside = painter.transform().inverted().mapRect(rect);
        if (used.left() < inside.left())
            box.translate(inside.left() - used.left(), 0);
        else if (used.right() > inside.right())
            box.translate(inside.right() - used.right(), 0);
        used = painter.boundingRect(box, flags, words);
        painter.drawText(box, flags, words);
        if (textBoxes)
            textBoxes->push_back(painter.transform().mapRect(used));
        return used;
    };
    // A text fitted to `width`: the font made smaller, down to three quarters, then elided.
    const auto fitted = [&](const QString &words, double width) {
        QFont small = painter.font();
        for (double scale = 1; scale >= 0.74; scale -= 0.05) {
            small.setPixelSize(std::max(6, int(std::lround(f * scale))));
            if (QFontMetricsF(small, painter.device()).horizontalAdvance(words) <= width) {
                painter.setFont(small);
                return words;
            }
        }
        painter.setFont(small);
        return QFontMetricsF(small, painter.device()).elidedText(words, Qt::ElideRight, width);
    };

    if (!title.isEmpty()) {
        QFont bold = font;
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(ink);
        label(QRectF(rect.left(), rect.top() + f * 0.3, rect.width(), f * 1.6),
              Qt::AlignHCenter | Qt::AlignTop, title);
        painter.setFont(font);
    }

    // Grid: decades bold, the steps between them faint.
    forEachGridValue(l.currentMinA, l.currentMaxA, [&](double v, bool decade) {
        painter.setPen(QPen(decade ? QColor(170, 170, 170) : QColor(225, 225, 225), unit));
        const double x = l.xOf(v);
        painter.drawLine(QPointF(x, a.top()), QPointF(x, a.bottom()));
    });
    forEachGridValue(l.timeMinS, l.timeMaxS, [&](double v, bool decade) {
        painter.setPen(QPen(decade ? QColor(170, 170, 170) : QColor(225, 225, 225), unit));
        const double y = l.yOf(v);
        painter.drawLine(QPointF(a.left(), y), QPointF(a.right(), y));
    });
    if (l.zeroBandPx > 0)
        painter.fillRect(QRectF(a.left(), l.logBottom(), a.width(), l.zeroBandPx),
                         QColor(246, 246, 246));
    painter.setPen(QPen(ink, unit));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(a);

    // Primary current along the bottom: the decades and the ends; with few decades the steps
    // 2 and 5 as well, each only where it does not crowd the one before.
    const bool fewCurrentDecades = l.currentMaxA / l.currentMinA <= 1000.5;
    double lastRight = -1e30;
    forEachGridValue(l.currentMinA, l.currentMaxA, [&](double v, bool decade) {
        const int step = int(std::lround(v / decadeOf(v)));
        const bool end =
            std::fabs(v / l.currentMinA - 1) < 1e-6 || std::fabs(v / l.currentMaxA - 1) < 1e-6;
        if (!decade && !end && !(fewCurrentDecades && (step == 2 || step == 5)))
            return;
        const double x = l.xOf(v);
        const QString number = axisNumber(v);
        const double w = metrics.horizontalAdvance(number);
        const double right = std::min(x + w / 2, rect.right());
        if (right - w < lastRight + f * 0.5)
            return;
        painter.drawLine(QPointF(x, a.bottom()), QPointF(x, a.bottom() + f * 0.3));
        lastRight = label(QRectF(x - f * 4, a.bottom() + f * 0.3, f * 8, f * 1.4),
                          Qt::AlignHCenter | Qt::AlignTop, number)
                        .right();
    });
    label(QRectF(a.left(), a.bottom() + f * 1.7, a.width(), f * 1.4),
          Qt::AlignHCenter | Qt::AlignTop, QStringLiteral("Первичный ток, А"));
    {
        const QString base = fitted(
            QStringLiteral("Базовый ток (100 %ТТ): %1").arg(text(data.baseText)), rect.width() - f);
        label(QRectF(rect.left() + f * 0.5, a.bottom() + f * 3.2, rect.width() - f, f * 1.4),
              Qt::AlignLeft | Qt::AlignTop, base);
        painter.setFont(font);
    }

    // Time along the left, with the same care; the 0 s band's "0" keeps its room.
    const bool fewTimeDecades = l.timeMaxS / l.timeMinS <= 1000.5;
    const double zeroY = l.zeroBandPx > 0 ? l.yOf(0) : 1e30;
    double lastTop = zeroY - metrics.height() * 0.5;
    std::vector<double> shownTimes;
    forEachGridValue(l.timeMinS, l.timeMaxS, [&](double v, bool decade) {
        const int step = int(std::lround(v / decadeOf(v)));
        if (!decade && !(fewTimeDecades && (step == 2 || step == 5)))
            return;
        const double y = l.yOf(v);
        if (y + metrics.height() * 0.5 > lastTop - f * 0.15)
            return;
        painter.drawLine(QPointF(a.left() - f * 0.3, y), QPointF(a.left(), y));
        lastTop = label(QRectF(a.left() - f * 4.6, y - f * 0.7, f * 4.2, f * 1.4),
                        Qt::AlignRight | Qt::AlignVCenter, axisNumber(v))
                      .top();
    });
    if (l.zeroBandPx > 0) {
        // 0 s has no place on the log scale: the band below it is set off by a break of the
        // axis, two short strokes across each side of the frame, as a scale that is cut.
        painter.drawLine(QPointF(a.left() - f * 0.3, zeroY), QPointF(a.left(), zeroY));
        label(QRectF(a.left() - f * 4.6, zeroY - f * 0.7, f * 4.2, f * 1.4),
              Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
        const double y = l.logBottom() + l.zeroBandPx * 0.25;
        for (double x : {a.left(), a.right()}) {
            painter.setPen(QPen(Qt::white, unit * 4));
            painter.drawLine(QPointF(x, y - f * 0.25), QPointF(x, y + f * 0.25));
            painter.setPen(QPen(ink, unit));
            for (double dy : {-f * 0.25, f * 0.25})
                painter.drawLine(QPointF(x - f * 0.4, y + dy + f * 0.2),
                                 QPointF(x + f * 0.4, y + dy - f * 0.2));
        }
    }
    painter.save();
    painter.translate(rect.left() + f * 0.4, a.center().y());
    painter.rotate(-90);
    label(QRectF(-a.height() / 2, 0, a.height(), f * 1.4), Qt::AlignCenter,
          fitted(QStringLiteral("Время срабатывания, с"), a.height()));
    painter.restore();
    painter.setFont(font);

    // Multiples of the pick-up along the top, as many as fit without overlapping.
    if (data.referenceA > 0) {
        static const double multiples[] = {0.1, 0.2, 0.5, 1,  1.5, 2,   3,   5,   7,
                                           10,  20,  30,  50, 100, 200, 500, 1000};
        double lastMultiple = -1e30;
        for (double m : multiples) {
            const double x = l.xOf(m * data.referenceA);
            if (x < a.left() - 0.5 || x > a.right() + 0.5)
                continue;
            const QString number = axisNumber(m);
            const double w = metrics.horizontalAdvance(number);
            const double right = std::min(x + w / 2, rect.right());
            if (right - w < lastMultiple + f * 0.6)
                continue;
            painter.drawLine(QPointF(x, a.top()), QPointF(x, a.top() - f * 0.3));
            lastMultiple = label(QRectF(x - f * 4, a.top() - f * 2.05, f * 8, f * 1.4),
                                 Qt::AlignHCenter | Qt::AlignBottom, number)
                               .right();
        }
        // The long title where it fits, else shorter ones.
        const QString reference = text(formatSignificant(data.referenceA));
        QString heading = QStringLiteral("Кратность к току срабатывания Iср = %1 А (%2)")
                              .arg(reference, text(stageName(data.referenceStage)).toLower());
        if (metrics.horizontalAdvance(heading) > rect.width() - f)
            heading = QStringLiteral("Кратность к току срабатывания Iср = %1 А").arg(reference);
        label(QRectF(a.left(), a.top() - f * 3.3, a.width(), f * 1.4),
              Qt::AlignHCenter | Qt::AlignTop, fitted(heading, rect.width() - f));
        painter.setFont(font);
    }

    // The curves, inside the frame only.
    painter.save();
    painter.setClipRect(a);
    painter.setBrush(Qt::NoBrush);
    if (!data.resulting.empty()) {
        painter.setPen(resultingPen(unit));
        painter.drawPolyline(curvePolygon(l, data.resulting));
    }
    for (const StageCurve &curve : data.stages) {
        painter.setPen(stagePen(curve.stage, unit));
        painter.drawPolyline(curvePolygon(l, curve.points));
    }
    painter.restore();
    for (const StageCurve &curve : data.stages) {
        if (curve.stage != Stage::Alarm || curve.points.empty())
            continue;
        // The alarm is marked where it ends on the right, above its line, or below it when
        // the line runs along the top of the frame.
        const double y = l.yOf(curve.points.back().timeS);
        const bool below = y - f * 1.5 < a.top();
        const QRectF box(a.right() - f * 8.4, below ? y + f * 0.1 : y - f * 1.5, f * 8, f * 1.4);
        painter.setPen(stageColor(Stage::Alarm));
        label(box, Qt::AlignRight | (below ? Qt::AlignTop : Qt::AlignBottom),
              QStringLiteral("сигнал"));
    }

    // Legend under the plot, one stage a line.
    const std::vector<LegendEntry> entries = legendEntries(data, unit);
    if (entries.empty()) {
        painter.setPen(ink);
        label(a, Qt::AlignCenter, QStringLiteral("Ни одна ступень не используется"));
    }
    const double sample = f * 2.2;
    const double lineH = f * legendLineEm;
    const double left = rect.left() + f * 0.5;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const double y = a.bottom() + f * 4.7 + lineH * (double(i) + 0.5);
        painter.setPen(entries[i].pen);
        painter.drawLine(QPointF(left, y), QPointF(left + sample, y));
        painter.setPen(ink);
        const double room = rect.right() - (left + sample + f * 0.5) - f * 0.3;
        const QString caption = fitted(entries[i].caption, room);
        label(QRectF(left + sample + f * 0.5, y - lineH / 2, room, lineH),
              Qt::AlignLeft | Qt::AlignVCenter, caption);
        painter.setFont(font);
    }
    painter.restore();
}
