#include "simulated_unit.h"

#include "core/exchange/exchange_engine.h"
#include "line.h"
#include "core/modbus/modbus_rtu.h"
#include "traffic.h"
#include "unit_registers.h"

#include <modbus.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <random>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ksb7sim
{

using Clock = std::chrono::steady_clock;

namespace
{

namespace rtu = qvoksb::modbus;
using qvoksb::modbus::FunctionReadHoldingRegisters;
using qvoksb::modbus::FunctionReadInputRegisters;
using qvoksb::modbus::FunctionWriteMultipleRegisters;
using qvoksb::modbus::FunctionWriteSingleRegister;

constexpr int refusalCode(rtu::ExceptionCode code)
{
    return static_cast<int>(code);
}

std::string systemError(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

unsigned word(const uint8_t *bytes)
{
    return static_cast<unsigned>(bytes[0]) << 8 | bytes[1];
}

size_t pendingBytes(int fd)
{
    int count = 0;
    if (::ioctl(fd, FIONREAD, &count) != 0 || count < 0)
        return 0;
    return static_cast<size_t>(count);
}

std::vector<uint8_t> readPending(int fd)
{
    std::vector<uint8_t> bytes(pendingBytes(fd));
    if (bytes.empty())
        return bytes;
    const ssize_t got = ::read(fd, bytes.data(), bytes.size());
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

std::string ordinal(long n)
{
    return "#" + std::to_string(n);
}

// The unit takes this long from the end of a request to the start of its reply.
constexpr int unitAnswersMs = 10;

// How long bytes take on a 9600 bit/s line, ten bits a character, in whole milliseconds.
int wireMs(size_t bytes)
{
    return static_cast<int>(bytes * 10 * 1000 / 9600) + 1;
}

// Whether a request touches the block that starts at blockFirst (or, when no block starts
// there, that register).
bool touches(const uint8_t *request, int blockFirst)
{
    if (blockFirst < 0)
        return false;
    const unsigned function = request[1];
    const int first = static_cast<int>(word(request + 2));
    const int count =
        function == FunctionWriteSingleRegister ? 1 : static_cast<int>(word(request + 4));
    int blockCount = 1;
    for (const Block &block : blocks()) {
        if (block.first == blockFirst)
            blockCount = block.count;
    }
    return first < blockFirst + blockCount && blockFirst < first + count;
}

} // namespace

// The unit: its registers, which libmodbus reads and writes as the requests say, the values it
// refuses, the commands it carries out, its clock for the relays' pulses and the last trip, and
// the faults it plays. It answers on a line of its own or on another unit's.
struct SimulatedUnit::Impl final : Station {
    Impl();
    ~Impl() override;

    // On a line of its own, or with a host on the host's line.
    bool start(Impl *host, int portNumber, int address, std::string *error);
    bool openModbus(std::string &error);
    void stop();

    // Station, on the line's thread.
    int address() const override { return unitAddress; }
    bool echoes() const override
    {
        std::lock_guard lock(mutex);
        return faults.echo;
    }
    std::vector<uint8_t> take(const std::vector<uint8_t> &chunk, Outgoing &out,
                              std::vector<std::string> &lines) override;

    // Under mutex.
    std::vector<uint8_t> process(const std::vector<uint8_t> &chunk, Outgoing &out,
                                 std::vector<std::string> &lines);
    int refuse(const uint8_t *request, int length, std::string &reason) const;
    bool faultException(const uint8_t *request) const;
    void shapeReply(std::vector<uint8_t> &reply, unsigned requestFunction, Outgoing &out);
    uint16_t &at(int address) { return mapping->tab_registers[address - FirstRegister]; }
    void refreshOutputs(Clock::time_point now);
    void runCommand(uint16_t code);
    void recordTrip(int cause);

    mutable std::mutex mutex;
    mutable std::condition_variable framesArrived;
    modbus_mapping_t *mapping = nullptr;
    uint16_t *ownInputRegisters = nullptr; // libmodbus's own input array, restored before free
    Faults faults;
    long requestCount = 0;
    long replyCount = 0;
    std::optional<Clock::time_point> silentUntil; // the cable is out until then
    std::vector<std::vector<uint8_t>> frames;
    std::array<std::optional<Clock::time_point>, 4> outputOffAt;
    int lastCommand = 0;
    std::mt19937 random{std::random_device{}()};

    // libmodbus works on its end of a socket pair; the unit writes each request into ours.
    modbus_t *modbus = nullptr;
    int bridge[2] = {-1, -1}; // [0] ours, [1] libmodbus's end

    int unitAddress = 1;
    std::shared_ptr<Line> ownLine = std::make_shared<Line>(*this);
    std::shared_ptr<Line> line = ownLine; // the host's while this unit is a guest on it
    bool guest = false;
    bool started = false;
};

SimulatedUnit::Impl::Impl()
{
    mapping = modbus_mapping_new_start_address(0, 0, 0, 0, FirstRegister, RegisterCount,
                                               FirstRegister, RegisterCount);
    if (!mapping)
        return;
    // What function 16 writes, function 4 reads back: the unit has one set of registers.
    ownInputRegisters = mapping->tab_input_registers;
    mapping->tab_input_registers = mapping->tab_registers;
    for (int address = FirstRegister; address <= LastRegister; ++address)
        at(address) = initialValue(address);
    // A unit from the field has tripped before: on the phase time stage, yesterday morning.
    using namespace std::chrono;
    const auto trip = packTrip(tripAt(CausePhaseTimeOvercurrent,
                                      system_clock::now() - hours(26) - minutes(17) - seconds(24)));
    for (int k = 0; k < 3; ++k)
        at(LastTripRegister + k) = trip[static_cast<size_t>(k)];
}

SimulatedUnit::Impl::~Impl()
{
    stop();
    if (mapping) {
        mapping->tab_input_registers = ownInputRegisters;
        modbus_mapping_free(mapping);
    }
}

bool SimulatedUnit::Impl::start(Impl *host, int portNumber, int address, std::string *error)
{
    std::string why;
    if (started)
        why = host ? "the unit is already running"
                   : "the unit is already running on " + ownLine->linkPath();
    else if (!mapping)
        why = "out of memory for the register map";
    else if (host && (!host->started || host->guest))
        why = "the host unit is not running on a terminal of its own";
    else if (address < 1 || address > 247)
        why = "unit address " + std::to_string(address) + " outside 1..247";
    else {
        unitAddress = address;
        started = true;
        if (openModbus(why) &&
            (host ? host->line->attach(*this, &why) : line->open(portNumber, &why))) {
            if (host) {
                guest = true;
                line = host->line;
            }
            return true;
        }
    }
    if (error)
        *error = why;
    stop();
    return false;
}

bool SimulatedUnit::Impl::openModbus(std::string &error)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, bridge) != 0) {
        error = systemError("socketpair");
        return false;
    }
    ::fcntl(bridge[0], F_SETFL, O_NONBLOCK);

    // libmodbus parses every request and builds every correct reply. It works on its end of a
    // socket pair rather than on the terminal itself: the unit needs to see each raw frame (to
    // print it and to check values before libmodbus stores them) and to spoil replies on purpose.
    modbus = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    if (!modbus) {
        error = systemError("modbus_new_rtu");
        return false;
    }
    modbus_set_slave(modbus, unitAddress);
    modbus_set_socket(modbus, bridge[1]);
    // The whole frame is in the socket before libmodbus reads it: a short frame is short.
    modbus_set_byte_timeout(modbus, 0, 5000);
    modbus_set_indication_timeout(modbus, 0, 100000);
    return true;
}

