#include "unit_link.h"

#include "core/link/line_errors.h"
#include "core/link/port_directory.h"
#include "core/platform/system_error.h"

#include <algorithm>

namespace ksb7ctl
{

namespace modbus = qvoksb::modbus;

namespace exchange = qvoksb::exchange;

bool EventQueue::post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        if (shut_)
            return false;
        tasks_.push_back(std::move(task));
    }
    ready_.notify_one();
    return true;
}

bool EventQueue::runUntil(Clock::time_point until)
{
    bool ran = false;
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            if (tasks_.empty()) {
                if (ran)
                    return true;
                if (!ready_.wait_until(lock, until, [&] { return !tasks_.empty(); }))
                    return false;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
        ran = true;
    }
}

void EventQueue::shut()
{
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        shut_ = true;
        dropped.swap(tasks_);
    }
    // Dropped outside the lock: a task's end tells the port's event thread it was not taken.
}

UnitLink::UnitLink(const LinkSettings &settings) : settings_(settings), port_(&events_)
{
    port_.PortNum = settings.portNum;
    port_.DevicePath = settings.devicePath;
    port_.ControlDtr = settings.dtr ? qvoksb::dtrEnabled : qvoksb::dtrDisabled;
    port_.ControlRts = settings.rts ? qvoksb::rtsEnabled : qvoksb::rtsDisabled;
    port_.OnRxBuf = [this](const uint8_t *data, size_t count) { onReceived(data, count); };
    port_.OnError = [this](uint32_t flags) { onLineError(flags); };
}

UnitLink::~UnitLink()
{
    close();
}

std::string UnitLink::portName() const
{
    return settings_.devicePath.empty() ? qvoksb::portEntryName(settings_.portNum)
                                        : settings_.devicePath;
}

bool UnitLink::open(std::string *problem)
{
    try {
        port_.Open();
    } catch (const qvoksb::SerialPortError &e) {
        if (problem) {
            // The real cause: missing, a folder, not a terminal, held by another program, ...
            *problem = "порт " + portName() + " не открыт: " +
                       (e.systemError() ? qvoksb::errnoText(e.systemError())
                                        : std::string("устройство не принимает 9600 бит/с 8N1"));
        }
        return false;
    }
    openedAt_ = Clock::now();
    quietFrom_ = openedAt_;
    lastTickAt_ = openedAt_;
    ticksDone_ = 0;
    portLost_ = false;
    return true;
}

void UnitLink::close()
{
    if (port_.Active())
        port_.Close();
    events_.shut();
}

void UnitLink::onReceived(const uint8_t *data, size_t count)
{
    bytesReceived_ += static_cast<long long>(count);
    lastByteAt_ = Clock::now();
    quietFrom_ = lastByteAt_ + FrameSilence;
    // Bytes between two exchanges answer nothing that is still asked.
    if (engine_)
        engine_->received({data, count}, lastByteAt_);
    if (scan_)
        scan_->received({data, count}, lastByteAt_);
}

void UnitLink::onLineError(uint32_t flags)
{
    const char *message = qvoksb::lineErrorMessage(flags);
    // A device error means the port has gone (an adapter pulled out): nothing more can be sent.
    const bool lost = (flags & qvoksb::CE_IOE) != 0;
    portLost_ = portLost_ || lost;
    if (engine_)
        engine_->lineError(message ? message : "", lost);
    if (scan_)
        scan_->lineError(message ? message : "", lost);
}

void UnitLink::discardInput()
{
    port_.PurgeRead();
}

bool UnitLink::send(std::span<const uint8_t> frame)
{
    port_.PurgeWrite();
    try {
        port_.WriteBuf(frame.data(), int(frame.size()));
        ++requestsSent_;
        bytesSent_ += static_cast<long long>(frame.size());
        return true;
    } catch (const qvoksb::SerialPortError &) {
        // The queue cannot take the frame, or the port has gone: the line error says which.
        return false;
    }
}

// Ticks: the configurator's, counted from the opening of the port, so that one line serves
// several units at an even pace; a caller that comes back late does not make up the ticks it
// missed. Reply: as soon as the answer is in, or the line has been silent after a spoilt one;
// a request without any answer is looked at again a tick after it went.
Clock::time_point UnitLink::nextTick(const exchange::Engine &engine) const
{
    const auto tick = std::chrono::milliseconds(TickMs);
    if (settings_.pacing == Pacing::Ticks)
        return openedAt_ + tick * (ticksDone_ + 1);
    if ((engine.awaitingReply() && !engine.repeatDue()) || engine.quiet())
        return lastTickAt_ + tick;
    return std::max(Clock::now(), quietFrom_);
}

exchange::Result UnitLink::run(exchange::Options options, const Progress &progress)
{
    options.stepTimeout = exchange::Milliseconds(settings_.timeoutMs);
    exchange::Engine engine(options, *this);
    if (portLost_ || !port_.Active()) {
        engine.lineError("порт недоступен", true);
        return engine.result();
    }
    engine_ = &engine;
    const auto tick = std::chrono::milliseconds(TickMs);
    int reported = 0;
    while (!engine.finished()) {
        if (settings_.pacing == Pacing::Ticks && Clock::now() - nextTick(engine) >= tick)
            ticksDone_ = (Clock::now() - openedAt_) / tick - 1;
        const Clock::time_point until = nextTick(engine);
        while (!portLost_ && !engine.finished() && Clock::now() < until) {
            Clock::time_point wake = until;
            if (settings_.pacing == Pacing::Reply && engine.awaitingReply()) {
                if (engine.answerWaiting())
                    break;
                // Whatever came has stopped coming: look at it now.
                if (!engine.held().empty()) {
                    if (Clock::now() - lastByteAt_ >= ReplyGap)
                        break;
                    wake = std::min(wake, lastByteAt_ + ReplyGap);
                }
            }
            events_.runUntil(wake);
        }
        if (engine.finished())
            break;
        ++ticksDone_;
        lastTickAt_ = Clock::now();
        engine.tick(lastTickAt_);
        if (progress && engine.stepsDone() != reported) {
            reported = engine.stepsDone();
            progress(reported, engine.stepsInAll());
        }
    }
    engine_ = nullptr;
    return engine.result();
}

std::vector<exchange::ScanEntry> UnitLink::scan(const exchange::ScanOptions &options,
                                                const Progress &progress)
{
    exchange::Scan scan(options, *this);
    if (portLost_ || !port_.Active())
        return {};
    scan_ = &scan;
    int reported = -1;
    while (!scan.finished()) {
        scan.poll(Clock::now());
        if (progress && scan.done() != reported) {
            reported = scan.done();
            progress(reported, scan.inAll());
        }
        if (scan.finished())
            break;
        // Woken by the bytes of an answer, or at the time-out.
        events_.runUntil(std::max(Clock::now(), scan.due()));
        if (portLost_)
            break;
    }
    scan_ = nullptr;
    return scan.entries();
}

} // namespace ksb7ctl
