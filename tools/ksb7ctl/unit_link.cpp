#include "unit_link.h"

#include "core/link/port_directory.h"
#include "core/link/serial_link.h"

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

UnitLink::UnitLink(const LinkSettings &settings) : settings_(settings)
{
    if (settings.gateway) {
        auto net = std::make_unique<qvoksb::NetLink>(*settings.gateway, &events_);
        net->connectTimeoutMs = settings.timeoutMs;
        link_ = std::move(net);
    } else {
        serial_ = std::make_unique<qvoksb::SerialPort>(&events_);
        serial_->PortNum = settings.portNum;
        serial_->DevicePath = settings.devicePath;
        serial_->ControlDtr = settings.dtr ? qvoksb::dtrEnabled : qvoksb::dtrDisabled;
        serial_->ControlRts = settings.rts ? qvoksb::rtsEnabled : qvoksb::rtsDisabled;
        link_ = std::make_unique<qvoksb::SerialLink>(*serial_);
    }
    link_->onOpen = [this] { opened_ = true; };
    link_->onReceived = [this](std::span<const uint8_t> bytes) { onReceived(bytes); };
    link_->onFault = [this](const qvoksb::LinkFault &fault) { onFault(fault); };
}

UnitLink::~UnitLink()
{
    close();
}

std::string UnitLink::portName() const
{
    if (settings_.gateway)
        return qvoksb::gatewayName(*settings_.gateway);
    return settings_.devicePath.empty() ? qvoksb::portEntryName(settings_.portNum)
                                        : settings_.devicePath;
}

bool UnitLink::open(std::string *problem)
{
    opened_ = false;
    openFailure_.clear();
    try {
        link_->open();
    } catch (const qvoksb::LinkError &e) {
        if (problem)
            *problem = e.what(); // the real cause: missing, held by another program, no address
        return false;
    }
    // A gateway answers the connection in its own time; the link gives up at its time-out.
    while (!opened_ && openFailure_.empty())
        events_.runUntil(Clock::now() + std::chrono::milliseconds(TickMs));
    if (!opened_) {
        if (problem)
            *problem = openFailure_;
        link_->close();
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
    if (link_ && link_->active())
        link_->close();
    events_.shut();
}

void UnitLink::onReceived(std::span<const uint8_t> bytes)
{
    bytesReceived_ += static_cast<long long>(bytes.size());
    lastByteAt_ = Clock::now();
    quietFrom_ = lastByteAt_ + FrameSilence;
    // Bytes between two exchanges answer nothing that is still asked.
    if (engine_)
        engine_->received(bytes, lastByteAt_);
    if (scan_)
        scan_->received(bytes, lastByteAt_);
}

void UnitLink::onFault(const qvoksb::LinkFault &fault)
{
    if (!opened_) {
        openFailure_ = fault.message.empty() ? "нет связи с " + portName() : fault.message;
        return;
    }
    // A lost link (an adapter pulled out, a gateway gone): nothing more can be sent.
    portLost_ = portLost_ || fault.lost;
    if (engine_)
        engine_->lineError(fault.message, fault.lost);
    if (scan_)
        scan_->lineError(fault.message, fault.lost);
}

void UnitLink::discardInput()
{
    link_->discardInput();
}

bool UnitLink::send(std::span<const uint8_t> frame)
{
    // The queue cannot take the frame, or the link has gone: the fault says which.
    if (!link_->send(frame))
        return false;
    ++requestsSent_;
    bytesSent_ += static_cast<long long>(frame.size());
    return true;
}

// Ticks: the configurator's, counted from the opening of the port, so that one line serves
// several units at an even pace; a caller that comes back late does not make up the ticks it
// missed. Reply: as soon as the answer is in, or the line has been silent after a spoilt one;
// when the engine waits for the line to fall quiet, at the end of that wait; a request without
// any answer is looked at again a tick after it went.
Clock::time_point UnitLink::nextTick(const exchange::Engine &engine) const
{
    const auto tick = std::chrono::milliseconds(TickMs);
    if (settings_.pacing == Pacing::Ticks)
        return openedAt_ + tick * (ticksDone_ + 1);
    if (engine.quiet())
        return std::max({Clock::now(), engine.quietUntil(), quietFrom_});
    if (engine.awaitingReply() && !engine.repeatDue())
        return lastTickAt_ + tick;
    return std::max(Clock::now(), quietFrom_);
}

exchange::Result UnitLink::run(exchange::Options options, const Progress &progress)
{
    options.stepTimeout = exchange::Milliseconds(settings_.timeoutMs);
    exchange::Engine engine(options, *this);
    if (portLost_ || !link_->active()) {
        engine.lineError(settings_.gateway ? "нет связи со шлюзом" : "порт недоступен", true);
        return engine.result();
    }
    engine_ = &engine;
    const auto tick = std::chrono::milliseconds(TickMs);
    int reported = 0;
    long long receivedAtTick = bytesReceived_;
    while (!engine.finished()) {
        if (settings_.pacing == Pacing::Ticks && Clock::now() - nextTick(engine) >= tick)
            ticksDone_ = (Clock::now() - openedAt_) / tick - 1;
        const Clock::time_point until = nextTick(engine);
        while (!portLost_ && !engine.finished() && Clock::now() < until) {
            Clock::time_point wake = until;
            if (settings_.pacing == Pacing::Reply && engine.awaitingReply()) {
                if (engine.answerWaiting())
                    break;
                // Whatever came since the last look has stopped coming: look at it now. Bytes
                // already looked at wait for the tick; looking again would only spin.
                if (!engine.held().empty() && bytesReceived_ != receivedAtTick) {
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
        receivedAtTick = bytesReceived_;
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
    if (portLost_ || !link_->active())
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
