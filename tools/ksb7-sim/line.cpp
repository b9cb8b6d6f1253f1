#include "line.h"

#include "core/link/port_directory.h"
#include "core/link/port_link_posix.h"
#include "traffic.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace ksb7sim
{

namespace
{

// A request ends when the line has been quiet this long. At 9600 bit/s the RTU gap of 3.5
// characters is 4 ms; a pseudo-terminal delivers a whole write at once, so this is generous.
constexpr int frameGapMs = 15;
// More than the longest Modbus RTU frame: a longer run of bytes without a gap is noise.
constexpr size_t maxChunkBytes = 512;
// When the port vanishes mid-reply, the half sent goes this long before the terminal.
constexpr int vanishAfterHalfMs = 100;

std::string systemError(const std::string &what, int error = errno)
{
    return what + ": " + std::strerror(error);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

Line::Line(Station &host) : host(host) {}

Line::~Line()
{
    close();
}

bool Line::open(int portNumber, std::string *error)
{
    const auto fail = [&](const std::string &why) {
        if (error)
            *error = why;
        close();
        return false;
    };
    link.clear();
    if (portNumber < 1 || portNumber > 16)
        return fail("port number " + std::to_string(portNumber) + " outside 1..16");
    const std::string directory = qvoksb::portDirectory();
    if (directory.empty())
        return fail(
            "no port folder: neither HOME nor XDG_CONFIG_HOME is set (or set QVOKSB_PORT_DIR)");
    if (const int failed = qvoksb::makeFolders(directory))
        return fail(systemError("cannot create " + directory, failed));
    const std::string entry = directory + "/" + qvoksb::portEntryName(portNumber);
    struct stat st;
    if (::lstat(entry.c_str(), &st) == 0) {
        struct stat target;
        // A link to nothing is what a unit that was killed leaves behind: take it over.
        const bool dangling = S_ISLNK(st.st_mode) && ::stat(entry.c_str(), &target) != 0;
        if (!dangling) {
            const std::string to = qvoksb::linkTarget(entry);
            return fail(entry + " already exists" + (to.empty() ? "" : " (-> " + to + ")") +
                        "; choose another port");
        }
    }

    stopping = false;
    opened = true;
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(systemError("pipe"));
    notify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (notify < 0)
        return fail(systemError("inotify"));
    if (!openTerminal(error))
        return fail(error ? *error : "cannot open a pseudo-terminal");
    if (const int failed = qvoksb::pointLink(entry, ptsPath))
        return fail(systemError("cannot link " + entry + " to " + ptsPath, failed));
    link = entry;
    vanishedTarget = directory + "/." + qvoksb::portEntryName(portNumber) + ".vanished";
    thread = std::thread([this] { run(); });
    return true;
}

void Line::close()
{
    if (!opened)
        return;
    stopping = true;
    if (wake[1] >= 0) {
        const char byte = 'x';
        [[maybe_unused]] ssize_t written = ::write(wake[1], &byte, 1);
    }
    if (thread.joinable())
        thread.join();
    std::lock_guard lock(mutex);
    if (!link.empty()) {
        const std::string target = qvoksb::linkTarget(link);
        // Remove only our own entry: someone may have pointed COMn elsewhere meanwhile.
        if (!target.empty() && (target == ptsPath || target == vanishedTarget))
            ::unlink(link.c_str());
    }
    closeFd(master);
    closeFd(notify);
    closeFd(wake[0]);
    closeFd(wake[1]);
    ptsPath.clear();
    opened = false;
}

bool Line::attach(Station &unit, std::string *error)
{
    std::lock_guard lock(unitsMutex);
    bool taken = unit.address() == host.address();
    for (const Station *g : guests)
        taken = taken || g->address() == unit.address();
    if (taken) {
        if (error)
            *error = "unit address " + std::to_string(unit.address()) + " is taken on that line";
        return false;
    }
    guests.push_back(&unit);
    return true;
}

void Line::detach(Station &unit)
{
    std::lock_guard lock(unitsMutex);
    std::erase(guests, &unit);
}

std::string Line::linkPath() const
{
    return link;
}

std::string Line::devicePath() const
{
    std::lock_guard lock(mutex);
    return ptsPath;
}

void Line::setPrinter(std::function<void(const std::string &line)> p)
{
    std::lock_guard lock(printMutex);
    printer = std::move(p);
}

bool Line::openTerminal(std::string *error)
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

void Line::run()
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

bool Line::drainNotifications()
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

bool Line::readChunk(std::vector<uint8_t> &chunk)
{
    uint8_t buffer[maxChunkBytes];
    for (;;) {
        const ssize_t got = ::read(master, buffer, maxChunkBytes - chunk.size());
        if (got > 0) {
            chunk.insert(chunk.end(), buffer, buffer + got);
            // A two-wire adapter hears its own transmission as it goes out.
            if (host.echoes())
                send(buffer, size_t(got), "echo of the request");
        }
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

void Line::handleChunk(std::vector<uint8_t> chunk)
{
    while (!chunk.empty() && !stopping) {
        Outgoing out;
        std::vector<std::string> lines;
        {
            // A frame for another unit on this line goes to that unit; the host takes the rest.
            std::lock_guard lock(unitsMutex);
            Station *unit = &host;
            if (chunk.size() >= 4 && chunk[0] != host.address()) {
                for (Station *g : guests)
                    if (g->address() == chunk[0])
                        unit = g;
            }
            chunk = unit->take(chunk, out, lines);
        }
        for (const std::string &line : lines)
            print(line);
        deliver(out);
    }
}

void Line::deliver(const Outgoing &out)
{
    if (out.bytes.empty())
        return;
    if (!out.noise.empty())
        send(out.noise.data(), out.noise.size(), "noise (fault)");
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

void Line::send(const uint8_t *bytes, size_t count, const std::string &note)
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

void Line::vanish(int downtimeMs)
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
    qvoksb::pointLink(link, vanishedTarget);
    print(timeStamp() + " !! port vanished: " + gone + " closed (fault)");
    if (downtimeMs < 0 || !pause(downtimeMs))
        return;
    std::string error;
    if (openTerminal(&error)) {
        const int failed = qvoksb::pointLink(link, ptsPath);
        if (!failed) {
            print(timeStamp() + " !! port is back: " + link + " -> " + ptsPath);
            return;
        }
        error = systemError("cannot link " + link + " to " + ptsPath, failed);
    }
    print(timeStamp() + " !! " + error);
}

bool Line::pause(int ms) const
{
    pollfd fd = {wake[0], POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return !stopping;
        const int ready = ::poll(&fd, 1, static_cast<int>(left.count()));
        if (ready > 0 || stopping)
            return false;
    }
}

void Line::print(const std::string &line)
{
    std::lock_guard lock(printMutex);
    if (printer)
        printer(line);
}

} // namespace ksb7sim
