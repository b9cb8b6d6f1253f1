// Modbus RTU frames, the reply check and the last-trip record. The frames are checked against
// known frames of the unit and against libmodbus, an independent Modbus implementation, running
// as an RTU slave on a pseudo-terminal inside the test.
#include "core/modbus/address_list.h"
#include "core/modbus/modbus_rtu.h"
#include "core/settings/trip_record.h"

#include "../frame_bytes.h"
#ifdef QVOKSB_HAVE_SIM
#include "../libmodbus_slave.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace qvoksb;
using namespace qvoksb::modbus;

namespace
{

Bytes readFrame(int step, uint8_t unit)
{
    Bytes frame(8);
    const Block block = readBlock(step);
    EXPECT_EQ(buildRequest(frame, unit, FunctionReadInputRegisters, block.first, block.count), 8u);
    return frame;
}

Bytes writeFrame(uint8_t unit, uint16_t first, const std::vector<uint16_t> &values)
{
    Bytes frame(256);
    frame.resize(buildWriteMultiple(frame, unit, first, values));
    return frame;
}

} // namespace

// --- CRC --------------------------------------------------------------------------------------

TEST(Crc, CheckValueAndWireOrder)
{
    EXPECT_EQ(crc16("123456789", 9), 0x4B37);
    // The first byte on the wire is the low byte of the CRC value.
    EXPECT_EQ(crc16WireOrder("123456789", 9), 0x374B);
}

TEST(Crc, TablesAgreeWithBitwiseCrcOnRandomRuns)
{
    std::mt19937 random(7);
    for (int run = 0; run < 2000; ++run) {
        Bytes bytes(random() % 300);
        for (uint8_t &b : bytes)
            b = static_cast<uint8_t>(random());
        ASSERT_EQ(crc16(bytes.data(), bytes.size()), referenceCrc(bytes, bytes.size()))
            << "run of " << bytes.size() << " bytes";
    }
    // Every table entry is reached by a one-byte run.
    for (unsigned b = 0; b < 256; ++b) {
        const Bytes one{static_cast<uint8_t>(b)};
        ASSERT_EQ(crc16(one.data(), 1), referenceCrc(one, 1)) << b;
    }
}

// --- requests: known frames of the unit ------------------------------------------------------

TEST(Requests, KnownFrames)
{
    EXPECT_EQ(readFrame(1, 0x01), hex("01 04 01 01 00 03 E0 37"));
    EXPECT_EQ(readFrame(1, 0x0A), hex("0A 04 01 01 00 03 E1 4C"));
    EXPECT_EQ(readFrame(StateStep, 1), hex("01 04 02 05 00 02 60 72"));
    EXPECT_EQ(readFrame(LastTripStep, 1), hex("01 04 02 11 00 03 E1 B6"));

    Bytes command(8);
    ASSERT_EQ(buildRequest(command, 1, FunctionWriteSingleRegister, CommandRegister, 1), 8u);
    EXPECT_EQ(command, hex("01 06 00 80 00 01 49 E2"));

    // Write step 2 with the breaker lockout delay 150 ms, carried in tens of milliseconds.
    EXPECT_EQ(writeFrame(1, ConfigurationBlocks[1].first, {15}),
              hex("01 10 01 0B 00 01 02 00 0F F7 EF"));
}

TEST(Requests, WriteFrameLengthsOfTheSevenSteps)
{
    const size_t expected[7] = {15, 11, 21, 31, 31, 19, 17};
    for (size_t s = 0; s < 7; ++s) {
        const std::vector<uint16_t> values(ConfigurationBlocks[s].count, 0xABCD);
        EXPECT_EQ(writeFrame(1, ConfigurationBlocks[s].first, values).size(), expected[s])
            << "step " << s + 1;
    }
}

