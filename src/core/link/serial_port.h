#pragma once
// The serial port the exchange window talks to the unit through ("VaComm1").
//
// The line is always 9600 bit/s, 8 data bits, no parity, 1 stop bit, no flow control of any
// kind, transparent (every byte value passes unchanged). Port n is the device named "COMn"; on
// POSIX that is qvoksb::serialDevicePath(n). The device is held exclusively while open.
//
// Threads: while the port is open, an event thread waits for received bytes and line errors and
// a transmit thread drains the transmit queue. Every event reaches the program on its GUI thread,
// one at a time and in order: the event thread posts the event through a GuiHandOff and waits
// until the GUI thread has handled it before it looks at the device again. On the GUI thread the
// waiting bytes are read as one chunk and passed to OnRxBuf, and then the line errors are read
// and passed to OnError.
//
// Open, Close, PurgeRead, PurgeWrite, the settings and the destructor belong to the GUI thread.
// Close may be called anywhere on it, also from inside an event handler and while the event
// thread waits for an event to be handled: it never deadlocks, and an event still queued for the
// closed port is dropped unhandled.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qvoksb
{

// How events reach the GUI thread; the window side implements it. post() queues the task to run
// on the GUI thread and returns at once; it must not wait for the task (in Qt:
// QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection), never a blocking
// connection). It returns false when the GUI no longer takes tasks. A task that is destroyed
// without having run (its context object went away) counts as not taken.
struct GuiHandOff {
    virtual ~GuiHandOff() = default;
    virtual bool post(std::function<void()> task) = 0;
    // An exception escaped from an event handler; the port goes on. The default prints it to
    // standard error.
    virtual void reportHandlerError(const std::string &what)
    {
        std::fprintf(stderr, "serial port: %s\n", what.c_str());
    }
};

// What Open and WriteBuf throw. The text names the port and the reason.
class SerialPortError : public std::runtime_error
{
public:
    explicit SerialPortError(const std::string &what, int systemError = 0)
        : std::runtime_error(what), systemError_(systemError)
    {
    }
    // The system's own code for the failure: errno on POSIX, the GetLastError() code on Windows;
    // 0 when the layer itself refused.
    int systemError() const { return systemError_; }

private:
    int systemError_;
};

enum DtrControl { dtrDisabled, dtrEnabled };
enum RtsControl { rtsDisabled, rtsEnabled };

// The levels DTR and RTS are held at for the whole time the port is open (true: asserted).
struct ModemLineLevels {
    bool dtr = false;
    bool rts = false;
    bool operator==(const ModemLineLevels &) const = default;
};
inline ModemLineLevels modemLineLevels(DtrControl dtr, RtsControl rts)
{
    return {dtr == dtrEnabled, rts == rtsEnabled};
}

class SerialPort
{
public:
    static constexpr size_t transmitQueueBytes = 2048;

    explicit SerialPort(GuiHandOff *gui = nullptr);
    ~SerialPort(); // closes the port when open
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // Settings; they take effect at the next Open.
    int PortNum = 1; // 1 to 16
    // When not empty, this device is opened instead of port PortNum's (a tool given a path).
    std::string DevicePath;
    DtrControl ControlDtr = dtrDisabled;
    RtsControl ControlRts = rtsDisabled;
    // A device closed by Close is opened again only this long afterwards: the next Open waits
    // for what is left of it, Close itself returns at once.
    int CloseDelayMs = 300;
    void setGuiHandOff(GuiHandOff *gui) { gui_ = gui; }

    // Events, all on the GUI thread.
    std::function<void()> OnOpen; // at the end of a successful Open, before it returns
    // Bytes received, count >= 1; data is valid only during the call.
    std::function<void(const uint8_t *data, size_t count)> OnRxBuf;
    std::function<void(uint32_t flags)> OnError; // line errors, LineErrorFlag bits, never 0
    std::function<void()> OnClose;               // after the device was closed

    // Opens the device exclusively and sets up the line, starts the threads and fires OnOpen.
    // Throws SerialPortError when the port is already open, the device is missing, held by
    // another program or cannot be set up (the device is then closed again). Needs a GuiHandOff.
    void Open();
    // Stops both threads, closes the device and fires OnClose. Nothing when the port is not
    // open.
    void Close();
    bool Active() const;
    // Appends count bytes to the transmit queue and returns count at once; the transmit thread
    // sends them in order. Throws SerialPortError when the port is closed or the queue
    // (transmitQueueBytes) has no room for all of them; nothing is queued then.
    int WriteBuf(const void *data, int count);
    // Discards every byte queued or in the driver not yet sent. Nothing when closed.
    void PurgeWrite();
    // Discards every byte received and not yet handed to OnRxBuf. Nothing when closed.
    void PurgeRead();

    // The device the port opened (or tried to open last).
    const std::string &devicePath() const { return devicePath_; }
    // Whether the device has modem lines: false on a pseudo-terminal, whose DTR and RTS cannot
    // be driven. Meaningful while open.
    bool modemLinesDriven() const { return modemLinesDriven_; }
    // Test seam: when set, Open hands the modem-line levels to it instead of the device; its
    // result stands for whether the device has modem lines.
    std::function<bool(ModemLineLevels)> modemLineDriver;

    struct Session; // the open device and its threads' shared state, per platform

private:
    void eventLoop(std::shared_ptr<Session> session);
    // Starts both threads on the set-up device, makes the session the port's and fires OnOpen.
    void startThreads(const std::shared_ptr<Session> &session, const std::string &name);
    bool handOff(const std::shared_ptr<Session> &session, bool hangUp);
    void handleEvent(Session &session, bool hangUp);
    void reportHandlerError(const char *handler);

    GuiHandOff *gui_ = nullptr;
    std::shared_ptr<Session> session_;
    std::thread eventThread_;
    std::thread transmitThread_;
    std::string devicePath_;
    bool modemLinesDriven_ = false;
};

} // namespace qvoksb