void SimulatedUnit::Impl::stop()
{
    if (!started)
        return;
    if (guest)
        line->detach(*this);
    else
        line->close();
    if (modbus) {
        modbus_set_socket(modbus, -1);
        modbus_free(modbus);
        modbus = nullptr;
    }
    closeFd(bridge[0]);
    closeFd(bridge[1]);
    line = ownLine;
    guest = false;
    started = false;
}

std::vector<uint8_t> SimulatedUnit::Impl::take(const std::vector<uint8_t> &chunk, Outgoing &out,
                                               std::vector<std::string> &lines)
{
    std::vector<uint8_t> rest;
    {
        std::lock_guard lock(mutex);
        rest = process(chunk, out, lines);
    }
    framesArrived.notify_all();
    return rest;
}

std::vector<uint8_t> SimulatedUnit::Impl::process(const std::vector<uint8_t> &chunk, Outgoing &out,
                                                  std::vector<std::string> &lines)
{
    const std::string stamp = timeStamp() + " <- ";
    const auto ignore = [&](const std::string &why) {
        frames.push_back(chunk);
        lines.push_back(stamp + hexBytes(chunk) + "  " + why);
        return std::vector<uint8_t>();
    };
    if (chunk.size() < 4)
        return ignore("too short for a frame, ignored");
    if (chunk[0] != unitAddress) {
        // The configurator never broadcasts; a unit on its own line has nothing to do with them.
        return ignore(chunk[0] == 0 ? std::string("broadcast, ignored")
                                    : "for unit " + std::to_string(chunk[0]) + ", ignored");
    }

    [[maybe_unused]] ssize_t written = ::write(bridge[0], chunk.data(), chunk.size());
    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH] = {};
    const int length = modbus_receive(modbus, request);
    const int receiveError = errno;
    readPending(bridge[1]); // what libmodbus left: the rest of the chunk, or a broken frame
    if (length <= 0) {
        std::string why = receiveError == EMBBADCRC   ? "bad CRC"
                          : receiveError == ETIMEDOUT ? "incomplete frame"
                                                      : modbus_strerror(receiveError);
        return ignore(describeRequest(chunk) + "; " + why + ", ignored");
    }
    const std::vector<uint8_t> frame(chunk.begin(), chunk.begin() + length);
    std::vector<uint8_t> rest(chunk.begin() + length, chunk.end());
    frames.push_back(frame);
    ++requestCount;
    const std::string line = stamp + hexBytes(frame) + "  " + describeRequest(frame);
    if (faults.silent) {
        lines.push_back(line + "; silent, no reply");
        return rest;
    }
    if (faults.silentForMs > 0 && requestCount >= faults.silentFromRequest) {
        if (!silentUntil)
            silentUntil = Clock::now() + std::chrono::milliseconds(faults.silentForMs);
        if (Clock::now() < *silentUntil) {
            lines.push_back(line + "; cable out, not heard (fault)");
            return rest;
        }
    }
    if (faults.dropEvery > 0 && requestCount % faults.dropEvery == 0) {
        lines.push_back(line + "; no reply to request " + ordinal(requestCount) + " (fault)");
        return rest;
    }
    lines.push_back(line);
    if (faults.vanishOnNextRequest ||
        (faults.vanishAtRequest > 0 && requestCount == faults.vanishAtRequest)) {
        faults.vanishOnNextRequest = false;
        faults.vanishAtRequest = 0;
        out.vanish = true;
        out.vanishDowntimeMs = faults.vanishDowntimeMs;
    }

    refreshOutputs(Clock::now());
    std::string reason;
    int exception = refuse(request, length, reason);
    if (!exception && faultException(request)) {
        exception = faults.exceptionCode;
        reason = "fault";
    }
    const unsigned function = request[1];
    const bool wroteCommand =
        !exception &&
        (function == FunctionWriteSingleRegister || function == FunctionWriteMultipleRegisters) &&
        word(request + 2) == CommandRegister;
    const int sent = exception
                         ? modbus_reply_exception(modbus, request, static_cast<unsigned>(exception))
                         : modbus_reply(modbus, request, length, mapping);
    std::vector<uint8_t> reply = readPending(bridge[0]);
    if (sent < 0 || reply.empty()) {
        lines.push_back(timeStamp() + " !! libmodbus gave no reply: " + modbus_strerror(errno));
        return rest;
    }
    if (wroteCommand) {
        runCommand(at(CommandRegister));
        at(CommandRegister) = 0; // a command is carried out, not kept
    }
    std::string altered;
    if (!exception &&
        (function == FunctionWriteSingleRegister || function == FunctionWriteMultipleRegisters) &&
        faults.alterRegister >= FirstRegister && faults.alterRegister <= LastRegister) {
        const int first = static_cast<int>(word(request + 2));
        const int count =
            function == FunctionWriteSingleRegister ? 1 : static_cast<int>(word(request + 4));
        if (faults.alterRegister >= first && faults.alterRegister < first + count) {
            at(faults.alterRegister) = faults.alterValue;
            altered = "; register " + std::to_string(faults.alterRegister) + " stored as " +
                      std::to_string(faults.alterValue) + " (fault)";
        }
    }
    ++replyCount;
    out.note = describeReply(std::span<const uint8_t>(request, size_t(length)), reply) +
               (reason.empty() ? "" : "; " + reason) + altered;
    const int first = static_cast<int>(word(request + 2));
    if (!exception &&
        (function == FunctionReadInputRegisters || function == FunctionReadHoldingRegisters) &&
        first <= LastTripRegister && first + static_cast<int>(word(request + 4)) > LastRegister)
        out.note += "; last trip: cause " +
                    describeTrip(unpackTrip(at(LastTripRegister), at(LastTripRegister + 1),
                                            at(LastTripRegister + 2)));
    shapeReply(reply, function, out);
    out.bytes = std::move(reply);
    // A pseudo-terminal has no bit rate: the reply comes no sooner than the request and the
    // reply take on a 9600 bit/s line, and the unit's own few milliseconds to answer.
    out.delayMs = std::max(0, faults.delayMs) + wireMs(size_t(length)) + unitAnswersMs +
                  wireMs(out.bytes.size());
    if (faults.delayBlockMs > 0 && touches(request, faults.delayBlockStart)) {
        out.delayMs += faults.delayBlockMs;
        out.note += "; " + std::to_string(faults.delayBlockMs) + " ms late (fault)";
    }
    for (int k = 0; k < faults.noiseBytes; ++k)
        out.noise.push_back(static_cast<uint8_t>(random()));
    out.splitPauseMs = std::max(0, faults.splitPauseMs);
    return rest;
}

