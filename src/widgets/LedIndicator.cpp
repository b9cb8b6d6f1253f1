#include "LedIndicator.h"

#include <QAccessible>
#include <QPainter>

namespace {
constexpr int ledDiameterPx = 16;
}

LedIndicator::LedIndicator(const QString &caption, const QColor &litColor, QWidget *parent)
    : QWidget(parent), caption_(caption)
{
    const QColor face = palette().color(QPalette::Window);
    palettes_[0] = {face, face};
    palettes_[1] = {litColor == QColor(Qt::red) ? litColor : face, litColor};
    palettes_[2] = {face, QColor(Qt::yellow)};
    palettes_[3] = {face, QColor(Qt::blue)};
    setAccessibleName(caption_);
    updateAccessibleState();
}

void LedIndicator::setColorIndex(int index)
{
    if (index < 1 || index > 4 || index == colorIndex_)
        return;
    const bool wasLit = isLit();
    colorIndex_ = index;
    updateAccessibleState();
    if (wasLit != isLit()) {
        QAccessible::State checked;
        checked.checked = true;
        QAccessibleStateChangeEvent event(this, checked);
        QAccessible::updateAccessibility(&event);
    }
    update();
}

void LedIndicator::setLedPalette(int index, const Palette &p)
{
    if (index < 1 || index > 4)
        return;
    palettes_[index - 1] = p;
    update();
}

void LedIndicator::updateAccessibleState()
{
    setAccessibleDescription(isLit() ? QStringLiteral("горит") : QStringLiteral("не горит"));
    setToolTip(caption_ + (isLit() ? QStringLiteral(": горит") : QStringLiteral(": не горит")));
}

QSize LedIndicator::sizeHint() const
{
    const QFontMetrics fm(font());
    return {qMax(ledDiameterPx + 8, fm.horizontalAdvance(caption_) + 6),
            ledDiameterPx + fm.height() + 6};
}

void LedIndicator::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF led((width() - ledDiameterPx) / 2.0, 1, ledDiameterPx, ledDiameterPx);
    const QColor colour = palettes_[colorIndex_ - 1].high;
    p.setPen(QPen(palette().color(QPalette::Dark), 1));
    p.setBrush(colour);
    p.drawEllipse(led);
    if (isLit()) { // a small highlight so a lit LED reads as lit
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 110));
        p.drawEllipse(led.adjusted(4, 3, -7, -8));
    }
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(QRect(0, ledDiameterPx + 3, width(), height() - ledDiameterPx - 3),
               Qt::AlignHCenter | Qt::AlignTop, caption_);
}
