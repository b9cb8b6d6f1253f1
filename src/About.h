#pragma once
// The splash window shown at start: the unit's name on a shaped, borderless picture, with the
// maker's note, for five seconds.
#include <QDialog>

class QLabel;
class QTimer;

class TFAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TFAbout(QWidget *owner);

    // How long the splash stays; tests shorten it.
    static int ShowMilliseconds;

    // The picture the window is cut to, 467 by 267 pixels.
    static QImage picture();

    void Timer1Timer();

    QLabel *RxLabel1;
    QTimer *Timer1;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QImage picture_;
};
