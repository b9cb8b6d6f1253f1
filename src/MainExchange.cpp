// The main window's commands that talk to the unit: write and read the configuration, send a
// control command, read the state of the inputs and output relays. Each runs one exchange window.
#include "Main.h"

#include "Messages.h"
#include "Rs232.h"

#include <iterator>

namespace
{

struct CommandRow {
    const char *question;
    int code; // the value written to the command register
};

// By RadioGroup1's item index.
constexpr CommandRow commands[] = {
    {"Вы действительно хотите выполнить удаленный сброс?", 1},
    {"Вы действительно хотите выполнить дистанционное отключение выкл.?", 2},
    {"Вы действительно хотите очистить информацию о техн. обслуживании?", 8},
    {"Вы действительно хотите удалить накопленные события?", 9},
    {"Вы действительно хотите активировать ВЫХ.1?", 20},
    {"Вы действительно хотите активировать ВЫХ.2?", 21},
    {"Вы действительно хотите активировать ВЫХ.3?", 22},
};

// The request the exchange of this kind sends first.
void makeFirstRequest(TFrs232 &window, int tag)
{
    switch (tag) {
    case TFrs232::WriteConfiguration:
        window.MakeWriteRequest(1);
        break;
    case TFrs232::ReadConfiguration:
        window.MakeReadRequest(1);
        break;
    case TFrs232::ControlCommand:
        window.MakeReadRequest(qvoksb::modbus::CommandStep);
        break;
    case TFrs232::InputOutputState:
        window.MakeReadRequest(qvoksb::modbus::StateStep);
        break;
    default:
        RequestLength = 0;
        break;
    }
}

} // namespace

void TFKsb::StartExchange(int tag)
{
    Frs232 = new TFrs232(this);
    SetTag(Frs232, tag);
    Frs232->PortNum = FComPort;
    Frs232->DtrEnabled = FDtrOn != 0;
    Frs232->RtsEnabled = FRtsOn != 0;
    // The exchange window has no port and no timers yet: the exchange stops once its first
    // request is built, and the window is not shown.
    makeFirstRequest(*Frs232, tag);
    delete Frs232;
    Frs232 = nullptr;
}

void TFKsb::SIWriteClick()
{
    StartExchange(TFrs232::WriteConfiguration);
}

void TFKsb::SIReadClick()
{
    StartExchange(TFrs232::ReadConfiguration);
}

void TFKsb::Button1Click()
{
    RadioGroup1->Tag = 0;
    const int item = RadioGroup1->ItemIndex();
    if (item >= 0 && item < int(std::size(commands)) &&
        Messages::Confirm(this, QString::fromUtf8(commands[item].question)))
        RadioGroup1->Tag = commands[item].code;
    if (RadioGroup1->Tag <= 0)
        return;
    StartExchange(TFrs232::ControlCommand);
    RadioGroup1->Tag = 0;
}

void TFKsb::Button2Click()
{
    StartExchange(TFrs232::InputOutputState);
}
