#pragma once
// The line to the units: the core's serial port or a network gateway, a queue that hands their
// events to the one thread of the tool, and the pacing of the core's exchange engine on it.
//
// The engine does what the configurator's exchange window does (the requests, which reply
// counts, repeats, the command's care); this link only decides when its ticks come. Unlike the
// configurator, which has a person at hand to abort, a step gives up when no correct answer
// came within the time-out.
#include "core/exchange/exchange_engine.h"
#include "core/exchange/scan.h"
#include "core/link/link.h"
#include "core/link/net_link.h"
#include "core/link/serial_port.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ksb7ctl
{

using Clock = qvoksb::exchange::Clock;

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
    std::optional<qvoksb::Gateway> gateway; // a gateway on the network instead of a port
    bool dtr = false;
    bool rts = false;
    Pacing pacing = Pacing::Ticks;
    int timeoutMs = 3000; // a step without a correct answer for this long gives up
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

// Reports the progress of a unit: steps done of steps.
using Progress = std::function<void(int done, int steps)>;

class UnitLink : private qvoksb::exchange::Line
{
public:
    explicit UnitLink(const LinkSettings &settings);
    ~UnitLink() override;
    UnitLink(const UnitLink &) = delete;
    UnitLink &operator=(const UnitLink &) = delete;

    // Opens the port, or connects to the gateway; false with the reason (Russian, one line) when
    // it cannot be opened.
    bool open(std::string *problem);
    void close();
    std::string portName() const; // "COM3", the device path or the gateway's host:port
    bool lost() const { return portLost_; }
    // How a lost link is told: "порт пропал", or the gateway's twin of it.
    std::string lostWords() const
    {
        return settings_.gateway ? "связь со шлюзом пропала" : "порт пропал";
    }

    // Runs one exchange to its end. The step time-out of the settings applies.
    qvoksb::exchange::Result run(qvoksb::exchange::Options options, const Progress &progress);

    // Asks every address of the options for the state (and the last trip of those that answer)
    // with the scan's own short time-out; the step time-out of the settings does not apply.
    // `progress` hears of every request concluded. A lost port ends the scan.
    std::vector<qvoksb::exchange::ScanEntry> scan(const qvoksb::exchange::ScanOptions &options,
                                                  const Progress &progress);

    long requestsSent() const { return requestsSent_; }
    long long bytesSent() const { return bytesSent_; }
    long long bytesReceived() const { return bytesReceived_; }

private:
    void discardInput() override;
    bool send(std::span<const uint8_t> frame) override;

    // When the next tick comes.
    Clock::time_point nextTick(const qvoksb::exchange::Engine &engine) const;
    void onReceived(std::span<const uint8_t> bytes);
    void onFault(const qvoksb::LinkFault &fault);

    LinkSettings settings_;
    EventQueue events_;
    // After events_: their threads stop before the queue goes.
    std::unique_ptr<qvoksb::SerialPort> serial_;
    std::unique_ptr<qvoksb::Link> link_;
    bool opened_ = false;
    std::string openFailure_;
    qvoksb::exchange::Engine *engine_ = nullptr; // the exchange running now
    qvoksb::exchange::Scan *scan_ = nullptr;     // or the scan
    bool portLost_ = false;
    Clock::time_point openedAt_{};
    long long ticksDone_ = 0;
    Clock::time_point lastTickAt_{};
    Clock::time_point lastByteAt_{};
    Clock::time_point quietFrom_{}; // reply pacing: the line is free from here on
    long requestsSent_ = 0;
    long long bytesSent_ = 0;
    long long bytesReceived_ = 0;
};

} // namespace ksb7ctl