int SimulatedUnit::Impl::refuse(const uint8_t *request, int length, std::string &reason) const
{
    const unsigned function = request[1];
    const int first = static_cast<int>(word(request + 2));
    const int count = static_cast<int>(word(request + 4));
    switch (function) {
    case FunctionReadHoldingRegisters:
    case FunctionReadInputRegisters:
        if (count < 1 || count > MODBUS_MAX_READ_REGISTERS) {
            reason = "register count " + std::to_string(count);
            return refusalCode(rtu::ExceptionCode::IllegalDataValue);
        }
        for (int address = first; address < first + count; ++address) {
            if (!blockContaining(address)) {
                reason = "no register " + std::to_string(address);
                return refusalCode(rtu::ExceptionCode::IllegalDataAddress);
            }
        }
        return 0;
    case FunctionWriteSingleRegister: {
        const Block *block = blockContaining(first);
        if (!block || !block->writable) {
            reason = block ? "register " + std::to_string(first) + " is read-only"
                           : "no register " + std::to_string(first);
            return refusalCode(rtu::ExceptionCode::IllegalDataAddress);
        }
        reason = refusal(first, static_cast<uint16_t>(count));
        return reason.empty() ? 0 : refusalCode(rtu::ExceptionCode::IllegalDataValue);
    }
    case FunctionWriteMultipleRegisters:
        if (count < 1 || count > MODBUS_MAX_WRITE_REGISTERS || request[6] != 2 * count ||
            length != 9 + 2 * count) {
            reason = "register count " + std::to_string(count) + " with " +
                     std::to_string(request[6]) + " data bytes";
            return refusalCode(rtu::ExceptionCode::IllegalDataValue);
        }
        for (int k = 0; k < count; ++k) {
            const Block *block = blockContaining(first + k);
            if (!block || !block->writable) {
                reason = block ? "register " + std::to_string(first + k) + " is read-only"
                               : "no register " + std::to_string(first + k);
                return refusalCode(rtu::ExceptionCode::IllegalDataAddress);
            }
        }
        // The unit takes a block whole or not at all.
        for (int k = 0; k < count; ++k) {
            reason = refusal(first + k, static_cast<uint16_t>(word(request + 7 + 2 * k)));
            if (!reason.empty())
                return refusalCode(rtu::ExceptionCode::IllegalDataValue);
        }
        return 0;
    default:
        reason = "function " + std::to_string(function) + " not supported";
        return refusalCode(rtu::ExceptionCode::IllegalFunction);
    }
}

