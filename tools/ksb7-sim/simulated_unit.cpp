#include "simulated_unit.h"

#include "port_directory.h"
#include "traffic.h"
#include "unit_registers.h"

#include <modbus.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace ksb7sim
{

using Clock = std::chrono::steady_clock;

namespace
{

// A request ends when the line has been quiet this long. At 9600 bit/s the RTU gap of 3.5
// characters is 4 ms; a pseudo-terminal delivers a whole write at once, so this is generous.
constexpr int frameGapMs = 15;
// More than the longest Modbus RTU frame: a longer run of bytes without a gap is noise.
constexpr size_t maxChunkBytes = 512;
// When the port vanishes mid-reply, the half sent goes this long before the terminal.
constexpr int vanishAfterHalfMs = 100;

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

bool makeDirectories(const std::string &path, std::string *error)
{
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string prefix = path.substr(0, at);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            if (error)
                *error = systemError("cannot create " + prefix);
            return false;
        }
    }
    return true;
}

std::string linkTarget(const std::string &link)
{
    char target[4096];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    return length > 0 ? std::string(target, static_cast<size_t>(length)) : std::string();
}

// Points link at target in one step, so that a client never finds the entry missing.
bool pointLink(const std::string &link, const std::string &target, std::string *error)
{
    const std::string temporary = link + ".new-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), link.c_str()) != 0) {
        if (error)
            *error = systemError("cannot link " + link + " to " + target);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
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

} // namespace

// What the server thread sends back for one request, prepared under the lock and sent without it.
struct Outgoing {
    std::vector<uint8_t> bytes;
    std::string note;
    int delayMs = 0;
    int splitPauseMs = 0;
    bool vanish = false;
    int vanishDowntimeMs = 0;
};

struct SimulatedUnit::Impl {
    // The units that answer on one terminal besides the one that owns it.
    struct SharedLine {
        std::mutex mutex;
        std::vector<Impl *> guests;
    };

    Impl();
    ~Impl();

    bool start(int portNumber, int unitAddress, std::string *error);
    bool startOnLine(Impl &host, int unitAddress, std::string *error);
    bool openModbus(std::string *error);
    void stop();

    // Server thread.
    void run();
    bool openTerminal(std::string *error);
    bool readChunk(std::vector<uint8_t> &chunk);
    bool drainNotifications();
    void handleChunk(std::vector<uint8_t> chunk);
    std::vector<uint8_t> process(const std::vector<uint8_t> &chunk, Outgoing &out,
                                 std::vector<std::string> &lines);
    int refuse(const uint8_t *request, int length, std::string &reason) const;
    bool faultException(const uint8_t *request) const;
    void shapeReply(std::vector<uint8_t> &reply, unsigned requestFunction, Outgoing &out);
    void deliver(const Outgoing &out);
    void send(const uint8_t *bytes, size_t count, const std::string &note);
    void vanish(int downtimeMs);
    bool pause(int ms) const;
    void print(const std::string &line);

    // Under mutex.
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
    std::vector<std::vector<uint8_t>> frames;
    std::array<std::optional<Clock::time_point>, 4> outputOffAt;
    int lastCommand = 0;
    std::string ptsPath;
    std::mt19937 random{std::random_device{}()};

    std::mutex printMutex;
    std::function<void(const std::string &)> printer;

    // Owned by the server thread while it runs.
    modbus_t *modbus = nullptr;
    int bridge[2] = {-1, -1}; // [0] ours, [1] libmodbus's end
    int master = -1;
    int notify = -1;
    bool watchMaster = true;

    int wake[2] = {-1, -1};
    int address = 1;
    std::shared_ptr<SharedLine> line = std::make_shared<SharedLine>();
    bool guest = false; // answers on another unit's terminal
    std::string link;
    std::string vanishedTarget;
    std::thread thread;
    std::atomic<bool> stopping{false};
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

bool SimulatedUnit::Impl::start(int portNumber, int unitAddress, std::string *error)
{
    const auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        stop();
        return false;
    };
    if (started)
        return fail("the unit is already running on " + link);
    if (!mapping)
        return fail("out of memory for the register map");
    if (portNumber < 1 || portNumber > 16)
        return fail("port number " + std::to_string(portNumber) + " outside 1..16");
    if (unitAddress < 1 || unitAddress > 247)
        return fail("unit address " + std::to_string(unitAddress) + " outside 1..247");

