#include "ReportFlow.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

namespace report = qvoksb::report;

namespace
{

QString qs(const std::string &utf8)
{
    return QString::fromStdString(utf8);
}

// Report texts on one line each: a line break of a text read from a file or the unit would only
// confuse the layout.
QString oneLine(QString text)
{
    for (QChar &c : text)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return text;
}

QFont reportFont(double points, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

const QColor ink(0, 0, 0);
const QColor grey(125, 125, 125);
const QColor ruleColour(90, 90, 90);
const QColor headerFill(228, 228, 228);

// Page geometry in millimetres.
constexpr double footerMm = 8;
constexpr double cellPadMm = 1.2;
constexpr double blockGapMm = 5;

} // namespace

// A text wrapped to a width: at word boundaries, and inside a word that alone is wider.
class ReportFlow::Text
{
public:
    Text(const QString &text, const QFont &font, double widthPx, QPaintDevice *device, bool centred)
        : layout_(oneLine(text), font, device)
    {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        option.setAlignment(centred ? Qt::AlignHCenter : Qt::AlignLeft);
        layout_.setTextOption(option);
        layout_.beginLayout();
        for (QTextLine line = layout_.createLine(); line.isValid(); line = layout_.createLine()) {
            line.setLineWidth(widthPx);
            line.setPosition(QPointF(0, height_));
            height_ += line.height();
        }
        layout_.endLayout();
    }
    double height() const { return height_; }
    void draw(QPainter &p, QPointF topLeft) const { layout_.draw(&p, topLeft); }

private:
    QTextLayout layout_;
    double height_ = 0;
};

ReportFlow::ReportFlow(QPagedPaintDevice &device, QPainter *painter, int pageCount, QString footer)
    : device_(device), painter_(painter), pageCount_(pageCount), footer_(std::move(footer)),
      body_(reportFont(8.5)), bold_(reportFont(8.5, true)), small_(reportFont(7.5)),
      heading_(reportFont(11, true)), title_(reportFont(16, true))
{
    widthPx_ = device_.width();
    bottomPx_ = device_.height() - mmPx(footerMm);
}

ReportFlow::~ReportFlow() = default;

double ReportFlow::mmPx(double mm) const
{
    return mm * device_.logicalDpiY() / 25.4;
}

std::unique_ptr<ReportFlow::Text> ReportFlow::text(const QString &text, const QFont &font,
                                                   double widthPx, bool centred) const
{
    return std::make_unique<Text>(text, font, widthPx, &device_, centred);
}

double ReportFlow::place(double heightPx)
{
    if (y_ > 0 && y_ + heightPx > bottomPx_)
        newPage();
    const double top = y_;
    y_ += heightPx;
    return top;
}

void ReportFlow::newPage()
{
    footer();
    if (painter_)
        device_.newPage();
    ++page_;
    y_ = 0;
}

void ReportFlow::pageBreak()
{
    if (y_ > 0)
        newPage();
}

void ReportFlow::finish()
{
    footer();
}

void ReportFlow::footer()
{
    if (!painter_)
        return;
    QPainter &p = *painter_;
    const double top = device_.height() - mmPx(footerMm) + mmPx(3);
    p.setPen(QPen(ruleColour, mmPx(0.2)));
    p.drawLine(QPointF(0, top), QPointF(widthPx_, top));
    p.setPen(grey);
    p.setFont(small_);
    const QString number = QStringLiteral("Стр. %1 из %2").arg(page_).arg(pageCount_);
    const QFontMetricsF metrics(small_, &device_);
    const double numberWidth = metrics.horizontalAdvance(number);
    const double baseline = top + mmPx(1) + metrics.ascent();
    p.drawText(QPointF(widthPx_ - numberWidth, baseline), number);
    const QString left =
        metrics.elidedText(footer_, Qt::ElideMiddle, widthPx_ - numberWidth - mmPx(8));
    p.drawText(QPointF(0, baseline), left);
}

void ReportFlow::paragraph(const QString &caption, const QFont &font, double gapMm)
{
    const auto t = text(caption, font, widthPx_);
    const double top = place(t->height() + mmPx(gapMm));
    if (painter_) {
        painter_->setPen(ink);
        t->draw(*painter_, QPointF(0, top));
    }
}

void ReportFlow::title(const QString &caption)
{
    paragraph(caption, title_, 4);
}

void ReportFlow::facts(const std::vector<std::pair<std::string, std::string>> &lines)
{
    const double keyWidth = widthPx_ * 0.36;
    for (const auto &[key, value] : lines) {
        const auto k = text(qs(key) + QLatin1Char(':'), body_, keyWidth - mmPx(2));
        const auto v = text(qs(value), bold_, widthPx_ - keyWidth);
        const double top = place(std::max(k->height(), v->height()) + mmPx(0.8));
        if (painter_) {
            painter_->setPen(ink);
            k->draw(*painter_, QPointF(0, top));
            v->draw(*painter_, QPointF(keyWidth, top));
        }
    }
    y_ += mmPx(blockGapMm - 0.8);
}

void ReportFlow::heading(const QString &caption)
{
    paragraph(caption, heading_, 1.5);
}

void ReportFlow::table(const report::Table &t)
{
    const std::size_t columns = t.header.size();
    int total = 0;
    for (int w : t.widths)
        total += w;
    std::vector<double> left(columns + 1, 0.0);
    for (std::size_t c = 0; c < columns; ++c)
        left[c + 1] = left[c] + widthPx_ * t.widths[c] / total;
    const double pad = mmPx(cellPadMm);

    struct Line {
        std::vector<std::unique_ptr<Text>> cells;
        std::vector<bool> unused;
        double height = 0;
    };
    const auto measure = [&](const std::vector<QString> &texts, const std::vector<bool> &unused,
                             const QFont &font) {
        Line line;
        for (std::size_t c = 0; c < columns; ++c) {
            line.cells.push_back(text(texts[c], font, left[c + 1] - left[c] - 2 * pad,
                                      c < t.centred.size() && t.centred[c]));
            line.height = std::max(line.height, line.cells.back()->height() + 2 * pad);
        }
        line.unused = unused;
        return line;
    };
    const auto draw = [&](const Line &line, double top, bool header) {
        if (!painter_)
            return;
        QPainter &p = *painter_;
        if (header)
            p.fillRect(QRectF(0, top, widthPx_, line.height), headerFill);
        for (std::size_t c = 0; c < columns; ++c) {
            p.setPen(line.unused[c] ? grey : ink);
            line.cells[c]->draw(p, QPointF(left[c] + pad, top + pad));
        }
        p.setPen(QPen(ruleColour, mmPx(0.15)));
        p.drawRect(QRectF(0, top, widthPx_, line.height));
        for (std::size_t c = 1; c < columns; ++c)
            p.drawLine(QPointF(left[c], top), QPointF(left[c], top + line.height));
    };

    std::vector<QString> headerTexts;
    for (const std::string &h : t.header)
        headerTexts.push_back(qs(h));
    const Line header = measure(headerTexts, std::vector<bool>(columns, false), bold_);
    const auto titleText = [&](bool continued) {
        return qs(t.title) + (continued ? QStringLiteral(" (продолжение)") : QString());
    };

    bool first = true;
    for (const report::Row &row : t.rows) {
        std::vector<QString> texts;
        std::vector<bool> unused;
        for (const report::Cell &cell : row) {
            texts.push_back(qs(cell.text));
            unused.push_back(cell.unused);
        }
        const Line line = measure(texts, unused, body_);
        const int pageBefore = page_;
        // The title and the header stay with the first row: on the page that holds it, and
        // again on every page the table continues on.
        const auto head = text(titleText(!first), heading_, widthPx_);
        const double headHeight = head->height() + mmPx(1.5) + header.height;
        double top = first || y_ + line.height > bottomPx_ ? place(headHeight + line.height)
                                                           : place(line.height);
        if (first || page_ != pageBefore) {
            const auto shown = text(titleText(!first && page_ != pageBefore), heading_, widthPx_);
            if (painter_) {
                painter_->setPen(ink);
                shown->draw(*painter_, QPointF(0, top));
            }
            top += head->height() + mmPx(1.5);
            draw(header, top, true);
            top += header.height;
        }
        draw(line, top, false);
        first = false;
    }
    if (!t.note.empty()) {
        const auto note = text(qs(t.note), small_, widthPx_);
        const double top = place(note->height() + mmPx(1));
        if (painter_) {
            painter_->setPen(ink);
            note->draw(*painter_, QPointF(0, top + mmPx(1)));
        }
    }
    y_ += mmPx(blockGapMm);
}

void ReportFlow::picture(double heightPx,
                         const std::function<void(QPainter &, const QRectF &)> &paint)
{
    const double top = place(heightPx);
    if (painter_) {
        painter_->save();
        paint(*painter_, QRectF(0, top, widthPx_, heightPx));
        painter_->restore();
    }
    y_ += mmPx(blockGapMm);
}

void ReportFlow::signatures(const QString &checkedBy)
{
    // Three lines to sign, kept together: caption, a line for the signature, a line for the
    // name, with what goes on each line in small print under it.
    const double lineHeight = mmPx(14);
    const double height = lineHeight * report::SignatureCaptions.size() + mmPx(4);
    const double top = place(height) + mmPx(4);
    if (!painter_)
        return;
    QPainter &p = *painter_;
    const double captionWidth = mmPx(28);
    const double signStart = captionWidth, signEnd = captionWidth + mmPx(55);
    const double nameStart = signEnd + mmPx(10), nameEnd = widthPx_;
    for (std::size_t i = 0; i < report::SignatureCaptions.size(); ++i) {
        const double baseline = top + lineHeight * double(i) + mmPx(7);
        const bool date = i + 1 == report::SignatureCaptions.size();
        p.setFont(body_);
        p.setPen(ink);
        p.drawText(QPointF(0, baseline),
                   QString::fromUtf8(report::SignatureCaptions[i]) + QLatin1Char(':'));
        p.setPen(QPen(ink, mmPx(0.2)));
        p.drawLine(QPointF(signStart, baseline + mmPx(0.8)),
                   QPointF(signEnd, baseline + mmPx(0.8)));
        if (!date)
            p.drawLine(QPointF(nameStart, baseline + mmPx(0.8)),
                       QPointF(nameEnd, baseline + mmPx(0.8)));
        p.setFont(small_);
        p.setPen(grey);
        const double under =
            baseline + mmPx(0.8) + QFontMetricsF(small_, &device_).ascent() + mmPx(0.6);
        p.drawText(QPointF(signStart, under),
                   date ? QStringLiteral("(число, месяц, год)") : QStringLiteral("(подпись)"));
        if (!date)
            p.drawText(QPointF(nameStart, under), QStringLiteral("(фамилия, инициалы, должность)"));
        if (i == 1 && !checkedBy.isEmpty()) {
            p.setFont(body_);
            p.setPen(ink);
            p.drawText(QPointF(nameStart, baseline - mmPx(0.4)), checkedBy);
        }
    }
}

void setUpReportPage(QPagedPaintDevice &device)
{
    device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(20, 12, 12, 10), QPageLayout::Millimeter));
}

QByteArray reportPdfBytes(const QString &title, const std::function<void(QPagedPaintDevice &)> &paint)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        // The writer finishes the file when it goes out of scope.
        QPdfWriter pdf(&buffer);
        pdf.setTitle(title);
        pdf.setCreator(QStringLiteral("qvoksb"));
        setUpReportPage(pdf);
        paint(pdf);
    }
    return bytes;
}
