// The serial port on Win32 communications functions, with overlapped I/O.
//
// The event thread keeps a one-byte read pending on the device (issued anew after readWaitMs of
// silence); when it finishes, ClearCommError tells how many more bytes are there and a read of
// exactly that many takes them. What it reads waits in the session until the GUI thread takes it
// as one chunk; the driver holds what arrives meanwhile and the next event takes it all. Line
// errors are the driver's own communication error flags, taken with ClearCommError on every event;
// they come with received characters, so they are seen with the bytes they spoilt.
#include "core/link/serial_port.h"

#include "core/link/line_errors.h"
#include "core/link/serial_port_session.h"
#include "core/platform/win_text.h"

#include <windows.h>

namespace qvoksb
{

namespace
{

// A read waits this long for a first byte before it is issued anew.
constexpr DWORD readWaitMs = 60000;
// A read of bytes the driver already holds is given this long before it is cancelled.
constexpr DWORD waitingReadMs = 1000;
constexpr DWORD driverQueueBytes = 4096;

// Errors after which the device is not coming back: a USB adapter pulled out, a driver gone.
bool vanishedError(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_BAD_COMMAND ||
           error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_DEVICE_REMOVED ||
           error == ERROR_GEN_FAILURE || error == ERROR_IO_DEVICE || error == ERROR_NOT_READY ||
           error == ERROR_INVALID_HANDLE || error == ERROR_FILE_NOT_FOUND ||
           error == ERROR_BROKEN_PIPE;
}

// Modem-line requests a device without modem lines (a pseudo-terminal under Wine) refuses so.
bool noModemLines(DWORD error)
{
    return error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_INVALID_FUNCTION || error == ERROR_BAD_COMMAND;
}

void closeHandle(HANDLE &h)
{
    if (h && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = nullptr;
}

// 9600 bit/s, 8N1, binary and transparent: no flow control of any kind, no parity check that
// could replace a byte, no error character, NUL kept, no abort of reads and writes on an error.
void makeLineSettings(DCB &dcb, ModemLineLevels levels)
{
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = levels.dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = levels.rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
}

bool lineSettingsTook(const DCB &wanted, const DCB &got)
{
    return got.BaudRate == wanted.BaudRate && got.ByteSize == wanted.ByteSize &&
           got.Parity == wanted.Parity && got.StopBits == wanted.StopBits && !got.fOutxCtsFlow &&
           !got.fOutxDsrFlow && !got.fOutX && !got.fInX &&
           got.fRtsControl != RTS_CONTROL_HANDSHAKE && got.fDtrControl != DTR_CONTROL_HANDSHAKE;
}

} // namespace

struct SerialPort::Session : SessionShared {
    HANDLE device = INVALID_HANDLE_VALUE;
    HANDLE eventWake = nullptr;    // auto-reset: closing, or a failed write to report
    HANDLE transmitWake = nullptr; // auto-reset: closing, or new bytes in the queue
    OVERLAPPED readOv{};           // the event thread's read
    OVERLAPPED writeOv{};          // the transmit thread's write

    // Under ioMutex: bytes read and not yet handed to the GUI thread, line errors taken with
    // them, and the count of receive purges, so that a read finished before a purge is dropped.
    std::vector<uint8_t> received;
    DWORD lineErrors = 0;
    uint64_t purges = 0;

