// The exchange window: its frame, label, bar and button.
#include "Rs232.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace
{

constexpr int clientWidthPx = 290;
constexpr int clientHeightPx = 115;

} // namespace

TFrs232::TFrs232(QWidget *owner) : QDialog(owner)
{
    setObjectName(QStringLiteral("Frs232"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(clientWidthPx, clientHeightPx);
    // Modal for the main window it belongs to; a window of no owner, the exchange log, stays
    // usable beside it.
    setWindowModality(Qt::WindowModal);

    Label1 = new QLabel(QStringLiteral("Обмен с блоком KSB-7 ..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(0, 0, clientWidthPx, clientHeightPx);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    // Outcomes name ports and repeat what the system said: plain text.
    Label1->setTextFormat(Qt::PlainText);
    Label1->setAutoFillBackground(true);
    QPalette colours = Label1->palette();
    colours.setColor(QPalette::Window, Qt::gray);
    colours.setColor(QPalette::WindowText, Qt::yellow);
    Label1->setPalette(colours);
    QFont font = Label1->font();
    font.setPixelSize(11);
    Label1->setFont(font);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(8, 24, 273, 16);
    ProgressBar1->setRange(FirstStep, LastStep);
    ProgressBar1->setValue(FirstStep);
    ProgressBar1->setTextVisible(false);

    BExit = new QPushButton(QStringLiteral("Прервать обмен"), this);
    BExit->setObjectName(QStringLiteral("BExit"));
    BExit->setGeometry(94, 78, 107, 26);
    connect(BExit, &QPushButton::clicked, this, &TFrs232::BExitClick);
    // The button is the only control of the window that takes the keyboard focus.
    ProgressBar1->setFocusPolicy(Qt::NoFocus);
    Label1->setFocusPolicy(Qt::NoFocus);

    setupExchange();
}

void TFrs232::BExitClick()
{
    close();
}
