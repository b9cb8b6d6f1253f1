// The serial port on POSIX termios.
#include "core/link/serial_port.h"

#include "core/link/line_errors.h"
#include "core/link/serial_port_session.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qvoksb
{

namespace
{

// A read takes what the driver holds; this is enough for a full receive buffer.
constexpr size_t readChunkBytes = 4096;

bool vanishedError(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EPIPE;
}

// Modem-line requests a device without modem lines (a pseudo-terminal) refuses this way.
bool noModemLines(int error)
{
    return error == ENOTTY || error == EINVAL || error == ENOTSUP;
}

void wake(int eventFd)
{
    const uint64_t one = 1;
    // Cannot fail short of a counter overflow, which a pending wake-up already covers.
    [[maybe_unused]] ssize_t written = ::write(eventFd, &one, sizeof one);
}

void drain(int eventFd)
{
    uint64_t count;
    [[maybe_unused]] ssize_t got = ::read(eventFd, &count, sizeof count);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// 9600 bit/s, 8N1, raw and transparent: no flow control, no translation of CR or LF, no
// XON/XOFF, parity not checked so that no byte is replaced or dropped, breaks ignored in the data
// (they still count as line errors), NUL kept. VMIN = VTIME = 0: a read returns at once with
// what has arrived.
void makeLineSettings(termios &tio)
{
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | PARMRK | IGNPAR |
                                          BRKINT | ICRNL | INLCR | IGNCR);
    tio.c_iflag |= IGNBRK;
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL | HUPCL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
}

// tcsetattr succeeds when any of the settings took; check those that matter.
bool lineSettingsTook(const termios &wanted, const termios &got)
{
    return ::cfgetospeed(&got) == ::cfgetospeed(&wanted) &&
           (got.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) ==
               (wanted.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS)) &&
           (got.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | INPCK)) == 0;
}

} // namespace

struct SerialPort::Session : SessionShared {
    int eventWake = -1;    // eventfd: closing, or a failed write to report
    int transmitWake = -1; // eventfd: closing, or new bytes in the queue
    // The device and the counters belong to ioMutex.
    int fd = -1;
    bool exclusive = false; // we set the terminal's exclusive flag
    bool countersAvailable = false;
    serial_icounter_struct counters{};
    int emptyReads = 0; // GUI thread only

    // Line errors since the last look, from the driver's counters.
    uint32_t takeCounterFlags()
    {
        if (!countersAvailable || fd < 0)
            return 0;
        serial_icounter_struct now{};
        if (::ioctl(fd, TIOCGICOUNT, &now) != 0)
            return 0;
        uint32_t flags = 0;
        if (now.frame != counters.frame)
            flags |= CE_FRAME;
        if (now.overrun != counters.overrun)
            flags |= CE_OVERRUN;
        if (now.parity != counters.parity)
            flags |= CE_RXPARITY;
        if (now.brk != counters.brk)
            flags |= CE_BREAK;
        if (now.buf_overrun != counters.buf_overrun)
            flags |= CE_RXOVER;
        counters = now;
        return flags;
    }
};

// The exclusive flag belongs to the terminal, not to our descriptor: on a pseudo-terminal it
// outlives the close and would refuse every later open by an ordinary user (root is exempt from
// it). Clear it first, but only when it is ours: a failed open must not clear another program's.
static void closeDevice(SerialPort::Session &s)
{
    if (s.fd >= 0 && s.exclusive)
        ::ioctl(s.fd, TIOCNXCL);
    s.exclusive = false;
    closeFd(s.fd);
}

// Waits until one of fds is ready; fds[0] is the thread's wake-up, emptied when it fired.
// False when the port is closing or poll failed: the thread ends.
static bool waitForEvents(SerialPort::Session &s, pollfd *fds, nfds_t count)
{
    while (::poll(fds, count, -1) < 0) {
        if (errno != EINTR || s.stopping)
            return false;
    }
    if (fds[0].revents)
        drain(fds[0].fd);
    return !s.stopping;
}

