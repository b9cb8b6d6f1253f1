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

} // namespace

void TFKsb::StartExchange(int tag, const std::function<void(TFrs232 &)> &prepare,
                          const std::function<void(TFrs232 &)> &afterwards)
{
    Frs232 = new TFrs232(this);
    SetTag(Frs232, tag);
    Frs232->VaComm1.PortNum = FComPort;
    Frs232->VaComm1.ControlDtr = FDtrOn ? qvoksb::dtrEnabled : qvoksb::dtrDisabled;
    Frs232->VaComm1.ControlRts = FRtsOn ? qvoksb::rtsEnabled : qvoksb::rtsDisabled;
    if (prepare)
        prepare(*Frs232);
    Frs232->exec();
    if (afterwards)
        afterwards(*Frs232);
    delete Frs232;
    Frs232 = nullptr;
}

void TFKsb::SIWriteClick()
{
    writeConfiguration();
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