    // The event thread's own: its read buffer, and how many reads in a row gave nothing long
    // before their time was up.
    std::vector<uint8_t> readBuffer;
    int emptyReads = 0;
};

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
    return systemErrorText(static_cast<DWORD>(error));
}

// The \\.\ device path tells the user nothing the port's name does not.
std::string portLabel(const std::string &port, const std::string &)
{
    return port;
}

void wakeTransmitter(SerialPort::Session &s)
{
    SetEvent(s.transmitWake);
}

void wakeEventThread(SerialPort::Session &s)
{
    SetEvent(s.eventWake);
}

void releaseDevice(SerialPort::Session &s)
{
    closeHandle(s.device);
    closeHandle(s.eventWake);
    closeHandle(s.transmitWake);
    closeHandle(s.readOv.hEvent);
    closeHandle(s.writeOv.hEvent);
}

bool readReceived(SerialPort::Session &s, bool, std::vector<uint8_t> &chunk)
{
    chunk.swap(s.received);
    s.received.clear();
    return false;
}

uint32_t takeLineErrors(SerialPort::Session &s)
{
    DWORD errors = 0;
    COMSTAT status{};
    if (s.device != INVALID_HANDLE_VALUE && ClearCommError(s.device, &errors, &status))
        s.lineErrors |= errors;
    const uint32_t flags = s.lineErrors;
    s.lineErrors = 0;
    return flags;
}

void transmitLoop(const std::shared_ptr<SerialPort::Session> &s)
{
    std::vector<uint8_t> sending;
    while (!s->stopping) {
        BOOL issued;
        DWORD error = 0;
        {
            // The write is issued under the queue lock, so that a purge either finds the bytes
            // still queued or the write already under way, which it cancels.
            std::unique_lock lock(s->queueMutex);
            if (s->queue.empty()) {
                lock.unlock();
                WaitForSingleObject(s->transmitWake, INFINITE);
                continue;
            }
            sending.swap(s->queue);
            s->queue.clear();
            ResetEvent(s->writeOv.hEvent);
            issued = WriteFile(s->device, sending.data(), static_cast<DWORD>(sending.size()),
                               nullptr, &s->writeOv);
            if (!issued)
                error = GetLastError();
        }
        if (!issued && error != ERROR_IO_PENDING) {
            if (error != ERROR_OPERATION_ABORTED)
                reportWriteFailure(*s, vanishedError(error));
            continue;
        }
        const HANDLE waits[2] = {s->writeOv.hEvent, s->transmitWake};
        for (;;) {
            const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
            if (woke == WAIT_OBJECT_0)
                break;
            if (woke != WAIT_OBJECT_0 + 1 || s->stopping) {
                CancelIoEx(s->device, &s->writeOv);
                break;
            }
        }
        DWORD written = 0;
        if (!GetOverlappedResult(s->device, &s->writeOv, &written, TRUE)) {
            error = GetLastError();
            if (error != ERROR_OPERATION_ABORTED)
                reportWriteFailure(*s, vanishedError(error));
        } else if (written < sending.size() && !s->stopping) {
            // A write cut short by a time-out: the rest goes first next time.
            std::lock_guard lock(s->queueMutex);
            s->queue.insert(s->queue.begin(), sending.begin() + written, sending.end());
        }
        sending.clear();
    }
}

namespace
{

enum class ReadResult { bytes, nothing, nothingAtOnce, vanished };

// Under ioMutex, right after ClearCommError counted them: reads the bytes the driver holds. A read
// of exactly that many finishes at once (also under Wine, which does not end an overlapped read
// early for the time-outs set here).
bool readWaiting(SerialPort::Session &s, DWORD count, std::vector<uint8_t> &buffer)
{
    buffer.resize(count);
    ResetEvent(s.readOv.hEvent);
    if (!ReadFile(s.device, buffer.data(), count, nullptr, &s.readOv) &&
        GetLastError() != ERROR_IO_PENDING)
        return vanishedError(GetLastError());
    if (WaitForSingleObject(s.readOv.hEvent, waitingReadMs) != WAIT_OBJECT_0)
        CancelIoEx(s.device, &s.readOv);
    DWORD got = 0;
    if (!GetOverlappedResult(s.device, &s.readOv, &got, TRUE) &&
        GetLastError() != ERROR_OPERATION_ABORTED)
        return vanishedError(GetLastError());
    s.received.insert(s.received.end(), buffer.begin(), buffer.begin() + got);
    return false;
}

// One event: waits for the first byte (or the wake-up event, or readWaitMs), then takes the rest
// of what has arrived.
ReadResult readOnce(SerialPort::Session &s, std::vector<uint8_t> &buffer)
{
    uint64_t purges;
    uint8_t first = 0;
    {
        // Issued under the port lock, so that a purge cannot slip in between.
        std::lock_guard lock(s.ioMutex);
        purges = s.purges;
        ResetEvent(s.readOv.hEvent);
        if (!ReadFile(s.device, &first, 1, nullptr, &s.readOv)) {
            const DWORD error = GetLastError();
            if (error == ERROR_OPERATION_ABORTED)
                return ReadResult::nothingAtOnce;
            if (error != ERROR_IO_PENDING)
                return ReadResult::vanished;
        }
    }
    const ULONGLONG start = GetTickCount64();
    const HANDLE waits[2] = {s.readOv.hEvent, s.eventWake};
    const bool woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0;
    if (woken)
        CancelIoEx(s.device, &s.readOv);
    DWORD got = 0;
    if (!GetOverlappedResult(s.device, &s.readOv, &got, TRUE)) {
        // Cancelled by closing or by a receive purge: nothing amiss with the device.
        if (GetLastError() == ERROR_OPERATION_ABORTED)
            return ReadResult::nothing;
        return ReadResult::vanished;
    }
    if (got == 0) {
        const bool early = !woken && GetTickCount64() - start < readWaitMs / 2;
        return early ? ReadResult::nothingAtOnce : ReadResult::nothing;
    }
    std::lock_guard lock(s.ioMutex);
    if (purges != s.purges)
        return ReadResult::nothing; // read before a receive purge: discarded with the rest
    s.received.push_back(first);
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(s.device, &errors, &status))
        return vanishedError(GetLastError()) ? ReadResult::vanished : ReadResult::bytes;
    s.lineErrors |= errors;
    if (status.cbInQue > 0 && readWaiting(s, status.cbInQue, buffer))
        return ReadResult::vanished;
    return ReadResult::bytes;
}

} // namespace