void transmitLoop(const std::shared_ptr<SerialPort::Session> &s)
{
    bool waitWritable = false;
    while (!s->stopping) {
        pollfd fds[2] = {{s->transmitWake, POLLIN, 0}, {s->fd, POLLOUT, 0}};
        if (!waitForEvents(*s, fds, waitWritable ? 2 : 1))
            break;
        waitWritable = false;
        // Nonblocking writes under the queue lock: a purge waits at most for one of them.
        std::unique_lock lock(s->queueMutex);
        while (!s->queue.empty()) {
            const ssize_t n = ::write(s->fd, s->queue.data(), s->queue.size());
            if (n > 0) {
                s->queue.erase(s->queue.begin(), s->queue.begin() + n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                waitWritable = true;
                break;
            }
            // The bytes cannot go out: drop them and report it like a line error.
            const int error = n < 0 ? errno : EIO;
            s->queue.clear();
            lock.unlock();
            reportWriteFailure(*s, vanishedError(error));
            break;
        }
    }
}

std::shared_ptr<SerialPort::Session> newSession()
{
    return std::make_shared<SerialPort::Session>();
}

SessionShared &sharedPart(SerialPort::Session &s)
{
    return s;
}

std::string systemReason(int error)
{
    return std::strerror(error);
}

// A port number's name and the device in the port folder it leads to.
std::string portLabel(const std::string &port, const std::string &devicePath)
{
    return port == devicePath ? port : port + " (" + devicePath + ")";
}

void openDevice(SerialPort::Session &s, const std::string &devicePath, const std::string &name,
                ModemLineLevels)
{
    s.fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s.fd < 0) {
        if (errno == EBUSY)
            throw portError(name, "held by another program", errno);
        throw portError(name, "cannot open the device", errno);
    }
    if (!::isatty(s.fd))
        throw portError(name, "not a serial device", ENOTTY);
    // flock holds even against root, for whom TIOCEXCL does not count.
    if (::flock(s.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) // the lock of another program: reported as a busy device
            throw SerialPortError(name + ": held by another program", EBUSY);
        throw portError(name, "cannot lock the device", errno);
    }
    if (::ioctl(s.fd, TIOCEXCL) != 0)
        throw portError(name, "cannot get exclusive use of the device", errno);
    s.exclusive = true;

    termios tio{};
    if (::tcgetattr(s.fd, &tio) != 0)
        throw portError(name, "cannot read the line settings", errno);
    termios wanted = tio;
    makeLineSettings(wanted);
    if (::tcsetattr(s.fd, TCSANOW, &wanted) != 0)
        throw portError(name, "cannot set 9600 bit/s 8N1", errno);
    termios got{};
    if (::tcgetattr(s.fd, &got) != 0 || !lineSettingsTook(wanted, got))
        throw portError(name, "the device does not take 9600 bit/s 8N1 without flow control");
}

// Linux raises DTR and RTS on every open; they are held where the user wants them instead. A
// pseudo-terminal has no modem lines, so DTR and RTS are not driven there.
bool driveModemLines(SerialPort::Session &s, ModemLineLevels levels, const std::string &name)
{
    int assert = 0, negate = 0;
    (levels.dtr ? assert : negate) |= TIOCM_DTR;
    (levels.rts ? assert : negate) |= TIOCM_RTS;
    if (assert && ::ioctl(s.fd, TIOCMBIS, &assert) != 0) {
        if (noModemLines(errno))
            return false;
        throw portError(name, "cannot assert the modem lines", errno);
    }
    if (negate && ::ioctl(s.fd, TIOCMBIC, &negate) != 0) {
        if (noModemLines(errno))
            return false;
        throw portError(name, "cannot negate the modem lines", errno);
    }
    return true;
}

void prepareEvents(SerialPort::Session &s, const std::string &name)
{
    // Bytes that arrived before the port was ours are not an answer to anything we sent.
    ::tcflush(s.fd, TCIOFLUSH);
    // Line errors are the driver's counters' growth; a device without counters reports none.
    s.countersAvailable = ::ioctl(s.fd, TIOCGICOUNT, &s.counters) == 0;
    // The driver's queues are the kernel's own (4096 bytes each way); POSIX offers no setting.

    s.eventWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    s.transmitWake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s.eventWake < 0 || s.transmitWake < 0)
        throw portError(name, "cannot create the wake-up descriptors", errno);
}

void wakeTransmitter(SerialPort::Session &s)
{
    wake(s.transmitWake);
}

void wakeEventThread(SerialPort::Session &s)
{
    wake(s.eventWake);
}

void releaseDevice(SerialPort::Session &s)
{
    closeDevice(s); // releases the lock on the device too
    closeFd(s.eventWake);
    closeFd(s.transmitWake);
}

void discardTransmit(SerialPort::Session &s)
{
    ::tcflush(s.fd, TCOFLUSH);
}

void discardReceived(SerialPort::Session &s)
{
    ::tcflush(s.fd, TCIFLUSH);
}

DeviceEvent waitForEvent(SerialPort::Session &s)
{
    pollfd fds[2] = {{s.eventWake, POLLIN, 0}, {s.fd, POLLIN, 0}};
    const nfds_t count = s.gone ? 1 : 2;
    DeviceEvent event;
    event.stop = !waitForEvents(s, fds, count);
    event.hangUp = count == 2 && (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL));
    event.received = count == 2 && (fds[1].revents & POLLIN);
    return event;
}
bool readReceived(SerialPort::Session &s, bool hangUp, std::vector<uint8_t> &chunk)
{
    int waiting = 0;
    if (::ioctl(s.fd, FIONREAD, &waiting) != 0 || waiting < 0)
        waiting = 0;
    chunk.resize(waiting > 0 ? static_cast<size_t>(waiting) : readChunkBytes);
    const ssize_t got = ::read(s.fd, chunk.data(), chunk.size());
    if (got > 0) {
        chunk.resize(static_cast<size_t>(got));
        s.emptyReads = 0;
        return false;
    }
    chunk.clear();
    if (got < 0 && vanishedError(errno))
        return true;
    return !hangUp && !s.purgedRead && s.pendingFlags == 0 &&
           ++s.emptyReads >= emptyReadsMeaningGone;
}

uint32_t takeLineErrors(SerialPort::Session &s)
{
    return s.takeCounterFlags();
}

} // namespace qvoksb
