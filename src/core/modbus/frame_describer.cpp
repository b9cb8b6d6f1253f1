#include "core/modbus/frame_describer.h"

#include "core/modbus/modbus_rtu.h"

#include <algorithm>
#include <vector>

namespace qvoksb::modbus
{

namespace
{

unsigned word(std::span<const uint8_t> frame, size_t at)
{
    return static_cast<unsigned>(frame[at]) << 8 | frame[at + 1];
}

bool isRead(uint8_t function)
{
    return function == FunctionReadInputRegisters || function == FunctionReadHoldingRegisters;
}

std::string functionPrefix(uint8_t function)
{
    return "ф." + std::to_string(function) + " ";
}

// "257–259 (3 рег.)", or "267 (1 рег.)".
std::string registerRange(unsigned first, unsigned count)
{
    std::string text = std::to_string(first);
    if (count > 1)
        text += "–" + std::to_string(first + count - 1);
    return text + " (" + std::to_string(count) + " рег.)";
}

// "257=1600 258=100 259=100": count registers from byte at of frame.
std::string registerValues(std::span<const uint8_t> frame, size_t at, unsigned first,
                           unsigned count)
{
    std::string text;
    for (unsigned k = 0; k < count; ++k) {
        if (k)
            text += ' ';
        text += std::to_string(first + k) + "=" + std::to_string(word(frame, at + 2 * k));
    }
    return text;
}

// A function-3 exchange judged as the same exchange with function 4 would be.
ReplyCheck classifyAsFunction4(std::span<const uint8_t> request, std::span<const uint8_t> reply)
{
    std::vector<uint8_t> q(request.begin(), request.end());
    std::vector<uint8_t> r(reply.begin(), reply.end());
    q[1] = FunctionReadInputRegisters;
    if (r[1] == FunctionReadHoldingRegisters ||
        r[1] == (FunctionReadHoldingRegisters | ExceptionBit))
        r[1] = static_cast<uint8_t>((r[1] & ExceptionBit) | FunctionReadInputRegisters);
    appendCrc(q, q.size() - 2);
    appendCrc(r, r.size() - 2);
    return classifyReply(q, r);
}

// Why an intact frame does not answer the request.
std::string whyMalformed(std::span<const uint8_t> request, std::span<const uint8_t> reply)
{
    if (request.size() < MinimumFrameBytes)
        return "";
    if (reply[0] != request[0])
        return ": от блока " + std::to_string(reply[0]) + " вместо " + std::to_string(request[0]);
    const uint8_t function = reply[1] & static_cast<uint8_t>(~ExceptionBit);
    if (function != request[1])
        return ": функция " + std::to_string(function) + " вместо " + std::to_string(request[1]);
    return ": " + std::to_string(reply.size()) + " байт не по запросу";
}

} // namespace

std::string hexBytes(std::span<const uint8_t> bytes, size_t maxBytes)
{
    static const char digits[] = "0123456789ABCDEF";
    const size_t shown = std::min(bytes.size(), maxBytes);
    std::string text;
    text.reserve(shown * 3 + 32);
    for (size_t i = 0; i < shown; ++i) {
        if (i)
            text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0xF];
    }
    if (shown < bytes.size())
        text += " … ещё " + std::to_string(bytes.size() - shown) + " байт";
    return text;
}

std::string describeRequest(std::span<const uint8_t> request)
{
    if (request.size() < MinimumFrameBytes)
        return "обрывок кадра (" + std::to_string(request.size()) + " байт)";
    if (!replyCrcOk(request))
        return "ошибка CRC";
    const uint8_t function = request[1];
    const std::string prefix = functionPrefix(function);
    if (isRead(function) && request.size() == ReadRequestBytes)
        return prefix + "чтение " + registerRange(word(request, 2), word(request, 4));
    if (function == FunctionWriteSingleRegister && request.size() == ReadRequestBytes)
        return prefix + "запись " + std::to_string(word(request, 2)) + " = " +
               std::to_string(word(request, 4));
    if (function == FunctionWriteMultipleRegisters && request.size() >= 9) {
        const unsigned count = word(request, 4);
        if (request[6] == 2 * count && request.size() == writeRequestBytes(count))
            return prefix + "запись " + registerRange(word(request, 2), count) + ": " +
                   registerValues(request, 7, word(request, 2), count);
    }
    return prefix + "(кадр не разобран, " + std::to_string(request.size()) + " байт)";
}

std::string describeReply(std::span<const uint8_t> request, std::span<const uint8_t> reply)
{
    if (!replyCrcOk(reply))
        return reply.empty() ? "ошибка CRC"
                             : "ошибка CRC (" + std::to_string(reply.size()) + " байт)";
    const bool holding = request.size() == ReadRequestBytes && replyCrcOk(request) &&
                         request[1] == FunctionReadHoldingRegisters;
    const ReplyCheck check =
        holding ? classifyAsFunction4(request, reply) : classifyReply(request, reply);
    const uint8_t function = reply[1] & static_cast<uint8_t>(~ExceptionBit);
    const std::string prefix = functionPrefix(function);
    switch (check.kind) {
    case ReplyKind::CrcError:
        return "ошибка CRC";
    case ReplyKind::Malformed:
        return "неверный ответ" + whyMalformed(request, reply);
    case ReplyKind::Exception: {
        const std::string_view meaning = exceptionMeaning(check.exceptionCode);
        return prefix + "отказ: " + std::string(meaning) + " (код " +
               std::to_string(check.exceptionCode) + ")";
    }
    case ReplyKind::Correct:
        break;
    }
    // A correct reply answers a request that was read above, so its fields are there.
    if (isRead(request[1]))
        return prefix +
               "прочитано: " + registerValues(reply, 3, word(request, 2), word(request, 4));
    if (request[1] == FunctionWriteSingleRegister)
        return prefix + "записано: " + std::to_string(word(reply, 2)) + " = " +
               std::to_string(word(reply, 4));
    return prefix + "записано: " + registerRange(word(reply, 2), word(reply, 4));
}

} // namespace qvoksb::modbus