void openDevice(SerialPort::Session &s, const std::string &devicePath, const std::string &name,
                ModemLineLevels levels)
{
    std::wstring path;
    toWide(devicePath, &path);
    // No sharing: the port is ours alone while open.
    s.device = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (s.device == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            throw portError(name, "held by another program", static_cast<int>(error));
        throw portError(name, "cannot open the device", static_cast<int>(error));
    }
    DCB wanted{};
    wanted.DCBlength = sizeof wanted;
    if (!GetCommState(s.device, &wanted))
        throw portError(name, "not a serial device", static_cast<int>(GetLastError()));
    SetupComm(s.device, driverQueueBytes, driverQueueBytes);
    makeLineSettings(wanted, levels);
    // A device without modem lines refuses the whole call when asked for DTR or RTS; what
    // counts is whether the line itself took.
    SetCommState(s.device, &wanted);
    DCB got{};
    got.DCBlength = sizeof got;
    if (!GetCommState(s.device, &got) || !lineSettingsTook(wanted, got))
        throw portError(name, "the device does not take 9600 bit/s 8N1 without flow control");
}

// A pseudo-terminal has none.
bool driveModemLines(SerialPort::Session &s, ModemLineLevels levels, const std::string &name)
{
    const bool driven = EscapeCommFunction(s.device, levels.dtr ? SETDTR : CLRDTR) &&
                        EscapeCommFunction(s.device, levels.rts ? SETRTS : CLRRTS);
    if (!driven && !noModemLines(GetLastError()))
        throw portError(name, "cannot set the modem lines", static_cast<int>(GetLastError()));
    return driven;
}

void prepareEvents(SerialPort::Session &s, const std::string &name)
{
    // A read finishes as soon as a byte is there; writes have no time limit.
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, readWaitMs, 0, 0};
    if (!SetCommTimeouts(s.device, &timeouts))
        throw portError(name, "cannot set the time-outs", static_cast<int>(GetLastError()));
    // Bytes that arrived before the port was ours are not an answer to anything we sent.
    PurgeComm(s.device, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
    DWORD errors = 0;
    ClearCommError(s.device, &errors, nullptr);

    s.eventWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    s.transmitWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    s.readOv.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    s.writeOv.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!s.eventWake || !s.transmitWake || !s.readOv.hEvent || !s.writeOv.hEvent)
        throw portError(name, "cannot create the port's events", static_cast<int>(GetLastError()));
}

void discardTransmit(SerialPort::Session &s)
{
    CancelIoEx(s.device, &s.writeOv);
    PurgeComm(s.device, PURGE_TXABORT | PURGE_TXCLEAR);
}

void discardReceived(SerialPort::Session &s)
{
    ++s.purges;
    s.received.clear();
    CancelIoEx(s.device, &s.readOv);
    PurgeComm(s.device, PURGE_RXABORT | PURGE_RXCLEAR);
}

// One read (nothing once the device is gone, only the wake-up), and whether bytes now wait.
DeviceEvent waitForEvent(SerialPort::Session &s)
{
    DeviceEvent event;
    if (s.gone) {
        WaitForSingleObject(s.eventWake, INFINITE);
    } else {
        const ReadResult result = readOnce(s, s.readBuffer);
        event.hangUp = result == ReadResult::vanished;
        s.emptyReads = result == ReadResult::nothingAtOnce ? s.emptyReads + 1 : 0;
        if (s.emptyReads >= emptyReadsMeaningGone)
            event.hangUp = true;
    }
    event.stop = s.stopping;
    if (event.stop)
        return event;
    std::lock_guard lock(s.ioMutex);
    event.received = !s.received.empty();
    return event;
}
} // namespace qvoksb
