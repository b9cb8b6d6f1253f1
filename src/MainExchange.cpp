// The main window's commands that talk to the unit: write and read the configuration, send a
// control command, read the state of the inputs and output relays. Each runs one exchange window.
#include "Main.h"

#include "BoardLine.h"
#include "Messages.h"
#include "Rs232.h"
#include "TrafficLog.h"
#include "WorkJournal.h"

#include <QLabel>

#include <iterator>

namespace exchange = qvoksb::exchange;

namespace
{

// The question before each command, by RadioGroup1's item index, beside the unit's command
// table (exchange::Commands) in the same order.
constexpr const char *questions[] = {
    "Вы действительно хотите выполнить удаленный сброс?",
    "Вы действительно хотите выполнить дистанционное отключение выкл.?",
    "Вы действительно хотите очистить информацию о техн. обслуживании?",
    "Вы действительно хотите удалить накопленные события?",
    "Вы действительно хотите активировать ВЫХ.1?",
    "Вы действительно хотите активировать ВЫХ.2?",
    "Вы действительно хотите активировать ВЫХ.3?",
};
static_assert(std::size(questions) == exchange::Commands.size());

} // namespace

std::optional<exchange::Result> TFKsb::StartExchange(int tag,
                                                     const std::function<void(TFrs232 &)> &prepare)
{
    // One line, one exchange at a time: a batch of the window of the units goes first.
    if (BoardLine::held()) {
        const QString shown = StaticText1->text();
        StaticText1->setText(QStringLiteral("Ожидание: идёт работа с блоками на линии ..."));
        BoardLine::waitUntilFree();
        StaticText1->setText(shown);
    }
    Frs232 = new TFrs232(this);
    SetTag(Frs232, tag);
    Frs232->VaComm1.PortNum = FComPort;
    Frs232->VaComm1.ControlDtr = FDtrOn ? qvoksb::dtrEnabled : qvoksb::dtrDisabled;
    Frs232->VaComm1.ControlRts = FRtsOn ? qvoksb::rtsEnabled : qvoksb::rtsDisabled;
    if (gatewayChosen())
        Frs232->Gateway = FGateway;
    Frs232->UnitAddress = uint8_t(RxSpinEdit26->value());
    Frs232->Settings = currentSettings();
    Frs232->Log = TrafficLog.get();
    if (prepare)
        prepare(*Frs232);
    Frs232->exec();
    recordExchange(*Frs232, currentSettings(), Origin, this);
    std::optional<exchange::Result> result = Frs232->result();
    delete Frs232;
    Frs232 = nullptr;
    return result;
}

void TFKsb::SIWriteClick()
{
    writeConfiguration();
}

void TFKsb::SIReadClick()
{
    // The unit's settings reach the controls all together, and only when every block and the
    // last trip were read: a read that stops half-way leaves the window as it was.
    const auto result = StartExchange(TFrs232::ReadConfiguration);
    if (result && result->settings) {
        applySettings(*result->settings);
        setOriginUnit();
    }
}

void TFKsb::Button1Click()
{
    RadioGroup1->Tag = 0;
    const int item = RadioGroup1->ItemIndex();
    if (item >= 0 && item < int(std::size(questions)) &&
        Messages::Confirm(this, QString::fromUtf8(questions[item])))
        RadioGroup1->Tag = exchange::Commands[size_t(item)].code;
    if (RadioGroup1->Tag <= 0)
        return;
    StartExchange(TFrs232::ControlCommand,
                  [this](TFrs232 &x) { x.CommandCode = uint16_t(RadioGroup1->Tag); });
    RadioGroup1->Tag = 0;
}

void TFKsb::Button2Click()
{
    const auto result = StartExchange(TFrs232::InputOutputState);
    if (result && result->lamps)
        showLamps(*result->lamps);
}

void TFKsb::showLamps(const exchange::Lamps &lamps)
{
    // In the order of the lamps: outputs ВЫКЛ., 1, 2, 3, then inputs 1, 2, 3, ВЫКЛ.
    LedIndicator *const leds[] = {VrBlinkLed4,    VrBlinkLed1,    VrBlinkLed2,    VrBlinkLed3,
                                  VrBlinkLedBit1, VrBlinkLedBit2, VrBlinkLedBit3, VrBlinkLedBit4};
    for (size_t i = 0; i < exchange::LampCount; ++i)
        leds[i]->setColorIndex(lamps[i] ? 2 : 1);
}
