#pragma once
// An LED-style indicator with a caption. It has four colour palettes (a low and a high colour
// each) selected by ColorIndex 1..4; without blinking it shows the selected palette's high colour
// steadily. Palette 1 uses the window's face colour for both, so ColorIndex 1 looks unlit.
#include <QColor>
#include <QWidget>
#include <array>

class LedIndicator : public QWidget
{
    Q_OBJECT
public:
    struct Palette {
        QColor low;
        QColor high;
    };

    LedIndicator(const QString &caption, const QColor &litColor, QWidget *parent = nullptr);

    int ColorIndex() const { return colorIndex_; }
    void setColorIndex(int index); // 1..4; other values are ignored
    bool isLit() const { return colorIndex_ != 1; }
    const Palette &ledPalette(int index) const { return palettes_.at(index - 1); }
    void setLedPalette(int index, const Palette &palette);
    QString caption() const { return caption_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateAccessibleState();

    QString caption_;
    int colorIndex_ = 1;
    std::array<Palette, 4> palettes_;
};
