// The register map: which control of the main window every configuration register of the unit
// comes from on writing and goes to on reading, and the requests and decoders built on it. One
// table of fields per step drives both directions, so the packer and the decoder cannot disagree.
#include "Rs232.h"

#include "Main.h"
#include "Messages.h"
#include "trip_record.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <stdexcept>
#include <string_view>

namespace modbus = qvoksb::modbus;

namespace
{

enum class Encoding {
    Plain,       // spin edit: its value
    Tens,        // spin edit: its value in units of 10 (ms)
    Hundreds,    // spin edit: its value in units of 100 (ms)
    Index,       // list: the item index; no item chosen is 0xFFFF
    Mask,        // relay-output set: bit 0 ВЫКЛ, bit 1 ВЫХ.1, bit 2 ВЫХ.2, bit 3 ВЫХ.3
    Frequency60, // spin edit RxSpinEdit1: the bit set for 60 Hz; read back as 50 or 60
    ItemBits,    // list: one bit per item from `bit` up; the highest set bit wins on reading, and
                 // with none set the list keeps its item
    FirstItemBit, // list: the bit set for item 0; a clear bit reads back as item 1
    IndexBit,     // list: item index AND 1
    AlwaysSet,    // the bit is always 1; ignored on reading
};

struct Field {
    uint16_t reg;
    Encoding encoding;
    int control = 0; // the spin edit's or list's number
    int bit = 0;
    // For Mask: the check boxes ВЫКЛ, ВЫХ.1, ВЫХ.2, ВЫХ.3 of the set; 0 where the set has none.
    std::array<int, 4> boxes{};
};

constexpr Field spin(uint16_t reg, int n, Encoding e = Encoding::Plain)
{
    return {reg, e, n};
}
constexpr Field list(uint16_t reg, int n, Encoding e = Encoding::Index, int bit = 0)
{
    return {reg, e, n, bit};
}
constexpr Field relays(uint16_t reg, int off, int out1, int out2, int out3)
{
    return {reg, Encoding::Mask, 0, 0, {off, out1, out2, out3}};
}

// Rows in the order the registers of a reply are applied; within a register, bits in the order
// the unit assigns them. The interlocks run while a reply is applied, so the order is
// part of the behaviour.
constexpr Field step1[] = {
    {257, Encoding::Frequency60, 1, 0},
    list(257, 1, Encoding::ItemBits, 5), // bit 5 УТЕЧКА, bit 6 НУЛЕВАЯ ПОСЛЕДОВАТЕЛЬНОСТЬ
    {257, Encoding::AlwaysSet, 0, 9},
    list(257, 2, Encoding::FirstItemBit, 10), // self-diagnosis on ВЫХ.3: set for ДА
    spin(258, 2),                             // CT primary current, A
    spin(259, 3),                             // zero-sequence CT primary current, A
};
constexpr Field step2[] = {
    spin(267, 4, Encoding::Tens), // breaker lockout delay
};
constexpr Field step3[] = {
    relays(277, 0, 1, 2, 3), // breaker auxiliary contact (the set has no ВЫКЛ box)
    spin(278, 5),            // its delay, ms
    relays(279, 7, 4, 5, 6), // mechanical operations exceeded
    spin(280, 6),            // number of mechanical operations
    relays(281, 8, 9, 10, 11),
    spin(282, 7), // accumulated current, kA
};
constexpr Field step4[] = {
    relays(384, 12, 13, 14, 15),   // time-dependent phase overcurrent
    spin(385, 8),                  // its threshold, % of CT
    list(386, 3),                  // its curve
    spin(387, 10),                 // curve multiplier x10, sent as shown
    spin(388, 9, Encoding::Tens),  // its delay
    relays(389, 16, 17, 18, 19),   // phase cut-off
    spin(390, 11),                 // its threshold
    spin(391, 12),                 // its delay, ms
    relays(392, 20, 21, 22, 23),   // phase overload alarm
    spin(393, 13),                 // its threshold
    spin(394, 14, Encoding::Tens), // its delay
};
constexpr Field step5[] = {
    relays(395, 24, 25, 26, 27), // time-dependent earth overcurrent
    spin(396, 15),
    list(397, 4),
    spin(398, 17),
    spin(399, 16, Encoding::Tens),
    relays(400, 28, 29, 30, 31), // earth cut-off
    spin(401, 18),
    spin(402, 19),
    relays(403, 32, 33, 34, 35), // earth short-circuit alarm
    spin(404, 20),
    spin(405, 21, Encoding::Tens),
};
constexpr Field step6[] = {
    list(262, 5, Encoding::IndexBit, 0), // relay modes: 0 latching, 1 pulse
    list(262, 6, Encoding::IndexBit, 2), list(262, 7, Encoding::IndexBit, 4),
    list(262, 8, Encoding::IndexBit, 6), spin(263, 22, Encoding::Hundreds), // pulse lengths
    spin(264, 23, Encoding::Hundreds),   spin(265, 24, Encoding::Hundreds),
    spin(266, 25, Encoding::Hundreds),
};
constexpr Field step7[] = {
    list(269, 10, Encoding::IndexBit, 0), // contact state that activates input 1: 0 closed
    list(269, 12, Encoding::IndexBit, 1),
    list(269, 14, Encoding::IndexBit, 2),
    list(270, 9), // input functions
    list(271, 11),
    list(272, 13),
};

struct Step {
    std::span<const Field> fields;
    std::u16string_view writeLabel; // empty: the label stays as it is
    std::u16string_view readLabel;
};

constexpr std::array<Step, modbus::WriteSteps> steps = {{
    {step1, u"", u""},
    {step2, u"", u""},
    {step3, u"", u""},
    {step4, u"Запись уставок МТЗ ...", u"Чтение уставок МТЗ ..."},
    {step5, u"Запись уставок ОЗЗ ...", u"Чтение уставок ОЗЗ ..."},
    {step6, u"Запись параметров ВЫХОДНЫХ РЕЛЕ ...", u"Чтение параметров ВЫХОДНЫХ РЕЛЕ ..."},
    {step7, u"Запись параметров ЦИФРОВЫХ ВХОДОВ ...", u"Чтение параметров ЦИФРОВЫХ ВХОДОВ ..."},
}};
constexpr std::u16string_view lastTripLabel = u"Чтение информации о последнем отключении ...";
constexpr std::u16string_view stateLabel = u"Чтение состояний ВХОДОВ/ВЫХОДОВ ...";

constexpr size_t largestBlock = 11;

// Every field lies in its step's block, and every register of a block has a field.
constexpr bool tablesMatchBlocks()
{
    for (size_t s = 0; s < steps.size(); ++s) {
        const modbus::Block block = modbus::ConfigurationBlocks[s];
        if (block.count > largestBlock)
            return false;
        for (int reg = block.first; reg < block.first + block.count; ++reg) {
            bool covered = false;
            for (const Field &f : steps[s].fields)
                covered = covered || f.reg == reg;
            if (!covered)
                return false;
        }
        for (const Field &f : steps[s].fields)
            if (f.reg < block.first || f.reg >= block.first + block.count || f.bit > 15)
                return false;
    }
    return true;
}
static_assert(tablesMatchBlocks());

void setLabel(QLabel *label, std::u16string_view text)
{
    // The texts are static: the label shares them without a copy.
    if (!text.empty())
        label->setText(QString::fromRawData(reinterpret_cast<const QChar *>(text.data()),
                                            qsizetype(text.size())));
}

uint16_t bitValue(bool set, int bit)
{
    return set ? uint16_t(1u << bit) : uint16_t(0);
}

// The bits this field contributes to its register.
uint16_t pack(const TFKsb &w, const Field &f)
{
    switch (f.encoding) {
    case Encoding::Plain:
        return uint16_t(w.spinEdit(f.control)->value());
    case Encoding::Tens:
        return uint16_t(w.spinEdit(f.control)->value() / 10);
    case Encoding::Hundreds:
        return uint16_t(w.spinEdit(f.control)->value() / 100);
    case Encoding::Index:
        return uint16_t(w.comboBox(f.control)->currentIndex());
    case Encoding::Mask: {
        uint16_t mask = 0;
        for (int b = 0; b < 4; ++b)
            if (f.boxes[size_t(b)])
                mask |= bitValue(w.checkBox(f.boxes[size_t(b)])->isChecked(), b);
        return mask;
    }
    case Encoding::Frequency60:
        return bitValue(w.spinEdit(f.control)->value() == 60, f.bit);
    case Encoding::ItemBits: {
        const QComboBox *c = w.comboBox(f.control);
        const int item = c->currentIndex();
        return item >= 0 && item < c->count() ? uint16_t(1u << (f.bit + item)) : uint16_t(0);
    }
    case Encoding::FirstItemBit:
        return bitValue(w.comboBox(f.control)->currentIndex() == 0, f.bit);
    case Encoding::IndexBit:
        return bitValue(w.comboBox(f.control)->currentIndex() & 1, f.bit);
    case Encoding::AlwaysSet:
        return bitValue(true, f.bit);
    }
    return 0;
}

// Puts the register value into this field's control. Spin edits clamp to their range, lists take
// an index beyond their items as no item; lists with a rule run it (SetListIndex), check boxes
// and spin edits run theirs when what they show changes.
void apply(TFKsb &w, const Field &f, uint16_t value)
{
    const auto bit = [&](int b) { return (value >> b) & 1; };
    switch (f.encoding) {
    case Encoding::Plain:
        w.spinEdit(f.control)->setValueFromProgram(static_cast<long long>(value));
        break;
    case Encoding::Tens:
        w.spinEdit(f.control)->setValueFromProgram(static_cast<long long>(value) * 10);
        break;
    case Encoding::Hundreds:
        w.spinEdit(f.control)->setValueFromProgram(static_cast<long long>(value) * 100);
        break;
    case Encoding::Index:
        w.SetListIndex(w.comboBox(f.control), value);
        break;
    case Encoding::Mask:
        for (int b = 0; b < 4; ++b)
            if (f.boxes[size_t(b)])
                w.checkBox(f.boxes[size_t(b)])->setChecked(bit(b));
        break;
    case Encoding::Frequency60:
        w.spinEdit(f.control)->setValueFromProgram(bit(f.bit) ? 60LL : 50LL);
        break;
    case Encoding::ItemBits: {
        QComboBox *c = w.comboBox(f.control);
        int item = c->currentIndex();
        for (int i = 0; i < c->count() && f.bit + i < 16; ++i)
            if (bit(f.bit + i))
                item = i;
        w.SetListIndex(c, item);
        break;
    }
    case Encoding::FirstItemBit:
        w.SetListIndex(w.comboBox(f.control), bit(f.bit) ? 0 : 1);
        break;
    case Encoding::IndexBit:
        w.SetListIndex(w.comboBox(f.control), bit(f.bit));
        break;
    case Encoding::AlwaysSet:
        break;
    }
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

void applyConfiguration(TFKsb &w, int step)
{
    std::array<uint16_t, largestBlock> r{};
    registersOf(step, r);
    const uint16_t first = modbus::ConfigurationBlocks[size_t(step - 1)].first;
    for (const Field &f : steps[size_t(step - 1)].fields)
        apply(w, f, r[f.reg - first]);
}

} // namespace

void TFrs232::MakeWriteRequest(int step)
{
    RequestLength = 0;
    if (!FKsb || step < 1 || step > modbus::WriteSteps)
        return;
    const Step &s = steps[size_t(step - 1)];
    setLabel(Label1, s.writeLabel);
    const modbus::Block block = modbus::ConfigurationBlocks[size_t(step - 1)];
    // Bit registers are assembled from 0; only the bits of the table are set.
    std::array<uint16_t, largestBlock> values{};
    for (const Field &f : s.fields)
        values[f.reg - block.first] |= pack(*FKsb, f);
    RequestLength = int32_t(modbus::buildWriteMultiple(RequestBuffer, UnitAddress(), block.first,
                                                       std::span(values.data(), block.count)));
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

bool TFrs232::ParseReadReply(int step)
{
    try {
        if (!FKsb)
            throw DecodeError("no main window");
        if (step >= 1 && step <= modbus::WriteSteps)
            applyConfiguration(*FKsb, step);
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
