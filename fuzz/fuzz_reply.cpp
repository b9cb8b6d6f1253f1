// The reply check, the decoding of a reply and the words the exchange log gives both frames, on
// arbitrary bytes. The first input byte tells
// which request was sent: its low four bits the step (0..6 configuration steps 1..7, 7 the last
// trip, 8 the input/output state, 9 and above the command), bit 4 the write form of a
// configuration step, bits 5..7 the unit address less one. The rest of the input is the reply.
#include "core/modbus/frame_describer.h"
#include "core/modbus/modbus_rtu.h"
#include "core/settings/trip_record.h"

#include <algorithm>
#include <array>
#include <cstdlib>

using namespace qvoksb;
using namespace qvoksb::modbus;

namespace
{

void require(bool condition)
{
    if (!condition)
        std::abort();
}

// The request of the chosen step, as the exchange window builds it.
size_t buildStepRequest(uint8_t selector, std::array<uint8_t, 64> &request)
{
    static constexpr int steps[] = {1, 2, 3, 4, 5, 6, 7, LastTripStep, StateStep, CommandStep};
    const size_t index = selector & 0x0F;
    const int step = steps[index < std::size(steps) ? index : std::size(steps) - 1];
    const uint8_t unit = static_cast<uint8_t>(1 + (selector >> 5));
    if (step == CommandStep)
        return buildRequest(request, unit, FunctionWriteSingleRegister, CommandRegister, index);
    const Block block = readBlock(step);
    if ((selector & 0x10) && step <= WriteSteps) { // the write step of the same block
        std::array<uint16_t, 16> values{};
        for (size_t k = 0; k < block.count; ++k)
            values[k] = static_cast<uint16_t>(selector * 257 + k);
        return buildWriteMultiple(request, unit, block.first,
                                  std::span<const uint16_t>(values.data(), block.count));
    }
    return buildRequest(request, unit, FunctionReadInputRegisters, block.first, block.count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    std::array<uint8_t, 64> requestBytes{};
    const size_t requestLength = buildStepRequest(data[0], requestBytes);
    require(requestLength >= ReadRequestBytes);
    const std::span<const uint8_t> request(requestBytes.data(), requestLength);
    const std::span<const uint8_t> reply(data + 1, size - 1);

    const ReplyCheck check = classifyReply(request, reply);
    require((check.kind == ReplyKind::CrcError) == !replyCrcOk(reply));
    // The log reads a reply as the exchange does, and any bytes may stand for a request too, as
    // from a master other than ours.
    const std::string meaning = describeReply(request, reply);
    require((meaning.rfind("ошибка CRC", 0) == 0) == (check.kind == ReplyKind::CrcError));
    require(!describeRequest(reply).empty() && !hexBytes(reply).empty() == !reply.empty());
    const size_t split = std::min<size_t>(reply.size(), ReadRequestBytes);
    require(!describeReply(reply.first(split), reply.subspan(split)).empty());
    if (check.kind == ReplyKind::Exception) {
        require(reply.size() == ExceptionReplyBytes && reply[1] == (request[1] | ExceptionBit));
        require(!exceptionMeaning(check.exceptionCode).empty());
    }
    if (check.kind != ReplyKind::Correct)
        return 0;
    require(reply[0] == request[0] && reply[1] == request[1]);
    if (request[1] != FunctionReadInputRegisters) {
        require(reply.size() == WriteReplyBytes);
        return 0;
    }

    const size_t count = static_cast<size_t>(request[4] << 8 | request[5]);
    std::array<uint16_t, MaxReadRegisters> registers{};
    require(readRegisters(reply, std::span<uint16_t>(registers.data(), count)));
    require(reply.size() == readReplyBytes(count));
    if (count == LastTripBlock.count) {
        const TripRecord trip = decodeTripRecord(registers[0], registers[1], registers[2]);
        require(trip.cause < 512 && trip.year >= 2000 && trip.year < 2128 && trip.second <= 102);
        require(!tripCauseText(trip.cause).empty() && !tripTimeText(trip).empty());
    }
    return 0;
}