    const std::string directory = qvoksb::portDirectory();
    if (directory.empty())
        return fail(
            "no port folder: neither HOME nor XDG_CONFIG_HOME is set (or set QVOKSB_PORT_DIR)");
    if (!makeDirectories(directory, error))
        return false;
    link = directory + "/" + qvoksb::portEntryName(portNumber);
    vanishedTarget = directory + "/." + qvoksb::portEntryName(portNumber) + ".vanished";
    struct stat entry;
    if (::lstat(link.c_str(), &entry) == 0) {
        struct stat target;
        // A link to nothing is what a unit that was killed leaves behind: take it over.
        const bool dangling = S_ISLNK(entry.st_mode) && ::stat(link.c_str(), &target) != 0;
        if (!dangling) {
            const std::string to = linkTarget(link);
            link.clear();
            return fail(directory + "/" + qvoksb::portEntryName(portNumber) + " already exists" +
                        (to.empty() ? "" : " (-> " + to + ")") + "; choose another port");
        }
    }

    address = unitAddress;
    stopping = false;
    started = true;
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(systemError("pipe"));
    notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (notify < 0)
        return fail(systemError("inotify"));
    if (!openModbus(error))
        return fail(error ? *error : "libmodbus");

    if (!openTerminal(error))
        return fail(error ? *error : "cannot open a pseudo-terminal");
    std::string linkError;
    if (!pointLink(link, ptsPath, &linkError)) {
        link.clear();
        return fail(linkError);
    }
    thread = std::thread([this] { run(); });
    return true;
}

bool SimulatedUnit::Impl::openModbus(std::string *error)
{
    const auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        return false;
    };
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, bridge) != 0)
        return fail(systemError("socketpair"));
    ::fcntl(bridge[0], F_SETFL, O_NONBLOCK);

    // libmodbus parses every request and builds every correct reply. It works on its end of a
    // socket pair rather than on the terminal itself: the unit needs to see each raw frame (to
    // print it and to check values before libmodbus stores them) and to spoil replies on purpose.
    modbus = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    if (!modbus)
        return fail(systemError("modbus_new_rtu"));
    modbus_set_slave(modbus, address);
    modbus_set_socket(modbus, bridge[1]);
    // The whole frame is in the socket before libmodbus reads it: a short frame is short.
    modbus_set_byte_timeout(modbus, 0, 5000);
    modbus_set_indication_timeout(modbus, 0, 100000);
    return true;
}

bool SimulatedUnit::Impl::startOnLine(Impl &host, int unitAddress, std::string *error)
{
    const auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        stop();
        return false;
    };
    if (started)
        return fail("the unit is already running");
    if (!mapping)
        return fail("out of memory for the register map");
    if (!host.started || host.guest)
        return fail("the host unit is not running on a terminal of its own");
    if (unitAddress < 1 || unitAddress > 247)
        return fail("unit address " + std::to_string(unitAddress) + " outside 1..247");
    {
        std::lock_guard lock(host.line->mutex);
        bool taken = unitAddress == host.address;
        for (const Impl *g : host.line->guests)
            taken = taken || g->address == unitAddress;
        if (taken)
            return fail("unit address " + std::to_string(unitAddress) + " is taken on that line");
    }
    address = unitAddress;
    guest = true;
    started = true;
    line = host.line;
    if (!openModbus(error))
        return fail(error ? *error : "libmodbus");
    std::lock_guard lock(line->mutex);
    line->guests.push_back(this);
    return true;
}

void SimulatedUnit::Impl::stop()
{
    if (!started)
        return;
    if (guest) {
        {
            // Once out of the list, the host's thread no longer reaches this unit.
            std::lock_guard lock(line->mutex);
            std::erase(line->guests, this);
        }
        if (modbus) {
            modbus_set_socket(modbus, -1);
            modbus_free(modbus);
            modbus = nullptr;
        }
        closeFd(bridge[0]);
        closeFd(bridge[1]);
        line = std::make_shared<SharedLine>();
        guest = false;
        started = false;
        return;
    }
    stopping = true;
    if (wake[1] >= 0) {
        const char byte = 'x';
        [[maybe_unused]] ssize_t written = ::write(wake[1], &byte, 1);
    }
    if (thread.joinable())
        thread.join();
    if (!link.empty()) {
        const std::string target = linkTarget(link);
        // Remove only our own entry: someone may have pointed COMn elsewhere meanwhile.
        std::lock_guard lock(mutex);
        if (!target.empty() && (target == ptsPath || target == vanishedTarget))
            ::unlink(link.c_str());
    }
    if (modbus) {
        modbus_set_socket(modbus, -1);
        modbus_free(modbus);
        modbus = nullptr;
    }
    closeFd(bridge[0]);
    closeFd(bridge[1]);
    closeFd(master);
    closeFd(notify);
    closeFd(wake[0]);
    closeFd(wake[1]);
    std::lock_guard lock(mutex);
    ptsPath.clear();
    started = false;
}