bool SimulatedUnit::Impl::faultException(const uint8_t *request) const
{
    return faults.exceptionCode > 0 && touches(request, faults.exceptionBlockStart);
}

void SimulatedUnit::Impl::shapeReply(std::vector<uint8_t> &reply, unsigned requestFunction,
                                     Outgoing &out)
{
    if (faults.malformed && reply.size() >= 5) {
        const unsigned function = reply[1];
        if ((function == FunctionReadHoldingRegisters || function == FunctionReadInputRegisters) &&
            reply.size() >= 7) {
            reply.erase(reply.end() - 4, reply.end() - 2); // the byte count still promises it
            out.note += "; malformed: last register missing (fault)";
        } else {
            reply[1] = requestFunction == FunctionReadHoldingRegisters
                           ? FunctionReadInputRegisters
                           : FunctionReadHoldingRegisters;
            out.note += "; malformed: function " + std::to_string(reply[1]) + " (fault)";
        }
        refreshCrc(reply);
    }
    if (faults.badCrcEvery > 0 && replyCount % faults.badCrcEvery == 0) {
        reply.back() ^= 0xFF;
        out.note += "; wrong CRC on reply " + ordinal(replyCount) + " (fault)";
    }
    if (faults.burstBytes > 0) {
        std::uniform_int_distribution<int> byte(0, 255);
        reply.resize(static_cast<size_t>(faults.burstBytes));
        for (uint8_t &b : reply)
            b = static_cast<uint8_t>(byte(random));
        if (reply.size() >= 4 && rtu::replyCrcOk(reply))
            reply.back() ^= 0xFF; // chance made a valid frame: spoil it
        out.note = std::to_string(reply.size()) + " random bytes instead of the reply (fault)";
    }
}

