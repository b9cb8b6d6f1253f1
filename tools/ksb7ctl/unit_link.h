#pragma once
// The line to the units: the core's serial port, a queue that hands its events to the one
// thread of the tool, and the transactions with their pacing, repeats and bounded waits.
//
// A transaction sends one request and waits for its correct answer. A reply that fails its
// check (a wrong CRC, a frame that does not answer the request) and a request left without a
// reply are repeated, as the configurator does; unlike the configurator, which has a person
// at hand to abort, a step gives up when no correct answer came within the time-out. The
// unit's refusal (a Modbus exception) ends the transaction at once: it is never repeated.
#include "modbus_rtu.h"
#include "serial_port.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace ksb7ctl
{

using Clock = std::chrono::steady_clock;

enum class Pacing {
    Ticks, // the configurator's 300 ms ticks: one tick sends, the next examines the reply
    Reply, // the next request as soon as the reply is in and checked, after the line's silence
};

inline constexpr int TickMs = 300;
// The silent interval that ends a Modbus RTU frame: 3.5 characters of 11 bits at 9600 bit/s.
inline constexpr auto FrameSilence = std::chrono::microseconds(3500 * 11 * 1000000LL / 9600 / 1000);
// In reply pacing, a reply that stops arriving for this long before it is whole is spoilt. More
// than the frame silence: USB serial adapters deliver in bursts up to 16 ms apart.
inline constexpr auto ReplyGap = std::chrono::milliseconds(20);

struct LinkSettings {
    int portNum = 1;
    std::string devicePath; // opened instead of port portNum when not empty
    bool dtr = false;
    bool rts = false;
    Pacing pacing = Pacing::Ticks;
    int timeoutMs = 3000; // a step without a correct answer for this long gives up
};

enum class Outcome {
    Correct,  // the answer the request asked for
    Refused,  // the unit answered with an exception
    Silent,   // no correct answer within the time-out
    PortLost, // the port device went away
};

struct Answer {
    Outcome outcome = Outcome::Silent;
    uint8_t exceptionCode = 0;  // Refused
    std::vector<uint8_t> reply; // Correct: the reply's bytes
    std::string trouble;        // Silent: the last spoilt reply or line error, if any (Russian)
};

// Hands the port's events to the tool's thread: the port's event thread queues a task, the
// tool's thread runs it while it waits for the unit.
class EventQueue : public qvoksb::GuiHandOff
{
public:
    bool post(std::function<void()> task) override;
    // Runs queued tasks; waits until one comes or `until` has passed. True when any ran.
    bool runUntil(Clock::time_point until);
    void shut(); // takes no more tasks and drops the queued ones

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> tasks_;
    bool shut_ = false;
};

class UnitLink
{
public:
    explicit UnitLink(const LinkSettings &settings);
    ~UnitLink();
    UnitLink(const UnitLink &) = delete;
    UnitLink &operator=(const UnitLink &) = delete;

    // Opens the port; false with the reason (Russian, one line) when it cannot be opened.
    bool open(std::string *problem);
    void close();
    std::string portName() const; // "COM3" or the device path

    Answer transact(std::span<const uint8_t> request);

    long requestsSent() const { return requestsSent_; }
    long long bytesSent() const { return bytesSent_; }
    long long bytesReceived() const { return bytesReceived_; }

private:
    Answer transactTicks(std::span<const uint8_t> request);
    Answer transactReply(std::span<const uint8_t> request);
    void send(std::span<const uint8_t> request);
    void finishExamining();
    // Runs port events until `until`; false when the port went away meanwhile.
    bool waitUntil(Clock::time_point until);
    void onReceived(const uint8_t *data, size_t count);
    void onLineError(uint32_t flags);

    LinkSettings settings_;
    EventQueue events_;
    qvoksb::SerialPort port_; // after events_: its threads stop before the queue goes
    std::vector<uint8_t> reply_;
    Clock::time_point lastByteAt_{};
    bool portLost_ = false;
    std::string lineTrouble_;
    Clock::time_point openedAt_{};
    long long ticksDone_ = 0;
    Clock::time_point quietFrom_{}; // reply pacing: the line is free from here on
    long requestsSent_ = 0;
    long long bytesSent_ = 0;
    long long bytesReceived_ = 0;
};

} // namespace ksb7ctl
