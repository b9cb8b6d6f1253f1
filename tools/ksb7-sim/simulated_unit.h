#pragma once
// A simulated KSB-7 on a pseudo-terminal. start() puts a link COMn to the terminal into the port
// directory, so that the configurator opens it exactly as a unit on a serial cable; a server
// thread answers Modbus RTU requests through libmodbus until stop(), which removes the link.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ksb7sim
{

// Ways the unit misbehaves. "Every n-th" counts from the last setFaults(); 0 turns a mode off.
struct Faults {
    bool silent = false;          // never reply
    int dropEvery = 0;            // no reply to every n-th request
    int badCrcEvery = 0;          // a wrong CRC on every n-th reply
    int splitPauseMs = 0;         // send each reply in two halves with this pause between them
    int delayMs = 0;              // wait this long before each reply
    int exceptionBlockStart = -1; // requests touching the block that starts here (or, if no
    int exceptionCode = 0;        // block starts here, this register) get this exception
    bool malformed = false;       // right CRC, but a read reply one register short, other replies
                                  // with a function code that was not asked for
    int burstBytes = 0;           // send this many random bytes (never a valid frame) instead of
                                  // each reply
    bool vanishOnNextRequest = false; // on the next request send half the reply, then close the
    int vanishAtRequest = 0;          // terminal; or do so at the n-th request
    int vanishDowntimeMs = 500;       // a new terminal and link appear after this; < 0: never
    int alterRegister = -1;           // a write to this register stores alterValue instead of
    uint16_t alterValue = 0;          // what was sent, and the write is still acknowledged
    bool echo = false;                // the line hands every request straight back, as a
                                      // two-wire adapter that hears itself (the host's only)
    int noiseBytes = 0;               // this many random bytes as the unit takes each request
    int delayBlockStart = -1;         // requests touching the block that starts here (or this
    int delayBlockMs = 0;             // register) are answered this much later
    int silentFromRequest = 0;        // from the n-th request on, for silentForMs, the cable is
    int silentForMs = 0;              // out: nothing is heard and nothing answered
};

class SimulatedUnit
{
public:
    SimulatedUnit();
    ~SimulatedUnit(); // stops
    SimulatedUnit(const SimulatedUnit &) = delete;
    SimulatedUnit &operator=(const SimulatedUnit &) = delete;

    // Creates the pseudo-terminal and the link COM<portNumber> in qvoksb::portDirectory() and
    // starts answering requests to unit address. An existing entry that is not a dangling link
    // (another unit, a real port of the user) is left alone and start() fails.
    bool start(int portNumber, int address = 1, std::string *error = nullptr);
    // Plays this unit on the line of `host`, a running unit, as on a multi-drop bus: requests to
    // `address` on the host's terminal reach this unit, which answers with its own registers and
    // faults. The address must differ from those of the host and its other units.
    bool startOnLine(SimulatedUnit &host, int address, std::string *error = nullptr);
    void stop(); // removes the link, if it is still ours; a unit on a host's line leaves it
    bool running() const;

    uint16_t reg(int address) const; // 0 outside the register map
    void setReg(int address, uint16_t value);
    void setInputs(uint16_t mask); // register 518, bits 0..3
    void setFaults(const Faults &f);
    Faults faults() const;
    // Records a trip with this cause at the present time, as the unit does after a command.
    void recordTrip(int cause);

    std::vector<std::vector<uint8_t>> receivedFrames() const; // raw requests seen, in order
    void clearReceivedFrames();
    // Waits until at least count frames have been received since the last clear.
    bool waitForFrames(size_t count, int timeoutMs) const;
    int lastCommand() const; // the last command code carried out, 0 if none

    std::string linkPath() const;   // <port directory>/COMn
    std::string devicePath() const; // the terminal the link points to now

    // Receives every line of the traffic print (without a line end); none by default.
    void setTrafficPrinter(std::function<void(const std::string &line)> printer);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace ksb7sim
