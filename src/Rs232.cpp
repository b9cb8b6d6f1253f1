// The exchange window and the frames of the device link on the program-wide buffers.
#include "Rs232.h"

#include "Main.h"
#include "trip_record.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cstring>

namespace modbus = qvoksb::modbus;

std::array<uint8_t, TransactionBufferBytes> RequestBuffer{};
int32_t RequestLength = 0;
std::array<uint8_t, TransactionBufferBytes> ReplyBuffer{};
int32_t ReplyCount = 0;

namespace
{

constexpr int clientWidthPx = 290;
constexpr int clientHeightPx = 115;

std::span<const uint8_t> request()
{
    const size_t length = std::clamp<int32_t>(RequestLength, 0, int32_t(TransactionBufferBytes));
    return {RequestBuffer.data(), length};
}

std::span<const uint8_t> reply()
{
    const size_t count = std::clamp<int32_t>(ReplyCount, 0, int32_t(TransactionBufferBytes));
    return {ReplyBuffer.data(), count};
}

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

TFrs232::~TFrs232() = default;

void TFrs232::BExitClick()
{
    close();
}

uint16_t TFrs232::Crc16(const uint8_t *bytes, uint16_t length)
{
    return modbus::crc16WireOrder(bytes, length);
}

void TFrs232::MakeRequest(uint8_t address, uint8_t function, uint16_t reg, uint16_t countOrValue)
{
    RequestLength =
        int32_t(modbus::buildRequest(RequestBuffer, address, function, reg, countOrValue));
}

bool TFrs232::ReplyCrcOk()
{
    // Crc16 puts the byte sent first (the low byte of the CRC) in the high half.
    const std::span<const uint8_t> r = reply();
    if (r.size() < modbus::MinimumFrameBytes)
        return false;
    const uint16_t crc = Crc16(r.data(), uint16_t(r.size() - 2));
    return r[r.size() - 2] == (crc >> 8) && r[r.size() - 1] == (crc & 0xFF);
}

modbus::ReplyCheck TFrs232::ClassifyReply()
{
    return modbus::classifyReply(request(), reply());
}

size_t TFrs232::AppendReply(const uint8_t *data, size_t count)
{
    const size_t held = reply().size();
    const size_t taken = std::min(count, TransactionBufferBytes - held);
    if (taken > 0)
        std::memcpy(ReplyBuffer.data() + held, data, taken);
    ReplyCount = int32_t(held + taken);
    return taken;
}

void TFrs232::ClearReply()
{
    ReplyCount = 0;
    ReplyBuffer[0] = 0;
}

uint8_t TFrs232::UnitAddress()
{
    return FKsb ? uint8_t(FKsb->RxSpinEdit26->value()) : modbus::MinUnitAddress;
}

void TFrs232::ShowTripCause(uint16_t code)
{
    if (FKsb)
        FKsb->EEvent->setText(QString::fromStdString(qvoksb::tripCauseText(code)));
}
