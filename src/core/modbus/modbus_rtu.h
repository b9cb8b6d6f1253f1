#pragma once
// Modbus RTU frames as the configurator exchanges them with the KSB-7: the CRC, the requests of
// functions 4, 6 and 16, the check of a received reply and the registers of the unit. Bytes only:
// no port, no timer, no allocation.
//
// Every 16-bit field of a frame (register address, count, value, register data) goes high byte
// first. The CRC is the exception: the low byte of the CRC-16/MODBUS value comes first in the RTU
// message, then the high byte.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qvoksb::modbus
{

// --- function and exception codes ---------------------------------------------------------------

inline constexpr uint8_t FunctionReadInputRegisters = 0x04;
// Function 3 (read holding registers) is no request of the configurator, but other masters send
// it, and the unit answers it as function 4: its frames have the shape of function 4's.
inline constexpr uint8_t FunctionReadHoldingRegisters = 0x03;
inline constexpr uint8_t FunctionWriteSingleRegister = 0x06;
inline constexpr uint8_t FunctionWriteMultipleRegisters = 0x10;
// A slave refuses a request by answering with its function code with this bit set.
inline constexpr uint8_t ExceptionBit = 0x80;

enum class ExceptionCode : uint8_t {
    IllegalFunction = 0x01,
    IllegalDataAddress = 0x02,
    IllegalDataValue = 0x03,
    ServerDeviceFailure = 0x04,
    Acknowledge = 0x05,
    ServerDeviceBusy = 0x06,
    MemoryParityError = 0x08,
    GatewayPathUnavailable = 0x0A,
    GatewayTargetFailed = 0x0B,
};

// What an exception code means, in Russian (UTF-8) for the exchange window; an unknown code gives
// a general text.
std::string_view exceptionMeaning(uint8_t code);

// --- sizes --------------------------------------------------------------------------------------

inline constexpr size_t ReadRequestBytes = 8; // also the length of a function-6 request
inline constexpr size_t WriteReplyBytes = 8;  // the echo of a function-6 or function-16 request
inline constexpr size_t ExceptionReplyBytes = 5;
inline constexpr size_t MinimumFrameBytes = 4; // address, function, two CRC bytes
// Modbus allows 125 registers in a read reply and 123 in a write request (256-byte frames).
inline constexpr size_t MaxReadRegisters = 125;
inline constexpr size_t MaxWriteRegisters = 123;

constexpr size_t writeRequestBytes(size_t registers)
{
    return 9 + 2 * registers;
}
constexpr size_t readReplyBytes(size_t registers)
{
    return 5 + 2 * registers;
}

// --- CRC ----------------------------------------------------------------------------------------

namespace detail
{
// Entry i of the reflected CRC-16 table: i shifted right eight times, XOR-ing the reflected
// polynomial 0xA001 after each shift that drops a 1 bit.
constexpr std::array<uint16_t, 256> reflectedCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001u : crc >> 1;
        table[i] = static_cast<uint16_t>(crc);
    }
    return table;
}
constexpr std::array<uint8_t, 256> crcTableByte(bool high)
{
    const auto full = reflectedCrcTable();
    std::array<uint8_t, 256> table{};
    for (size_t i = 0; i < 256; ++i)
        table[i] = static_cast<uint8_t>(high ? full[i] >> 8 : full[i] & 0xFF);
    return table;
}
} // namespace detail

// The two byte tables printed in the Modbus serial-line guide: the low and the high bytes of the
// reflected table.
inline constexpr std::array<uint8_t, 256> CrcTableLow = detail::crcTableByte(false);
inline constexpr std::array<uint8_t, 256> CrcTableHigh = detail::crcTableByte(true);

static_assert(CrcTableLow[0] == 0x00 && CrcTableLow[1] == 0xC1 && CrcTableLow[2] == 0x81 &&
              CrcTableLow[3] == 0x40);
static_assert(CrcTableHigh[0] == 0x00 && CrcTableHigh[1] == 0xC0 && CrcTableHigh[2] == 0xC1 &&
              CrcTableHigh[3] == 0x01);

// The CRC as the two bytes go on the wire: the first byte sent in the high half of the result,
// the second in the low half. The first byte is the low byte of the CRC-16/MODBUS value.
template <typename Byte> constexpr uint16_t crc16WireOrder(const Byte *bytes, size_t length)
{
    uint8_t first = 0xFF;
    uint8_t second = 0xFF;
    for (size_t k = 0; k < length; ++k) {
        const uint8_t i = first ^ static_cast<uint8_t>(bytes[k]);
        first = second ^ CrcTableLow[i];
        second = CrcTableHigh[i];
    }
    return static_cast<uint16_t>(first << 8 | second);
}