bool SimulatedUnit::Impl::openTerminal(std::string *error)
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    char name[128];
    if (fd < 0 || ::grantpt(fd) != 0 || ::unlockpt(fd) != 0 ||
        ::ptsname_r(fd, name, sizeof name) != 0) {
        if (error)
            *error = systemError("cannot create a pseudo-terminal");
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    // A fresh terminal echoes and waits for whole lines; a serial line does neither. The
    // settings stay with the terminal when clients open and close it.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave >= 0) {
        termios settings{};
        if (::tcgetattr(slave, &settings) == 0) {
            ::cfmakeraw(&settings);
            ::cfsetspeed(&settings, B9600);
            ::tcsetattr(slave, TCSANOW, &settings);
        }
        ::close(slave);
    }
    // After the last client has closed the terminal, the master side reports a hang-up until the
    // next client opens it. Linux has no event for that open on the master; inotify has one.
    if (::inotify_add_watch(notify, name, IN_OPEN) < 0) {
        if (error)
            *error = systemError(std::string("cannot watch ") + name);
        ::close(fd);
        return false;
    }
    std::lock_guard lock(mutex);
    master = fd;
    ptsPath = name;
    watchMaster = true;
    return true;
}

void SimulatedUnit::Impl::run()
{
    while (!stopping) {
        pollfd fds[3] = {{wake[0], POLLIN, 0}, {notify, POLLIN, 0}, {master, POLLIN, 0}};
        const nfds_t count = (master >= 0 && watchMaster) ? 3 : 2;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            print(timeStamp() + " !! " + systemError("poll"));
            return;
        }
        if (fds[0].revents)
            return;
        if ((fds[1].revents & POLLIN) && drainNotifications())
            watchMaster = true;
        if (count == 3 && fds[2].revents) {
            std::vector<uint8_t> chunk;
            // A hang-up without data: no client has the port open; wait for the next one.
            if (!(fds[2].revents & POLLIN) || !readChunk(chunk))
                watchMaster = false;
            if (!chunk.empty())
                handleChunk(std::move(chunk));
        }
    }
}

