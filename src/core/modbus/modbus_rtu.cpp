#include "core/modbus/modbus_rtu.h"

namespace qvoksb::modbus
{

namespace
{

uint16_t word(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void putWord(std::span<uint8_t> bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<uint8_t>(value & 0xFF);
}

// What a request of ours asks for, read back from its bytes.
struct Asked {
    bool valid = false;
    uint8_t unit = 0;
    uint8_t function = 0;
    uint16_t count = 0; // registers to read (function 4)
};

Asked whatWasAsked(std::span<const uint8_t> request)
{
    Asked asked;
    if (request.size() < ReadRequestBytes || !replyCrcOk(request))
        return asked;
    asked.unit = request[0];
    asked.function = request[1];
    switch (asked.function) {
    case FunctionReadInputRegisters:
        asked.count = word(request, 4);
        asked.valid = request.size() == ReadRequestBytes && asked.count >= 1 &&
                      asked.count <= MaxReadRegisters;
        break;
    case FunctionWriteSingleRegister:
        asked.valid = request.size() == ReadRequestBytes;
        break;
    case FunctionWriteMultipleRegisters: {
        const uint16_t count = word(request, 4);
        asked.valid = count >= 1 && count <= MaxWriteRegisters && request[6] == 2 * count &&
                      request.size() == writeRequestBytes(count);
        break;
    }
    default:
        break;
    }
    return asked;
}

bool sameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (a[i] != b[i])
            return false;
    return true;
}

} // namespace

std::string_view exceptionMeaning(uint8_t code)
{
    struct Meaning {
        ExceptionCode code;
        std::string_view text;
    };
    static constexpr Meaning meanings[] = {
        {ExceptionCode::IllegalFunction, "функция не поддерживается блоком"},
        {ExceptionCode::IllegalDataAddress, "недопустимый адрес регистра"},
        {ExceptionCode::IllegalDataValue, "недопустимое значение данных"},
        {ExceptionCode::ServerDeviceFailure, "внутренняя ошибка блока"},
        {ExceptionCode::Acknowledge, "запрос принят, выполнение продолжается"},
        {ExceptionCode::ServerDeviceBusy, "блок занят"},
        {ExceptionCode::MemoryParityError, "ошибка памяти блока"},
        {ExceptionCode::GatewayPathUnavailable, "шлюз: путь недоступен"},
        {ExceptionCode::GatewayTargetFailed, "шлюз: блок не отвечает"},
    };
    for (const Meaning &meaning : meanings)
        if (uint8_t(meaning.code) == code)
            return meaning.text;
    return "неизвестный код отказа";
}

size_t appendCrc(std::span<uint8_t> frame, size_t length)
{
    if (length > frame.size() || frame.size() - length < 2)
        return 0;
    const uint16_t wire = crc16WireOrder(frame.data(), length);
    putWord(frame, length, wire);
    return length + 2;
}

size_t buildRequest(std::span<uint8_t> frame, uint8_t unit, uint8_t function, uint16_t address,
                    uint16_t countOrValue)
{
    if (frame.size() < ReadRequestBytes)
        return 0;
    frame[0] = unit;
    frame[1] = function;
    putWord(frame, 2, address);
    putWord(frame, 4, countOrValue);
    return appendCrc(frame, 6);
}

size_t buildWriteMultiple(std::span<uint8_t> frame, uint8_t unit, uint16_t first,
                          std::span<const uint16_t> values)
{
    const size_t count = values.size();
    if (count == 0 || count > MaxWriteRegisters || frame.size() < writeRequestBytes(count))
        return 0;
    frame[0] = unit;
    frame[1] = FunctionWriteMultipleRegisters;
    putWord(frame, 2, first);
    putWord(frame, 4, static_cast<uint16_t>(count));
    frame[6] = static_cast<uint8_t>(2 * count);
    size_t at = 7;
    for (const uint16_t value : values) {
        putWord(frame, at, value);
        at += 2;
    }
    return appendCrc(frame, at);
}

bool replyCrcOk(std::span<const uint8_t> reply)
{
    const size_t n = reply.size();
    if (n < MinimumFrameBytes)
        return false;
    return crc16WireOrder(reply.data(), n - 2) == word(reply, n - 2);
}

ReplyCheck classifyReply(std::span<const uint8_t> request, std::span<const uint8_t> reply)
{
    if (!replyCrcOk(reply))
        return {ReplyKind::CrcError, 0};
    const Asked asked = whatWasAsked(request);
    if (!asked.valid || reply[0] != asked.unit)
        return {ReplyKind::Malformed, 0};

    if (reply[1] == (asked.function | ExceptionBit))
        return reply.size() == ExceptionReplyBytes ? ReplyCheck{ReplyKind::Exception, reply[2]}
                                                   : ReplyCheck{ReplyKind::Malformed, 0};
    if (reply[1] != asked.function)
        return {ReplyKind::Malformed, 0};

    bool correct = false;
    if (asked.function == FunctionReadInputRegisters)
        correct = reply.size() == readReplyBytes(asked.count) && reply[2] == 2 * asked.count;
    else // functions 6 and 16 echo address, function, register and value or count
        correct = reply.size() == WriteReplyBytes && sameBytes(reply, request, 6);
    return {correct ? ReplyKind::Correct : ReplyKind::Malformed, 0};
}

bool readRegisters(std::span<const uint8_t> reply, std::span<uint16_t> registers)
{
    const size_t count = registers.size();
    if (count == 0 || count > MaxReadRegisters || reply.size() != readReplyBytes(count) ||
        reply[1] != FunctionReadInputRegisters || reply[2] != 2 * count)
        return false;
    for (size_t k = 0; k < count; ++k)
        registers[k] = word(reply, 3 + 2 * k);
    return true;
}

} // namespace qvoksb::modbus