// CRC-16/MODBUS: polynomial 0x8005 reflected, initial value 0xFFFF, no final XOR.
template <typename Byte> constexpr uint16_t crc16(const Byte *bytes, size_t length)
{
    const uint16_t wire = crc16WireOrder(bytes, length);
    return static_cast<uint16_t>(wire << 8 | wire >> 8);
}

static_assert(crc16("123456789", 9) == 0x4B37, "the CRC-16/MODBUS check value");
static_assert(crc16WireOrder("123456789", 9) == 0x374B);

// --- requests -----------------------------------------------------------------------------------

// Appends the two CRC bytes to the length bytes of frame; returns the new length, or 0 when the
// frame has no room for them.
size_t appendCrc(std::span<uint8_t> frame, size_t length);

// An 8-byte request of function 4 (count of registers to read) or function 6 (value to write).
// Returns 8, or 0 when frame is shorter than that.
size_t buildRequest(std::span<uint8_t> frame, uint8_t unit, uint8_t function, uint16_t address,
                    uint16_t countOrValue);

// A function-16 request writing values.size() registers from first. Returns its length,
// 9 + 2 x count, or 0 when there are no values, more than a frame can carry, or frame is too short.
size_t buildWriteMultiple(std::span<uint8_t> frame, uint8_t unit, uint16_t first,
                          std::span<const uint16_t> values);

// --- replies ------------------------------------------------------------------------------------

// True when the last two of the received bytes are the CRC of those before them. Fewer than four
// bytes are no frame and never pass.
bool replyCrcOk(std::span<const uint8_t> reply);

enum class ReplyKind {
    Correct,   // the answer the request asked for
    Exception, // the unit refused the request (see ReplyCheck::exceptionCode)
    Malformed, // a correct CRC around a frame that does not answer the request
    CrcError,  // no intact frame: wrong CRC, a frame still arriving, or under four bytes
};

struct ReplyCheck {
    ReplyKind kind = ReplyKind::CrcError;
    uint8_t exceptionCode = 0; // for ReplyKind::Exception
};

// Classifies the bytes received after request was sent. What the reply must look like follows
// from the request: for function 4 the unit address, the function, a byte count of twice the
// registers asked for and exactly 5 + that count bytes; for functions 6 and 16 the 8-byte echo of
// the request's address, function, register address and value or count. An exception reply is
// the request's unit address, its function code with bit 7 set and one exception code, 5 bytes.
// A request that is none of ours makes every intact reply malformed. No byte beyond reply.size()
// is read.
ReplyCheck classifyReply(std::span<const uint8_t> request, std::span<const uint8_t> reply);

// The register data of a function-4 reply: fills registers when the reply is a function-4 frame
// carrying exactly registers.size() registers (byte count and length agree), else returns false
// and leaves registers alone. Register k is bytes 3 + 2k (high) and 4 + 2k (low).
bool readRegisters(std::span<const uint8_t> reply, std::span<uint16_t> registers);

// --- the KSB-7's registers ----------------------------------------------------------------------

struct Block {
    uint16_t first;
    uint16_t count;
};

// The seven configuration blocks in the order of the write and read steps 1 to 7: they are not
// visited in address order.
inline constexpr std::array<Block, 7> ConfigurationBlocks = {{
    {257, 3},  // step 1: mains frequency, earth-fault method, self-diagnosis, transformers
    {267, 1},  // step 2: breaker lockout delay
    {277, 6},  // step 3: breaker supervision
    {384, 11}, // step 4: phase overcurrent
    {395, 11}, // step 5: earth fault
    {262, 5},  // step 6: output relays
    {269, 4},  // step 7: digital inputs
}};
inline constexpr int WriteSteps = 7;
inline constexpr int LastTripStep = 8; // the last read step
inline constexpr int CommandStep = 0;
inline constexpr int StateStep = 99;

inline constexpr uint16_t CommandRegister = 128; // function 6, value = command code
inline constexpr Block StateBlock = {517, 2};    // outputs, inputs
inline constexpr Block LastTripBlock = {529, 3}; // cause and date, time
inline constexpr uint8_t MinUnitAddress = 1;
inline constexpr uint8_t MaxUnitAddress = 247;

// The block a read step fetches: 1..7 configuration, 8 last trip, 99 input/output state; the
// count is 0 for any other step.
constexpr Block readBlock(int step)
{
    if (step >= 1 && step <= WriteSteps)
        return ConfigurationBlocks[static_cast<size_t>(step - 1)];
    if (step == LastTripStep)
        return LastTripBlock;
    if (step == StateStep)
        return StateBlock;
    return {0, 0};
}

} // namespace qvoksb::modbus
