#include "About.h"

#include <QBitmap>
#include <QFontMetrics>
#include <QGraphicsDropShadowEffect>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>

int TFAbout::ShowMilliseconds = 5000;

namespace
{

constexpr int clientWidthPx = 467;
constexpr int clientHeightPx = 263;
constexpr int pictureWidthPx = 467;
constexpr int pictureHeightPx = 267;
// Whatever has this colour in the picture is cut out of the window; the bottom-left pixel
// carries it.
const QColor holeColour(255, 0, 255);

} // namespace

QImage TFAbout::picture()
{
    QImage image(pictureWidthPx, pictureHeightPx, QImage::Format_RGB888);
    image.fill(holeColour);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false); // no blended edge pixels next to the hole

    // A rounded steel-blue plate, its corners cut away.
    QPainterPath plate;
    plate.addRoundedRect(QRectF(0, 0, pictureWidthPx, clientHeightPx - 1), 28, 28);
    QLinearGradient steel(0, 0, 0, clientHeightPx);
    steel.setColorAt(0, QColor(214, 226, 238));
    steel.setColorAt(1, QColor(150, 172, 196));
    p.fillPath(plate, steel);
    p.setPen(QPen(QColor(52, 78, 112), 3));
    p.drawPath(plate);

    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    // A lightning stripe: the unit protects a feeder.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 170, 30));
    p.drawPolygon(QPolygonF({QPointF(52, 40), QPointF(92, 40), QPointF(74, 92), QPointF(100, 92),
                             QPointF(48, 170), QPointF(62, 110), QPointF(38, 110)}));

    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(64);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(40, 62, 96));
    p.drawText(QRect(110, 34, 340, 90), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("KSB-7"));
    QFont subtitle(QStringLiteral("DejaVu Sans"));
    subtitle.setPixelSize(17);
    p.setFont(subtitle);
    p.setPen(QColor(30, 40, 60));
    p.drawText(QRect(112, 118, 340, 56), Qt::AlignLeft | Qt::TextWordWrap,
               QStringLiteral("Конфигуратор блока защиты\nотходящей линии"));
    p.setPen(QPen(QColor(52, 78, 112), 1));
    p.drawLine(40, 196, pictureWidthPx - 40, 196);
    p.end();
    return image;
}

namespace
{

bool textFits(const QFont &font, const QString &text, QSize box)
{
    const QFontMetrics metrics(font);
    const QStringList lines = text.split(u'\n');
    if (int(lines.size()) * metrics.lineSpacing() > box.height())
        return false;
    for (const QString &line : lines)
        if (metrics.horizontalAdvance(line) > box.width())
            return false;
    return true;
}

} // namespace

TFAbout::TFAbout(QWidget *owner) : QDialog(owner), picture_(picture())
{
    setObjectName(QStringLiteral("FAbout"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(clientWidthPx, clientHeightPx);
    setModal(true);

    // The window keeps only what is not of the bottom-left pixel's colour. The mask image marks
    // the pixels of that colour; as a bitmap those marked pixels are the ones left out.
    const QRgb hole = picture_.pixel(0, picture_.height() - 1);
    setMask(QBitmap::fromImage(picture_.createMaskFromColor(hole, Qt::MaskInColor).copy(rect())));

    RxLabel1 = new QLabel(this);
    RxLabel1->setObjectName(QStringLiteral("RxLabel1"));
    RxLabel1->setGeometry(0, 230, clientWidthPx, 32);
    RxLabel1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    RxLabel1->setAttribute(Qt::WA_TranslucentBackground);
    QFont note = RxLabel1->font();
    note.setPixelSize(13);
    RxLabel1->setFont(note);
    QPalette ink = RxLabel1->palette();
    ink.setColor(QPalette::WindowText, Qt::black);
    RxLabel1->setPalette(ink);
    auto *shadow = new QGraphicsDropShadowEffect(RxLabel1);
    shadow->setColor(Qt::white);
    shadow->setOffset(1, 1);
    shadow->setBlurRadius(0);
    RxLabel1->setGraphicsEffect(shadow);
    RxLabel1->setText(
        QStringLiteral("Приборы телемеханики серии «Пример». Тел. +7 (000) 000-00-00\n"
                       "https://www.example.com"));
    // Both lines must fit the strip under the plate whatever font the system puts in for the
    // default one (Windows' fonts space their lines wider than DejaVu Sans).
    while (note.pixelSize() > 9 && !textFits(note, RxLabel1->text(), RxLabel1->size())) {
        note.setPixelSize(note.pixelSize() - 1);
        RxLabel1->setFont(note);
    }
    // Read out as one line.
    RxLabel1->setAccessibleName(RxLabel1->text().simplified());

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(ShowMilliseconds);
    connect(Timer1, &QTimer::timeout, this, &TFAbout::Timer1Timer);
    Timer1->start();
}

void TFAbout::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Centred on the screen, not on the main window, which is not on screen yet.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect r = frameGeometry();
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }
}

void TFAbout::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.drawImage(0, 0, picture_);
}

void TFAbout::Timer1Timer()
{
    Timer1->stop();
    close();
}
