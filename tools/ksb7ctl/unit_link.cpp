#include "unit_link.h"

#include "line_errors.h"
#include "port_directory.h"
#include "system_error.h"

#include <algorithm>

namespace ksb7ctl
{

namespace modbus = qvoksb::modbus;

namespace
{

// Fewer bytes than this are no reply yet.
constexpr size_t ReplyWaitingBytes = 4;
// The reply accumulator holds one reply's worth and some; more is noise and is dropped.
constexpr size_t ReplyCapacityBytes = 4096;

// The length of the correct answer to a request: a read reply carries its registers, a write
// is echoed in 8 bytes.
size_t expectedReplyBytes(std::span<const uint8_t> request)
{
    if (request.size() >= 6 && request[1] == modbus::FunctionReadInputRegisters)
        return modbus::readReplyBytes(size_t(request[4]) << 8 | request[5]);
    return modbus::WriteReplyBytes;
}

std::string troubleText(modbus::ReplyKind kind)
{
    return kind == modbus::ReplyKind::Malformed ? "неверный ответ блока" : "ошибка CRC в ответе";
}

} // namespace

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
    reply_.reserve(ReplyCapacityBytes);
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
    const size_t room = ReplyCapacityBytes - std::min(reply_.size(), ReplyCapacityBytes);
    reply_.insert(reply_.end(), data, data + std::min(count, room));
    bytesReceived_ += static_cast<long long>(count);
    lastByteAt_ = Clock::now();
}

void UnitLink::onLineError(uint32_t flags)
{
    if (const char *message = qvoksb::lineErrorMessage(flags))
        lineTrouble_ = message;
    // A device error means the port has gone (an adapter pulled out): nothing more can be sent.
    if (flags & qvoksb::CE_IOE)
        portLost_ = true;
}

bool UnitLink::waitUntil(Clock::time_point until)
{
    while (!portLost_ && Clock::now() < until)
        events_.runUntil(until);
    return !portLost_;
}

void UnitLink::send(std::span<const uint8_t> request)
{
    port_.PurgeWrite();
    try {
        port_.WriteBuf(request.data(), int(request.size()));
        ++requestsSent_;
        bytesSent_ += static_cast<long long>(request.size());
    } catch (const qvoksb::SerialPortError &) {
        // The queue cannot take the frame, or the port has gone: the line error says which.
        lineTrouble_ = "запрос не передан в порт";
    }
}

void UnitLink::finishExamining()
{
    port_.PurgeRead();
    reply_.clear();
}

Answer UnitLink::transact(std::span<const uint8_t> request)
{
    lineTrouble_.clear();
    if (portLost_ || !port_.Active())
        return {Outcome::PortLost, 0, {}, lineTrouble_};
    return settings_.pacing == Pacing::Ticks ? transactTicks(request) : transactReply(request);
}

// The configurator's exchange: on each 300 ms tick, send the request when fewer than four
// bytes are waiting, or else examine what came and finish with it. Ticks count from the
// opening of the port, so that one line serves several units at an even pace.
Answer UnitLink::transactTicks(std::span<const uint8_t> request)
{
    Answer answer;
    bool sent = false;
    Clock::time_point firstSend{};
    for (;;) {
        const Clock::time_point tick =
            openedAt_ + std::chrono::milliseconds(TickMs) * (ticksDone_ + 1);
        if (!waitUntil(tick)) {
            answer.outcome = Outcome::PortLost;
            answer.trouble = lineTrouble_;
            return answer;
        }
        ++ticksDone_;
        if (reply_.size() < ReplyWaitingBytes) {
            // A reply already waiting is examined even at the time-out; only a new send is not.
            if (sent && tick - firstSend >= std::chrono::milliseconds(settings_.timeoutMs)) {
                finishExamining();
                answer.outcome = Outcome::Silent;
                answer.trouble = !lineTrouble_.empty() ? lineTrouble_ : answer.trouble;
                return answer;
            }
            if (!sent)
                firstSend = tick;
            sent = true;
            send(request);
            continue;
        }
        const modbus::ReplyCheck check = modbus::classifyReply(request, reply_);
        if (check.kind == modbus::ReplyKind::Correct) {
            answer.outcome = Outcome::Correct;
            answer.reply = reply_;
            finishExamining();
            return answer;
        }
        if (check.kind == modbus::ReplyKind::Exception) {
            answer.outcome = Outcome::Refused;
            answer.exceptionCode = check.exceptionCode;
            finishExamining();
            return answer;
        }
        answer.trouble = troubleText(check.kind);
        finishExamining();
    }
}

// Requests go out as soon as the line is free: the previous reply is complete and checked and
// the line has been silent for 3.5 characters. A request without any reply by the next tick's
// time is sent again, a spoilt reply once the line has fallen silent after it.
Answer UnitLink::transactReply(std::span<const uint8_t> request)
{
    Answer answer;
    const size_t expected = expectedReplyBytes(request);
    const Clock::time_point deadline =
        std::max(Clock::now(), quietFrom_) + std::chrono::milliseconds(settings_.timeoutMs);
    for (;;) {
        if (!waitUntil(quietFrom_)) {
            answer.outcome = Outcome::PortLost;
            return answer;
        }
        if (Clock::now() >= deadline) {
            answer.outcome = Outcome::Silent;
            answer.trouble = !lineTrouble_.empty() ? lineTrouble_ : answer.trouble;
            return answer;
        }
        finishExamining();
        send(request);
        const Clock::time_point sentAt = Clock::now();
        bool spoilt = false;
        while (!spoilt) {
            const Clock::time_point until =
                std::min(deadline, reply_.empty() ? sentAt + std::chrono::milliseconds(TickMs)
                                                  : lastByteAt_ + ReplyGap);
            const bool events = !portLost_ && events_.runUntil(until);
            if (portLost_) {
                answer.outcome = Outcome::PortLost;
                answer.trouble = lineTrouble_;
                return answer;
            }
            if (reply_.size() >= ReplyWaitingBytes) {
                const modbus::ReplyCheck check = modbus::classifyReply(request, reply_);
                if (check.kind == modbus::ReplyKind::Correct ||
                    check.kind == modbus::ReplyKind::Exception) {
                    answer.outcome = check.kind == modbus::ReplyKind::Correct ? Outcome::Correct
                                                                              : Outcome::Refused;
                    answer.exceptionCode = check.exceptionCode;
                    if (answer.outcome == Outcome::Correct)
                        answer.reply = reply_;
                    finishExamining();
                    quietFrom_ = Clock::now() + FrameSilence;
                    return answer;
                }
                if (check.kind == modbus::ReplyKind::Malformed || reply_.size() >= expected) {
                    answer.trouble = troubleText(check.kind);
                    // Whatever else is on its way is let pass before the request goes again.
                    quietFrom_ = Clock::now() + ReplyGap;
                    spoilt = true;
                    continue;
                }
            }
            if (!events && Clock::now() >= until) {
                // Nothing more came: a partial reply is spoilt, no reply at all is sent again.
                if (!reply_.empty())
                    answer.trouble = troubleText(modbus::ReplyKind::CrcError);
                quietFrom_ = Clock::now() + FrameSilence;
                spoilt = true;
            }
        }
    }
}

} // namespace ksb7ctl
