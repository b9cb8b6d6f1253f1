// What the port does the same on every platform: the steps of opening and the undoing of a failed
// one, the event thread's loop, handing events to the GUI thread one at a time, delivering them to
// the handlers, the transmit queue, purging and closing. The platform's file does the device.
#include "core/link/serial_port.h"

#include "core/link/line_errors.h"
#include "core/link/port_directory.h"
#include "core/link/port_settle.h"
#include "core/link/serial_port_session.h"

namespace qvoksb
{

namespace
{

// Marks a hand-off done when the task is destroyed, whether it ran or was dropped unrun.
struct HandOffGuard {
    HandOffGuard(std::shared_ptr<SerialPort::Session> s, uint64_t t)
        : session(std::move(s)), ticket(t)
    {
    }
    HandOffGuard(const HandOffGuard &) = delete;
    HandOffGuard &operator=(const HandOffGuard &) = delete;
    ~HandOffGuard() { sharedPart(*session).markHandled(ticket, false); }
    std::shared_ptr<SerialPort::Session> session;
    uint64_t ticket;
};

void wakeForClosing(SerialPort::Session &s)
{
    wakeEventThread(s);
    wakeTransmitter(s);
}

} // namespace

SerialPortError portError(const std::string &port, const std::string &what, int error)
{
    std::string text = port + ": " + what;
    if (error)
        text += ": " + systemReason(error);
    return SerialPortError(text, error);
}

void reportWriteFailure(SerialPort::Session &s, bool deviceGone)
{
    SessionShared &c = sharedPart(s);
    if (!deviceGone || !c.ioErrorReported.exchange(true)) {
        c.pendingFlags |= CE_IOE;
        wakeEventThread(s);
    }
}

SerialPort::SerialPort(GuiHandOff *gui) : gui_(gui) {}

SerialPort::~SerialPort()
{
    // The owner is being destroyed: no handler of it may run any more.
    OnOpen = nullptr;
    OnRxBuf = nullptr;
    OnError = nullptr;
    OnClose = nullptr;
    CloseDelayMs = 0;
    Close();
}

bool SerialPort::Active() const
{
    return session_ != nullptr;
}

void SerialPort::Open()
{
    const std::string port = DevicePath.empty() ? portEntryName(PortNum) : DevicePath;
    if (session_)
        throw portError(port, "the port is already open");
    if (!gui_)
        throw portError(port, "no GUI thread to deliver the port's events to");
    devicePath_ = DevicePath.empty() ? serialDevicePath(PortNum) : DevicePath;
    const std::string name = portLabel(port, devicePath_);
    waitForPortToSettle(devicePath_, CloseDelayMs);

    std::shared_ptr<Session> s = newSession();
    SessionShared &c = sharedPart(*s);
    c.port = port;
    c.gui = gui_;
    // Undoes everything of a failed open.
    struct Cleanup {
        Session &s;
        bool armed = true;
        ~Cleanup()
        {
            if (armed)
                releaseDevice(s);
        }
    } cleanup{*s};

    const ModemLineLevels levels = modemLineLevels(ControlDtr, ControlRts);
    openDevice(*s, devicePath_, name, levels);
    // From here on DTR and RTS are held where the user wants them.
    modemLinesDriven_ =
        modemLineDriver ? modemLineDriver(levels) : driveModemLines(*s, levels, name);
    prepareEvents(*s, name);
    startThreads(s, name);
    cleanup.armed = false;
}

void SerialPort::startThreads(const std::shared_ptr<Session> &s, const std::string &name)
{
    // The threads run at normal priority: raising it needs privileges a desktop user lacks, and
    // at 9600 bit/s the driver buffers far more than one scheduling delay's worth of bytes.
    try {
        eventThread_ = std::thread([this, s] { eventLoop(s); });
        try {
            transmitThread_ = std::thread([s] { transmitLoop(s); });
        } catch (...) {
            sharedPart(*s).stopping = true;
            wakeForClosing(*s);
            eventThread_.join();
            throw;
        }
    } catch (const std::system_error &e) {
        throw portError(name, std::string("cannot start the port's threads: ") + e.what());
    }
    session_ = s;

    if (OnOpen) {
        try {
            OnOpen();
        } catch (...) {
            reportHandlerError("OnOpen");
        }
    }
}

void SerialPort::Close()
{
    if (!session_)
        return;
    std::shared_ptr<Session> s = std::move(session_);
    SessionShared &c = sharedPart(*s);
    {
        std::lock_guard lock(c.handOffMutex);
        c.stopping = true;
        c.handOffDone.notify_all();
    }
    wakeForClosing(*s);
    // A GuiHandOff that runs tasks at once would put us on the event thread here.
    for (std::thread *t : {&eventThread_, &transmitThread_}) {
        if (!t->joinable())
            continue;
        if (t->get_id() == std::this_thread::get_id())
            t->detach();
        else
            t->join();
    }
    {
        // An event still queued for the GUI thread finds the port closed and does nothing.
        std::lock_guard lock(c.ioMutex);
        c.closed = true;
        releaseDevice(*s);
    }

    if (OnClose) {
        try {
            OnClose();
        } catch (...) {
            reportHandlerError("OnClose");
        }
    }
    // The device wants time to settle before it is opened again; the next Open waits for it.
    notePortClosed(devicePath_);
}

int SerialPort::WriteBuf(const void *data, int count)
{
    if (!session_)
        throw portError(portEntryName(PortNum), "the port is not open");
    SessionShared &c = sharedPart(*session_);
    if (count < 0)
        throw portError(c.port, "negative byte count");
    if (count == 0)
        return 0;
    {
        std::lock_guard lock(c.queueMutex);
        if (c.queue.size() + static_cast<size_t>(count) > transmitQueueBytes)
            throw portError(c.port, "no room in the transmit queue for " + std::to_string(count) +
                                        " bytes");
        const auto *bytes = static_cast<const uint8_t *>(data);
        c.queue.insert(c.queue.end(), bytes, bytes + count);
    }
    wakeTransmitter(*session_);
    return count;
}

void SerialPort::reportHandlerError(const char *handler)
{
    std::string what = std::string("exception in ") + handler;
    try {
        throw;
    } catch (const std::exception &e) {
        what += ": ";
        what += e.what();
    } catch (...) {
    }
    if (gui_)
        gui_->reportHandlerError(what);
}

void SerialPort::PurgeWrite()
{
    if (!session_)
        return;
    SessionShared &c = sharedPart(*session_);
    // Both locks: no byte queued meanwhile can be sent and then dropped by the purge.
    std::lock_guard queueLock(c.queueMutex);
    c.queue.clear();
    std::lock_guard lock(c.ioMutex);
    discardTransmit(*session_);
}

void SerialPort::PurgeRead()
{
    if (!session_)
        return;
    SessionShared &c = sharedPart(*session_);
    std::lock_guard lock(c.ioMutex);
    discardReceived(*session_);
    c.purgedRead = true;
}

// The event thread: waits for the device, hands each event to the GUI thread and waits until it
// has been handled.
void SerialPort::eventLoop(std::shared_ptr<Session> s)
{
    SessionShared &c = sharedPart(*s);
    while (!c.stopping) {
        const DeviceEvent event = waitForEvent(*s);
        if (event.stop)
            break;
        if (!event.hangUp && !event.received && c.pendingFlags == 0)
            continue;
        // A device that hung up or failed a read does so every time: stop watching it now.
        if (event.hangUp)
            c.gone = true;
        if (!handOff(s, event.hangUp))
            c.gone = true; // the GUI takes no more events; nobody is left to tell
    }
}

// On the event thread: posts the event and waits until the GUI thread has handled it (or dropped
// it, or the port is closing). False when the GUI takes no more events.
bool SerialPort::handOff(const std::shared_ptr<Session> &s, bool hangUp)
{
    SessionShared &c = sharedPart(*s);
    uint64_t ticket;
    {
        std::lock_guard lock(c.handOffMutex);
        ticket = ++c.nextTicket;
    }
    auto guard = std::make_shared<HandOffGuard>(s, ticket);
    const bool posted = c.gui->post([this, s, hangUp, ticket, guard] {
        SessionShared &c = sharedPart(*s);
        struct Done {
            SessionShared &c;
            uint64_t ticket;
            ~Done() { c.markHandled(ticket, true); }
        } done{c, ticket};
        if (!c.closed)
            handleEvent(*s, hangUp);
    });
    guard.reset();
    if (!posted)
        return false;
    std::unique_lock lock(c.handOffMutex);
    c.handOffDone.wait(lock, [&] { return c.handledTicket >= ticket || c.stopping; });
    return c.stopping || c.lastTaskRan;
}

// On the GUI thread: the waiting bytes as one chunk to OnRxBuf, then the line
// errors to OnError. Close may be called from either handler.
void SerialPort::handleEvent(Session &s, bool hangUp)
{
    SessionShared &c = sharedPart(s);
    std::vector<uint8_t> chunk;
    bool vanished = hangUp;
    {
        std::lock_guard lock(c.ioMutex);
        if (c.closed)
            return;
        vanished = readReceived(s, hangUp, chunk) || vanished;
        c.purgedRead = false;
    }
    if (!chunk.empty()) {
        if (c.closed)
            return;
        if (OnRxBuf) {
            try {
                OnRxBuf(chunk.data(), chunk.size());
            } catch (...) {
                reportHandlerError("OnRxBuf");
            }
        }
    }
    uint32_t flags = 0;
    {
        std::lock_guard lock(c.ioMutex);
        if (c.closed)
            return;
        flags = c.pendingFlags.exchange(0) | takeLineErrors(s);
    }
    if (vanished) {
        c.gone = true;
        if (!c.ioErrorReported.exchange(true))
            flags |= CE_IOE;
    }
    if (flags && OnError) {
        try {
            OnError(flags);
        } catch (...) {
            reportHandlerError("OnError");
        }
    }
}

} // namespace qvoksb
