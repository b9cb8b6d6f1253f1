// The register map as the exchange window uses it: requests built from the main window's
// settings, replies decoded into a settings set that reaches the controls only when the last
// configuration block has arrived, the texts the label shows for each step, the last trip and
// the input/output state. The fields themselves are the settings catalogue's (register_map.h).
#include "Rs232.h"

#include "Main.h"
#include "Messages.h"
#include "register_map.h"
#include "trip_record.h"

#include <QLabel>
#include <QLineEdit>

#include <stdexcept>
#include <string_view>

namespace modbus = qvoksb::modbus;
namespace registers = qvoksb::registers;

namespace
{

// The texts the label shows while a step's request is built, by write and read step 1..7.
struct Step {
    std::u16string_view writeLabel; // empty: the label stays as it is
    std::u16string_view readLabel;
};

constexpr std::array<Step, modbus::WriteSteps> steps = {{
    {u"", u""},
    {u"", u""},
    {u"", u""},
    {u"Запись уставок МТЗ ...", u"Чтение уставок МТЗ ..."},
    {u"Запись уставок ОЗЗ ...", u"Чтение уставок ОЗЗ ..."},
    {u"Запись параметров ВЫХОДНЫХ РЕЛЕ ...", u"Чтение параметров ВЫХОДНЫХ РЕЛЕ ..."},
    {u"Запись параметров ЦИФРОВЫХ ВХОДОВ ...", u"Чтение параметров ЦИФРОВЫХ ВХОДОВ ..."},
}};
constexpr std::u16string_view lastTripLabel = u"Чтение информации о последнем отключении ...";
constexpr std::u16string_view stateLabel = u"Чтение состояний ВХОДОВ/ВЫХОДОВ ...";

void setLabel(QLabel *label, std::u16string_view text)
{
    // The texts are static: the label shares them without a copy.
    if (!text.empty())
        label->setText(QString::fromRawData(reinterpret_cast<const QChar *>(text.data()),
                                            qsizetype(text.size())));
}

// What decoding refuses; caught by ParseReadReply's guard.
struct DecodeError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The registers of a correct reply to step's read request; throws when the reply is anything
// else.
template <size_t N> void registersOf(int step, std::array<uint16_t, N> &registers)
{
    const modbus::Block block = modbus::readBlock(step);
    if (block.count == 0 || block.count > N)
        throw DecodeError("no such read step");
    // The request this reply must answer, rebuilt from the step itself.
    std::array<uint8_t, modbus::ReadRequestBytes> asked{};
    modbus::buildRequest(asked, TFrs232::UnitAddress(), modbus::FunctionReadInputRegisters,
                         block.first, block.count);
    const std::span<const uint8_t> received(
        ReplyBuffer.data(),
        size_t(std::clamp<int32_t>(ReplyCount, 0, int32_t(ReplyBuffer.size()))));
    if (modbus::classifyReply(asked, received).kind != modbus::ReplyKind::Correct ||
        !modbus::readRegisters(received, std::span<uint16_t>(registers.data(), block.count)))
        throw DecodeError("the reply does not answer the step's request");
}

void applyState(TFKsb &w)
{
    std::array<uint16_t, 2> r{};
    registersOf(modbus::StateStep, r);
    LedIndicator *const outputs[] = {w.VrBlinkLed4, w.VrBlinkLed1, w.VrBlinkLed2, w.VrBlinkLed3};
    LedIndicator *const inputs[] = {w.VrBlinkLedBit1, w.VrBlinkLedBit2, w.VrBlinkLedBit3,
                                    w.VrBlinkLedBit4};
    for (int b = 0; b < 4; ++b)
        outputs[b]->setColorIndex(((r[0] >> b) & 1) + 1);
    for (int b = 0; b < 4; ++b)
        inputs[b]->setColorIndex(((r[1] >> b) & 1) + 1);
}

void applyLastTrip(TFKsb &w)
{
    std::array<uint16_t, 3> r{};
    registersOf(modbus::LastTripStep, r);
    const qvoksb::TripRecord trip = qvoksb::decodeTripRecord(r[0], r[1], r[2]);
    TFrs232::ShowTripCause(uint16_t(trip.cause));
    w.EDt->setText(QString::fromStdString(qvoksb::tripTimeText(trip)));
}

} // namespace

void TFrs232::MakeWriteRequest(int step)
{
    RequestLength = 0;
    if (!FKsb || step < 1 || step > modbus::WriteSteps)
        return;
    setLabel(Label1, steps[size_t(step - 1)].writeLabel);
    // Only the settings of this step's block are read from the window.
    qvoksb::SettingsSet settings;
    FKsb->readSettings(settings, registers::settingsOfBlock(step));
    RequestLength =
        int32_t(registers::buildWriteRequest(RequestBuffer, UnitAddress(), step, settings));
}

void TFrs232::MakeReadRequest(int step)
{
    RequestLength = 0;
    if (!FKsb)
        return;
    if (step == modbus::CommandStep) {
        MakeRequest(UnitAddress(), modbus::FunctionWriteSingleRegister, modbus::CommandRegister,
                    uint16_t(FKsb->RadioGroup1->Tag));
        return;
    }
    const modbus::Block block = modbus::readBlock(step);
    if (block.count == 0)
        return;
    if (step <= modbus::WriteSteps)
        setLabel(Label1, steps[size_t(step - 1)].readLabel);
    else
        setLabel(Label1, step == modbus::LastTripStep ? lastTripLabel : stateLabel);
    MakeRequest(UnitAddress(), modbus::FunctionReadInputRegisters, block.first, block.count);
}

void TFrs232::decodeConfiguration(int step)
{
    std::array<uint16_t, registers::LargestBlock> r{};
    registersOf(step, r);
    registers::decodeBlock(step, r, ReadSettings);
    // The settings reach the controls all together, once the last block is in: a read that
    // stops half-way (aborted, a silent or refusing unit) leaves the window as it was.
    if (step == modbus::WriteSteps && Tag(this) == ReadConfiguration)
        FKsb->applySettings(ReadSettings);
}

bool TFrs232::ParseReadReply(int step)
{
    try {
        if (!FKsb)
            throw DecodeError("no main window");
        if (step >= 1 && step <= modbus::WriteSteps)
            decodeConfiguration(step);
        else if (step == modbus::LastTripStep)
            applyLastTrip(*FKsb);
        else if (step == modbus::StateStep)
            applyState(*FKsb);
        else
            throw DecodeError("no such read step");
        return true;
    } catch (...) {
        Messages::Error(this, QStringLiteral("Параметры конфигурации содержат ошибки!"));
        return false;
    }
}