void SimulatedUnit::Impl::refreshOutputs(Clock::time_point now)
{
    for (size_t k = 0; k < outputOffAt.size(); ++k) {
        if (outputOffAt[k] && *outputOffAt[k] <= now) {
            at(OutputStateRegister) &= static_cast<uint16_t>(~(1u << k));
            outputOffAt[k].reset();
        }
    }
}

void SimulatedUnit::Impl::runCommand(uint16_t code)
{
    const auto now = Clock::now();
    // Relay k (0 = ВЫКЛ) pulses for its own length, kept in 100 ms.
    const auto pulse = [&](size_t k) {
        const int tenths = std::max<int>(1, at(TripPulseRegister + static_cast<int>(k)));
        return now + std::chrono::milliseconds(100 * tenths);
    };
    lastCommand = code;
    switch (code) {
    case qvoksb::exchange::CommandReset:
        at(OutputStateRegister) &= static_cast<uint16_t>(~0x000Fu);
        for (auto &off : outputOffAt)
            off.reset();
        break;
    case qvoksb::exchange::CommandRemoteTrip:
        at(OutputStateRegister) |= 0x0001;
        // In latching mode the trip relay stays operated until a reset.
        if (at(RelayModeRegister) & 0x0001)
            outputOffAt[0] = pulse(0);
        else
            outputOffAt[0].reset();
        recordTrip(CauseSerialLinkTrip);
        break;
    case qvoksb::exchange::CommandClearMaintenance:
        recordTrip(CauseMaintenanceCleared);
        break;
    case qvoksb::exchange::CommandDeleteEvents:
        recordTrip(CauseEventsDeleted);
        break;
    case qvoksb::exchange::CommandOutput1:
    case qvoksb::exchange::CommandOutput2:
    case qvoksb::exchange::CommandOutput3: {
        const size_t k = static_cast<size_t>(code - qvoksb::exchange::CommandOutput1 + 1);
        at(OutputStateRegister) |= static_cast<uint16_t>(1u << k);
        outputOffAt[k] = pulse(k);
        break;
    }
    default:
        break;
    }
}