bool SimulatedUnit::Impl::drainNotifications()
{
    alignas(inotify_event) char buffer[4096];
    bool opened = false;
    for (;;) {
        const ssize_t length = ::read(notify, buffer, sizeof buffer);
        if (length <= 0)
            return opened;
        for (ssize_t at = 0; at < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_OPEN)
                opened = true;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

bool SimulatedUnit::Impl::readChunk(std::vector<uint8_t> &chunk)
{
    uint8_t buffer[maxChunkBytes];
    for (;;) {
        const ssize_t got = ::read(master, buffer, maxChunkBytes - chunk.size());
        if (got > 0)
            chunk.insert(chunk.end(), buffer, buffer + got);
        else if (got < 0 && errno != EAGAIN && errno != EINTR)
            return false; // EIO: the client has closed the port
        if (chunk.size() >= maxChunkBytes)
            return true;
        pollfd fds[2] = {{master, POLLIN, 0}, {wake[0], POLLIN, 0}};
        if (::poll(fds, 2, frameGapMs) <= 0 || fds[1].revents)
            return true;
        if (!(fds[0].revents & POLLIN))
            return !(fds[0].revents & POLLHUP);
    }
}

void SimulatedUnit::Impl::handleChunk(std::vector<uint8_t> chunk)
{
    while (!chunk.empty() && !stopping) {
        Outgoing out;
        std::vector<std::string> lines;
        std::vector<uint8_t> rest;
        {
            // A frame for another unit on this line goes to that unit, with its own registers.
            std::lock_guard lineLock(line->mutex);
            Impl *unit = this;
            if (chunk.size() >= 4 && chunk[0] != address) {
                for (Impl *g : line->guests)
                    if (g->address == chunk[0])
                        unit = g;
            }
            {
                std::lock_guard lock(unit->mutex);
                rest = unit->process(chunk, out, lines);
            }
            unit->framesArrived.notify_all();
        }
        for (const std::string &line : lines)
            print(line);
        deliver(out);
        chunk = std::move(rest);
    }
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
    if (chunk[0] != address) {
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
        !exception && (function == FunctionWriteSingle || function == FunctionWriteMultiple) &&
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
    if (!exception && (function == FunctionWriteSingle || function == FunctionWriteMultiple) &&
        faults.alterRegister >= FirstRegister && faults.alterRegister <= LastRegister) {
        const int first = static_cast<int>(word(request + 2));
        const int count = function == FunctionWriteSingle ? 1 : static_cast<int>(word(request + 4));
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
    if (!exception && (function == FunctionReadInput || function == FunctionReadHolding) &&
        first <= LastTripRegister && first + static_cast<int>(word(request + 4)) > LastRegister)
        out.note += "; last trip: cause " +
                    describeTrip(unpackTrip(at(LastTripRegister), at(LastTripRegister + 1),
                                            at(LastTripRegister + 2)));
    shapeReply(reply, function, out);
    out.bytes = std::move(reply);
    out.delayMs = std::max(0, faults.delayMs);
    out.splitPauseMs = std::max(0, faults.splitPauseMs);
    return rest;
}

int SimulatedUnit::Impl::refuse(const uint8_t *request, int length, std::string &reason) const
{
    const unsigned function = request[1];
    const int first = static_cast<int>(word(request + 2));
    const int count = static_cast<int>(word(request + 4));
    switch (function) {
    case FunctionReadHolding:
    case FunctionReadInput:
        if (count < 1 || count > MODBUS_MAX_READ_REGISTERS) {
            reason = "register count " + std::to_string(count);
            return ExceptionIllegalValue;
        }
        for (int address = first; address < first + count; ++address) {
            if (!blockContaining(address)) {
                reason = "no register " + std::to_string(address);
                return ExceptionIllegalAddress;
            }
        }
        return 0;
    case FunctionWriteSingle: {
        const Block *block = blockContaining(first);
        if (!block || !block->writable) {
            reason = block ? "register " + std::to_string(first) + " is read-only"
                           : "no register " + std::to_string(first);
            return ExceptionIllegalAddress;
        }
        reason = refusal(first, static_cast<uint16_t>(count));
        return reason.empty() ? 0 : ExceptionIllegalValue;
    }
    case FunctionWriteMultiple:
        if (count < 1 || count > MODBUS_MAX_WRITE_REGISTERS || request[6] != 2 * count ||
            length != 9 + 2 * count) {
            reason = "register count " + std::to_string(count) + " with " +
                     std::to_string(request[6]) + " data bytes";
            return ExceptionIllegalValue;
        }
        for (int k = 0; k < count; ++k) {
            const Block *block = blockContaining(first + k);
            if (!block || !block->writable) {
                reason = block ? "register " + std::to_string(first + k) + " is read-only"
                               : "no register " + std::to_string(first + k);
                return ExceptionIllegalAddress;
            }
        }
        // The unit takes a block whole or not at all.
        for (int k = 0; k < count; ++k) {
            reason = refusal(first + k, static_cast<uint16_t>(word(request + 7 + 2 * k)));
            if (!reason.empty())
                return ExceptionIllegalValue;
        }
        return 0;
    default:
        reason = "function " + std::to_string(function) + " not supported";
        return ExceptionIllegalFunction;
    }
}

bool SimulatedUnit::Impl::faultException(const uint8_t *request) const
{
    if (faults.exceptionCode <= 0 || faults.exceptionBlockStart < 0)
        return false;
    const unsigned function = request[1];
    const int first = static_cast<int>(word(request + 2));
    const int count = function == FunctionWriteSingle ? 1 : static_cast<int>(word(request + 4));
    int blockFirst = faults.exceptionBlockStart;
    int blockCount = 1;
    for (const Block &block : blocks()) {
        if (block.first == blockFirst)
            blockCount = block.count;
    }
    return first < blockFirst + blockCount && blockFirst < first + count;
}

void SimulatedUnit::Impl::shapeReply(std::vector<uint8_t> &reply, unsigned requestFunction,
                                     Outgoing &out)
{
    if (faults.malformed && reply.size() >= 5) {
        const unsigned function = reply[1];
        if ((function == FunctionReadHolding || function == FunctionReadInput) &&
            reply.size() >= 7) {
            reply.erase(reply.end() - 4, reply.end() - 2); // the byte count still promises it
            out.note += "; malformed: last register missing (fault)";
        } else {
            reply[1] =
                requestFunction == FunctionReadHolding ? FunctionReadInput : FunctionReadHolding;
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
        if (reply.size() >= 4 && crc16(std::span(reply).first(reply.size() - 2)) ==
                                     (reply[reply.size() - 2] | reply.back() << 8))
            reply.back() ^= 0xFF; // chance made a valid frame: spoil it
        out.note = std::to_string(reply.size()) + " random bytes instead of the reply (fault)";
    }
}

void SimulatedUnit::Impl::deliver(const Outgoing &out)
{
    if (out.bytes.empty())
        return;
    if (out.delayMs > 0 && !pause(out.delayMs))
        return;
    const size_t half = out.bytes.size() / 2;
    if (out.vanish) {
        send(out.bytes.data(), half, "first half of: " + out.note);
        // Closing the master at once would hang up the terminal before the client has read the
        // half: the hang-up discards what is still unread.
        if (pause(vanishAfterHalfMs))
            vanish(out.vanishDowntimeMs);
    } else if (out.splitPauseMs > 0) {
        send(out.bytes.data(), half, "first half of: " + out.note);
        if (!pause(out.splitPauseMs))
            return;
        send(out.bytes.data() + half, out.bytes.size() - half,
             "second half, after " + std::to_string(out.splitPauseMs) + " ms");
    } else {
        send(out.bytes.data(), out.bytes.size(), out.note);
    }
}

void SimulatedUnit::Impl::send(const uint8_t *bytes, size_t count, const std::string &note)
{
    pollfd fd = {master, POLLOUT, 0};
    // A reply to a client that has already closed the port is lost, as on a real line; written
    // into the terminal it would greet the next client.
    if (master < 0 || ::poll(&fd, 1, 0) < 0 || (fd.revents & (POLLHUP | POLLERR))) {
        print(timeStamp() + " -> (port closed by the client, reply dropped)");
        return;
    }
    // Printed before the write, so that the line is there by the time the client has the reply.
    print(timeStamp() + " -> " + hexBytes(std::span(bytes, count)) + "  " + note);
    const ssize_t written = ::write(master, bytes, count);
    if (written < 0)
        print(timeStamp() + " !! " + systemError("write"));
    else if (static_cast<size_t>(written) < count)
        print(timeStamp() + " !! line full: " + std::to_string(count - size_t(written)) +
              " bytes dropped");
}

void SimulatedUnit::Impl::vanish(int downtimeMs)
{
    std::string gone;
    {
        std::lock_guard lock(mutex);
        gone = ptsPath;
        closeFd(master);
        ptsPath.clear();
    }
    // The entry stays, pointing at nothing, as when a USB adapter is pulled out: the port is
    // still the user's choice, it just cannot be opened.
    pointLink(link, vanishedTarget, nullptr);
    print(timeStamp() + " !! port vanished: " + gone + " closed (fault)");
    if (downtimeMs < 0 || !pause(downtimeMs))
        return;
    std::string error;
    if (!openTerminal(&error) || !pointLink(link, ptsPath, &error)) {
        print(timeStamp() + " !! " + error);
        return;
    }
    print(timeStamp() + " !! port is back: " + link + " -> " + ptsPath);
}

bool SimulatedUnit::Impl::pause(int ms) const
{
    pollfd fd = {wake[0], POLLIN, 0};
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0)
            return !stopping;
        const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready > 0 || stopping)
            return false;
    }
}

void SimulatedUnit::Impl::print(const std::string &line)
{
    std::lock_guard lock(printMutex);
    if (printer)
        printer(line);
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
    case CommandReset:
        at(OutputStateRegister) &= static_cast<uint16_t>(~0x000Fu);
        for (auto &off : outputOffAt)
            off.reset();
        break;
    case CommandRemoteTrip:
        at(OutputStateRegister) |= 0x0001;
        // In latching mode the trip relay stays operated until a reset.
        if (at(RelayModeRegister) & 0x0001)
            outputOffAt[0] = pulse(0);
        else
            outputOffAt[0].reset();
        recordTrip(CauseSerialLinkTrip);
        break;
    case CommandClearMaintenance:
        recordTrip(CauseMaintenanceCleared);
        break;
    case CommandDeleteEvents:
        recordTrip(CauseEventsDeleted);
        break;
    case CommandOutput1:
    case CommandOutput2:
    case CommandOutput3: {
        const size_t k = static_cast<size_t>(code - CommandOutput1 + 1);
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
    return d->start(portNumber, address, error);
}

bool SimulatedUnit::startOnLine(SimulatedUnit &host, int address, std::string *error)
{
    return d->startOnLine(*host.d, address, error);
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
    return d->link;
}

std::string SimulatedUnit::devicePath() const
{
    std::lock_guard lock(d->mutex);
    return d->ptsPath;
}

void SimulatedUnit::setTrafficPrinter(std::function<void(const std::string &line)> printer)
{
    std::lock_guard lock(d->printMutex);
    d->printer = std::move(printer);
}

} // namespace ksb7sim