TEST(Requests, BuildersRefuseWhatDoesNotFit)
{
    Bytes small(7);
    EXPECT_EQ(buildRequest(small, 1, 4, 0, 1), 0u);
    const std::vector<uint16_t> three{1, 2, 3};
    Bytes fourteen(14); // step 1 needs 15
    EXPECT_EQ(buildWriteMultiple(fourteen, 1, 257, three), 0u);
    Bytes big(512);
    EXPECT_EQ(buildWriteMultiple(big, 1, 257, {}), 0u);
    const std::vector<uint16_t> tooMany(MaxWriteRegisters + 1, 0);
    EXPECT_EQ(buildWriteMultiple(big, 1, 0, tooMany), 0u);
    Bytes frame{1, 2, 3};
    EXPECT_EQ(appendCrc(frame, 2), 0u) << "one byte of room is not enough";
    EXPECT_EQ(appendCrc(frame, 4), 0u) << "a length beyond the frame";
}

// --- the CRC check of a reply ------------------------------------------------------------------

TEST(ReplyCrc, PassesOnlyAnIntactFrame)
{
    const Bytes good = hex("01 04 01 01 00 03 E0 37");
    EXPECT_TRUE(replyCrcOk(good));
    Bytes swapped = good;
    std::swap(swapped[6], swapped[7]);
    EXPECT_FALSE(replyCrcOk(swapped));
    // A reply still arriving: four or more bytes in, not all.
    for (size_t n = 4; n < good.size(); ++n)
        EXPECT_FALSE(replyCrcOk(std::span(good.data(), n))) << n << " bytes";
    for (size_t n = 0; n < 4; ++n)
        EXPECT_FALSE(replyCrcOk(std::span(good.data(), n))) << n << " bytes";
    // An exception reply is an intact frame.
    EXPECT_TRUE(replyCrcOk(withCrc(hex("01 84 02 00 00"))));
    // Every single-bit error is caught.
    for (size_t bit = 0; bit < good.size() * 8; ++bit) {
        Bytes spoilt = good;
        spoilt[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(replyCrcOk(spoilt)) << "bit " << bit;
    }
}

// --- against libmodbus ------------------------------------------------------------------------

#ifdef QVOKSB_HAVE_SIM
TEST(Libmodbus, AcceptsOurWritesAndAnswersOurReads)
{
    LibmodbusSlave slave(0x11);
    ASSERT_TRUE(slave.ok()) << "no pseudo-terminal or libmodbus context";
    std::mt19937 random(2024);
    for (int step = 1; step <= WriteSteps; ++step) {
        const Block block = readBlock(step);
        std::vector<uint16_t> values(block.count);
        for (uint16_t &v : values)
            v = static_cast<uint16_t>(random());
        const Bytes request = writeFrame(0x11, block.first, values);
        bool rejected = true;
        const Bytes reply = slave.transact(request, &rejected);
        ASSERT_FALSE(rejected) << "libmodbus refused write step " << step;
        EXPECT_EQ(classifyReply(request, reply).kind, ReplyKind::Correct) << "write " << step;
        for (size_t k = 0; k < values.size(); ++k)
            EXPECT_EQ(slave.reg(block.first + int(k)), values[k]) << "step " << step << " k " << k;

        // The same block read back with function 4.
        const Bytes read = readFrame(step, 0x11);
        const Bytes answer = slave.transact(read, &rejected);
        ASSERT_FALSE(rejected);
        ASSERT_EQ(classifyReply(read, answer).kind, ReplyKind::Correct) << "read " << step;
        std::vector<uint16_t> back(block.count);
        ASSERT_TRUE(readRegisters(answer, back));
        EXPECT_EQ(back, values) << "step " << step;
    }
    for (int step : {LastTripStep, StateStep}) {
        const Block block = readBlock(step);
        for (int k = 0; k < block.count; ++k)
            slave.reg(block.first + k) = static_cast<uint16_t>(0x1234 + 0x1111 * k);
        const Bytes read = readFrame(step, 0x11);
        const Bytes answer = slave.transact(read);
        ASSERT_EQ(classifyReply(read, answer).kind, ReplyKind::Correct) << "step " << step;
        std::vector<uint16_t> back(block.count);
        ASSERT_TRUE(readRegisters(answer, back));
        for (int k = 0; k < block.count; ++k)
            EXPECT_EQ(back[size_t(k)], 0x1234 + 0x1111 * k);
    }

    Bytes command(8);
    buildRequest(command, 0x11, FunctionWriteSingleRegister, CommandRegister, 22);
    const Bytes echo = slave.transact(command);
    EXPECT_EQ(classifyReply(command, echo).kind, ReplyKind::Correct);
    EXPECT_EQ(slave.reg(CommandRegister), 22);
}

TEST(Libmodbus, RejectsASpoiltCrcAndRefusesUnknownRegisters)
{
    LibmodbusSlave slave(1);
    ASSERT_TRUE(slave.ok());
    Bytes spoilt = readFrame(1, 1);
    spoilt[7] ^= 0x01;
    bool rejected = false;
    EXPECT_TRUE(slave.transact(spoilt, &rejected).empty());
    EXPECT_TRUE(rejected);

    // Beyond libmodbus's map: it answers with exception 2, illegal data address.
    Bytes outside(8);
    buildRequest(outside, 1, FunctionReadInputRegisters, LibmodbusSlave::Registers - 1, 3);
    const Bytes exception = slave.transact(outside);
    const ReplyCheck check = classifyReply(outside, exception);
    EXPECT_EQ(check.kind, ReplyKind::Exception);
    EXPECT_EQ(check.exceptionCode, 2);

    for (unsigned code : {1u, 3u, 4u, 6u}) {
        const Bytes request = writeFrame(1, 384, std::vector<uint16_t>(11, 5));
        const ReplyCheck refused = classifyReply(request, slave.refuse(request, code));
        EXPECT_EQ(refused.kind, ReplyKind::Exception) << code;
        EXPECT_EQ(refused.exceptionCode, code);
    }
}

#else
TEST(Libmodbus, AcceptsOurWritesAndAnswersOurReads)
{
    GTEST_SKIP() << "libmodbus runs as the peer on a pseudo-terminal: POSIX only";
}
#endif

// --- classification ----------------------------------------------------------------------------

struct ClassCase {
    const char *name;
    Bytes request;
    Bytes reply;
    ReplyKind kind;
};

TEST(Classification, EveryClass)
{
    const Bytes read3 = hex("01 04 01 01 00 03 E0 37");
    const Bytes command = hex("01 06 00 80 00 01 49 E2");
    const Bytes write2 = hex("01 10 01 0B 00 01 02 00 0F F7 EF");
    const Bytes readReply = withCrc(hex("01 04 06 00 01 00 02 00 03 00 00"));
    const std::vector<ClassCase> cases = {
        {"read reply", read3, readReply, ReplyKind::Correct},
        {"command echo", command, command, ReplyKind::Correct},
        {"write echo", write2, withCrc(hex("01 10 01 0B 00 01 00 00")), ReplyKind::Correct},
        {"read refused", read3, withCrc(hex("01 84 02 00 00")), ReplyKind::Exception},
        {"command refused", command, withCrc(hex("01 86 03 00 00")), ReplyKind::Exception},
        {"write refused", write2, withCrc(hex("01 90 04 00 00")), ReplyKind::Exception},
        {"another unit", read3, withCrc(hex("02 04 06 00 01 00 02 00 03 00 00")),
         ReplyKind::Malformed},
        {"another unit's exception", read3, withCrc(hex("02 84 02 00 00")), ReplyKind::Malformed},
        {"another function", read3, withCrc(hex("01 03 06 00 01 00 02 00 03 00 00")),
         ReplyKind::Malformed},
        {"another function refused", read3, withCrc(hex("01 83 02 00 00")), ReplyKind::Malformed},
        {"exception of 6 bytes", read3, withCrc(hex("01 84 02 00 00 00")), ReplyKind::Malformed},
        {"exception of 4 bytes", read3, withCrc(hex("01 84 00 00")), ReplyKind::Malformed},
        {"one register short", read3, withCrc(hex("01 04 04 00 01 00 02 00 00")),
         ReplyKind::Malformed},
        {"one register long", read3, withCrc(hex("01 04 08 00 01 00 02 00 03 00 04 00 00")),
         ReplyKind::Malformed},
        {"byte count lies, length right", read3, withCrc(hex("01 04 04 00 01 00 02 00 03 00 00")),
         ReplyKind::Malformed},
        {"byte count right, one byte short", read3, withCrc(hex("01 04 06 00 01 00 02 00 00 00")),
         ReplyKind::Malformed},
        {"trailing byte", read3, withCrc(hex("01 04 06 00 01 00 02 00 03 FF 00 00")),
         ReplyKind::Malformed},
        {"echo of another value", command, withCrc(hex("01 06 00 80 00 02 00 00")),
         ReplyKind::Malformed},
        {"echo of another register", command, withCrc(hex("01 06 00 81 00 01 00 00")),
         ReplyKind::Malformed},
        {"echo of another count", write2, withCrc(hex("01 10 01 0B 00 02 00 00")),
         ReplyKind::Malformed},
        {"echo of another address", write2, withCrc(hex("01 10 01 0C 00 01 00 00")),
         ReplyKind::Malformed},
        {"echo too long", command, withCrc(hex("01 06 00 80 00 01 00 00 00")),
         ReplyKind::Malformed},
        {"echo too short", write2, withCrc(hex("01 10 01 0B 00 00 00")), ReplyKind::Malformed},
        {"no request was built", {}, readReply, ReplyKind::Malformed},
        {"request with a spoilt CRC", hex("01 04 01 01 00 03 E0 38"), readReply,
         ReplyKind::Malformed},
        {"read of no registers", withCrc(hex("01 04 01 01 00 00 00 00")),
         withCrc(hex("01 04 00 00 00")), ReplyKind::Malformed},
        {"wrong CRC", read3, hex("01 04 06 00 01 00 02 00 03 00 00"), ReplyKind::CrcError},
        {"CRC bytes swapped", command, hex("01 06 00 80 00 01 E2 49"), ReplyKind::CrcError},
        {"three bytes", read3, hex("01 04 06"), ReplyKind::CrcError},
        {"nothing", read3, {}, ReplyKind::CrcError},
    };
    for (const ClassCase &c : cases)
        EXPECT_EQ(int(classifyReply(c.request, c.reply).kind), int(c.kind)) << c.name;

    EXPECT_EQ(classifyReply(read3, withCrc(hex("01 84 0B 00 00"))).exceptionCode, 0x0B);
}

TEST(Classification, ShortReplyAfterALongOneReadsNothingLeftOver)
{
    // The buffer still holds the long reply of step 4 when a 5-byte exception arrives at its start.
    const Bytes request = readFrame(4, 1);
    Bytes buffer = withCrc(hex("01 04 16 "
                               "00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09 00 0A 00 0B "
                               "00 00"));
    ASSERT_EQ(classifyReply(request, buffer).kind, ReplyKind::Correct);
    const Bytes exception = withCrc(hex("01 84 04 00 00"));
    std::copy(exception.begin(), exception.end(), buffer.begin());
    const std::span<const uint8_t> received(buffer.data(), exception.size());
    EXPECT_EQ(classifyReply(request, received).kind, ReplyKind::Exception);
    std::vector<uint16_t> registers(11, 0x5555);
    EXPECT_FALSE(readRegisters(received, registers));
    EXPECT_EQ(registers, std::vector<uint16_t>(11, 0x5555));

    // A reply one register short, with a CRC that fits, leaves the leftovers unread too.
    const Bytes shorter =
        withCrc(hex("01 04 14 00 01 00 02 00 03 00 04 00 05 00 06 00 07 00 08 00 09 00 0A 00 00"));
    std::copy(shorter.begin(), shorter.end(), buffer.begin());
    const std::span<const uint8_t> shortReceived(buffer.data(), shorter.size());
    EXPECT_EQ(classifyReply(request, shortReceived).kind, ReplyKind::Malformed);
    EXPECT_FALSE(readRegisters(shortReceived, registers));
    EXPECT_EQ(registers, std::vector<uint16_t>(11, 0x5555));
}

TEST(Classification, ExceptionMeanings)
{
    std::set<std::string_view> texts;
    for (uint8_t code : {1, 2, 3, 4, 5, 6, 8, 10, 11})
        texts.insert(exceptionMeaning(code));
    EXPECT_EQ(texts.size(), 9u) << "every standard code has its own text";
    const std::string_view unknown = exceptionMeaning(0x07);
    EXPECT_EQ(texts.count(unknown), 0u);
    EXPECT_EQ(exceptionMeaning(0), unknown);
    EXPECT_EQ(exceptionMeaning(0xFF), unknown);
}

// --- last trip --------------------------------------------------------------------------------

TEST(LastTrip, KnownRecords)
{
    TripRecord t = decodeTripRecord(0x1409, 0x1967, 0x4995);
    EXPECT_EQ(t.cause, 40u);
    EXPECT_EQ(tripCauseText(t.cause), "ВРЕМЯЗАВИСИМАЯ МТЗ В ФАЗАХ");
    EXPECT_EQ(tripTimeText(t), "11.6.2009 7:18:40");

    t = decodeTripRecord(0, 0, 0);
    EXPECT_EQ(tripCauseText(t.cause), "СОБЫТИЯ ОТСУТСТВУЮТ");
    EXPECT_EQ(tripTimeText(t), "0.0.2000 0:0:0");

    EXPECT_EQ(decodeTripRecord(0xFF80, 0, 0).cause, 511u);
    EXPECT_EQ(decodeTripRecord(0xFFFF, 0, 0).year, 2127u);
    EXPECT_EQ(decodeTripRecord(0, 0, 599).second, 59u);
    EXPECT_EQ(decodeTripRecord(0, 0, 1023).second, 102u);
    // Bits 15 and 14 of register 530 are not used; every field at its maximum.
    EXPECT_EQ(tripTimeText(decodeTripRecord(0x0000, 0xFFFF, 0xFFFF)), "31.15.2000 31:63:102");
}

TEST(LastTrip, UnknownCausesNameTheirCode)
{
    EXPECT_EQ(tripCauseText(2), "СОБЫТИЕ НЕИЗВЕСТНО - КОД СОБЫТИЯ: 2");
    EXPECT_EQ(tripCauseText(511), "СОБЫТИЕ НЕИЗВЕСТНО - КОД СОБЫТИЯ: 511");
    EXPECT_EQ(tripCauseText(26), "ВЫКЛ. В СОСТОЯНИИ \"РАЗОМКНУТ\"");
    EXPECT_EQ(tripCauseText(33), "ВЫКЛ. В СОСТОЯНИИ \"ЗАЗЕМЛЕН\"");
    EXPECT_EQ(tripCauseText(54), "ИНФОРМАЦИЯ О ТЕХН. ОБСЛУЖИВАНИИ УДАЛЕНА");

    // The codes the unit has texts for; every other code of the nine bits is unknown.
    std::set<unsigned> known{0, 1};
    for (unsigned c = 4; c <= 11; ++c)
        known.insert(c);
    for (unsigned c = 20; c <= 27; ++c)
        known.insert(c);
    for (unsigned c = 32; c <= 37; ++c)
        known.insert(c);
    for (unsigned c = 40; c <= 45; ++c)
        known.insert(c);
    for (unsigned c = 50; c <= 54; ++c)
        known.insert(c);
    std::set<std::string_view> texts;
    for (unsigned code = 0; code < 512; ++code) {
        const bool isKnown = !knownTripCause(code).empty();
        EXPECT_EQ(isKnown, known.count(code) == 1) << "code " << code;
        if (isKnown)
            texts.insert(knownTripCause(code));
        else
            EXPECT_EQ(tripCauseText(code),
                      std::string(UnknownTripCausePrefix) + std::to_string(code));
    }
    EXPECT_EQ(texts.size(), known.size()) << "two codes share a text";
}

// Numbers past the largest address, however many digits they have, are refused as out of range
// (and never overflow while being read).
TEST(AddressList, LargeNumbersAreOutOfRange)
{
    for (const char *text : {"F8", "FFFFFFFF", "0x7FFFFFFF", "100000000", "FFFFFFFFFFFFFFFFFFFF"}) {
        const AddressList list = parseAddressList(text, 16);
        EXPECT_TRUE(list.addresses.empty()) << text;
        EXPECT_EQ(list.problem, std::string("адрес «") + text + "» вне диапазона 1..F7");
    }
    EXPECT_EQ(parseAddressList("4294967297", 10).problem, "адрес «4294967297» вне диапазона 1..247");
    EXPECT_EQ(parseAddressList("F7", 16).addresses, std::vector<uint8_t>{0xF7});
}