void SimulatedUnit::Impl::recordTrip(int cause)
{
    const auto trip = packTrip(tripAt(cause, std::chrono::system_clock::now()));
    for (int k = 0; k < 3; ++k)
        at(LastTripRegister + k) = trip[static_cast<size_t>(k)];
}

SimulatedUnit::SimulatedUnit() : d(std::make_unique<Impl>()) {}

SimulatedUnit::~SimulatedUnit()
{
    stop();
}

bool SimulatedUnit::start(int portNumber, int address, std::string *error)
{
    return d->start(nullptr, portNumber, address, error);
}

bool SimulatedUnit::startOnLine(SimulatedUnit &host, int address, std::string *error)
{
    return d->start(host.d.get(), 0, address, error);
}

void SimulatedUnit::stop()
{
    d->stop();
}

bool SimulatedUnit::running() const
{
    return d->started;
}

uint16_t SimulatedUnit::reg(int address) const
{
    std::lock_guard lock(d->mutex);
    if (!d->mapping || address < FirstRegister || address > LastRegister)
        return 0;
    d->refreshOutputs(Clock::now());
    return d->at(address);
}

void SimulatedUnit::setReg(int address, uint16_t value)
{
    std::lock_guard lock(d->mutex);
    if (!d->mapping || address < FirstRegister || address > LastRegister)
        return;
    d->at(address) = value;
    if (address == OutputStateRegister) {
        for (auto &off : d->outputOffAt)
            off.reset();
    }
}

void SimulatedUnit::setInputs(uint16_t mask)
{
    setReg(InputStateRegister, mask & 0x000F);
}

void SimulatedUnit::setFaults(const Faults &f)
{
    std::lock_guard lock(d->mutex);
    d->faults = f;
    d->requestCount = 0;
    d->replyCount = 0;
    d->silentUntil.reset();
}

Faults SimulatedUnit::faults() const
{
    std::lock_guard lock(d->mutex);
    return d->faults;
}

void SimulatedUnit::recordTrip(int cause)
{
    std::lock_guard lock(d->mutex);
    if (d->mapping)
        d->recordTrip(cause);
}

std::vector<std::vector<uint8_t>> SimulatedUnit::receivedFrames() const
{
    std::lock_guard lock(d->mutex);
    return d->frames;
}

void SimulatedUnit::clearReceivedFrames()
{
    std::lock_guard lock(d->mutex);
    d->frames.clear();
}

bool SimulatedUnit::waitForFrames(size_t count, int timeoutMs) const
{
    std::unique_lock lock(d->mutex);
    return d->framesArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return d->frames.size() >= count; });
}

int SimulatedUnit::lastCommand() const
{
    std::lock_guard lock(d->mutex);
    return d->lastCommand;
}

std::string SimulatedUnit::linkPath() const
{
    return d->ownLine->linkPath();
}

std::string SimulatedUnit::devicePath() const
{
    return d->ownLine->devicePath();
}

void SimulatedUnit::setTrafficPrinter(std::function<void(const std::string &line)> printer)
{
    d->ownLine->setPrinter(std::move(printer));
}

} // namespace ksb7sim
