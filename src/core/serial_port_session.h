#pragma once
// The part of an open port's state that does not depend on the platform, and the few steps each
// platform's file supplies for the shared code in serial_port.cpp. Only the port's own files
// include this.
#include "serial_port.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
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

// Supplied by the platform's file.
SessionShared &sharedPart(SerialPort::Session &s);
void wakeTransmitter(SerialPort::Session &s);    // new bytes in the queue
void wakeForClosing(SerialPort::Session &s);     // both threads: stopping is set
void releaseDevice(SerialPort::Session &s);      // under ioMutex, after both threads ended
void transmitLoop(const std::shared_ptr<SerialPort::Session> &s); // the transmit thread
// Under ioMutex on the GUI thread: reads what has arrived into chunk (empty when nothing) and
// returns true when the device turned out to be gone.
bool readReceived(SerialPort::Session &s, bool hangUp, std::vector<uint8_t> &chunk);
// Under ioMutex: the line errors since the last look, LineErrorFlag bits.
uint32_t takeLineErrors(SerialPort::Session &s);
// The one place that makes our error text: port, what failed, the system's reason.
SerialPortError portError(const std::string &port, const std::string &what, int error = 0);

} // namespace qvoksb
