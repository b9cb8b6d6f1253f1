#pragma once
// The part of an open port's state that does not depend on the platform, and the few steps each
// platform's file supplies for the shared code in serial_port.cpp. Only the port's own files
// include this.
#include "core/link/serial_port.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qvoksb
{

struct SessionShared {
    std::string port; // "COMn", for error texts
    GuiHandOff *gui = nullptr;
    std::atomic<bool> stopping{false};

    // Port-wide lock: reading, purging, the line errors and closing. The device belongs to it;
    // closed is set under it and read without it on the GUI thread.
    std::mutex ioMutex;
    std::atomic<bool> closed{false};

    std::atomic<bool> gone{false};            // the device went away; it is no longer watched
    std::atomic<bool> ioErrorReported{false}; // its going has been reported
    std::atomic<uint32_t> pendingFlags{0};    // from the transmit thread, for the next event
    bool purgedRead = false;                  // GUI thread only: an event may now read nothing

    // The event being handed to the GUI thread: the event thread waits until handledTicket
    // reaches its ticket, or until closing.
    std::mutex handOffMutex;
    std::condition_variable handOffDone;
    uint64_t nextTicket = 0;
    uint64_t handledTicket = 0;
    bool lastTaskRan = false;

    // The transmit queue, the only state the transmit thread shares with the GUI thread.
    std::mutex queueMutex;
    std::vector<uint8_t> queue;

    void markHandled(uint64_t ticket, bool ran)
    {
        std::lock_guard lock(handOffMutex);
        if (ticket > handledTicket) {
            handledTicket = ticket;
            lastTaskRan = ran;
        }
        handOffDone.notify_all();
    }
};

// A device that reads nothing this many times in a row although it said it had something is
// gone without saying so.
constexpr int emptyReadsMeaningGone = 8;

// Supplied by the platform's file.
std::shared_ptr<SerialPort::Session> newSession(); // no device yet
SessionShared &sharedPart(SerialPort::Session &s);
// What error texts call the port: its name, with the device where that tells the user more.
std::string portLabel(const std::string &port, const std::string &devicePath);
// The system's own text for one of its error codes (errno, a GetLastError() code).
std::string systemReason(int error);
// Opening, in three steps: the device opened exclusively with the line set up (levels: where DTR
// and RTS are to be held, for a platform that sets them with the line); then, unless the test seam
// stands in, the modem lines held at levels (false: the device has none); then whatever arrived
// before the port was ours dropped and the threads' wake-ups made. Each throws the port's error,
// naming the port as name; the shared code releases what was made.
void openDevice(SerialPort::Session &s, const std::string &devicePath, const std::string &name,
                ModemLineLevels levels);
bool driveModemLines(SerialPort::Session &s, ModemLineLevels levels, const std::string &name);
void prepareEvents(SerialPort::Session &s, const std::string &name);
void wakeTransmitter(SerialPort::Session &s); // new bytes in the queue, or closing
void wakeEventThread(SerialPort::Session &s); // a failed write to report, or closing
void releaseDevice(SerialPort::Session &s);   // under ioMutex, after both threads ended
void transmitLoop(const std::shared_ptr<SerialPort::Session> &s); // the transmit thread
// The event thread's wait for the device (not watched once gone) and its wake-up.
struct DeviceEvent {
    bool stop = false;     // the port is closing, or the wait failed: the thread ends
    bool hangUp = false;   // the device is gone
    bool received = false; // bytes are waiting
};
DeviceEvent waitForEvent(SerialPort::Session &s);
// Under ioMutex on the GUI thread: reads what has arrived into chunk (empty when nothing) and
// returns true when the device turned out to be gone.
bool readReceived(SerialPort::Session &s, bool hangUp, std::vector<uint8_t> &chunk);
// Under ioMutex: the line errors since the last look, LineErrorFlag bits.
uint32_t takeLineErrors(SerialPort::Session &s);
// Under queueMutex and ioMutex, the queue already emptied: drops what the driver has not sent.
void discardTransmit(SerialPort::Session &s);
// Under ioMutex: drops what the driver has received and nothing has read yet.
void discardReceived(SerialPort::Session &s);

// Shared by both platforms.
// The one place that makes our error text: port, what failed, the system's reason.
SerialPortError portError(const std::string &port, const std::string &what, int error = 0);
// From the transmit thread: bytes that could not go out are reported like a line error with the
// next event; a device that went away is reported only once.
void reportWriteFailure(SerialPort::Session &s, bool deviceGone);

} // namespace qvoksb
