#include "core/exchange/scan.h"

#include <algorithm>

namespace qvoksb::exchange
{

Scan::Scan(ScanOptions options, Line &line) : options_(std::move(options)), line_(line)
{
    entries_.reserve(options_.addresses.size());
}

Scan::~Scan() = default;

int Scan::inAll() const
{
    return done_ + int(jobs_.size()) + (engine_ ? 1 : 0) +
           int(options_.addresses.size() - firstPass_);
}

void Scan::received(std::span<const uint8_t> bytes, TimePoint now)
{
    if (bytes.empty() || finished_)
        return;
    lastByteAt_ = now;
    quietFrom_ = now + ScanSilence;
    if (!engine_)
        return; // nothing is asked: a straggler, dropped before the next request
    bytes_ += bytes.size();
    engine_->received(bytes, now);
}

TimePoint Scan::due() const
{
    if (finished_)
        return TimePoint::max();
    if (!engine_)
        return quietFrom_;
    return sentAt_ + options_.timeout;
}

void Scan::poll(TimePoint now)
{
    while (!finished_) {
        if (!engine_) {
            if (now < quietFrom_)
                return;
            start(now);
            if (engine_)
                return;
            continue; // finished, or a request the engine would not send
        }
        if (!bytesAtAnswer_ && engine_->answerWaiting()) {
            engine_->tick(now);
            // A read of blocks ends on the tick after its last answer.
            if (job_.trip && !engine_->finished())
                engine_->tick(now);
            bytesAtAnswer_ = bytes_;
            // A last trip is all we wanted; a state reply waits out the time-out in case a
            // second unit at the same address answers after the first.
            if (!job_.trip)
                return;
        } else if (now < sentAt_ + options_.timeout) {
            return;
        }
        conclude(now);
    }
}

void Scan::start(TimePoint now)
{
    if (jobs_.empty() && firstPass_ < options_.addresses.size()) {
        ScanEntry entry;
        entry.address = options_.addresses[firstPass_++];
        entries_.push_back(entry);
        jobs_.push_back({entries_.size() - 1, false});
    }
    if (jobs_.empty() && !secondPassQueued_) {
        secondPassQueued_ = true;
        for (size_t i = 0; i < entries_.size(); ++i)
            if (entries_[i].presence == Presence::Garbled)
                jobs_.push_back({i, false});
    }
    if (jobs_.empty()) {
        finished_ = true;
        return;
    }
    job_ = jobs_.front();
    jobs_.pop_front();
    ScanEntry &entry = entries_[job_.entry];
    Options o;
    o.kind = job_.trip ? Kind::LastTrip : Kind::State;
    o.address = entry.address;
    // The scan keeps its own time; the engine never gives up or repeats on its own, as it is
    // ticked only once an answer is whole.
    o.stepTimeout = Milliseconds(0);
    engine_ = std::make_unique<Engine>(o, line_);
    bytes_ = 0;
    bytesAtAnswer_.reset();
    sentAt_ = now;
    if (!job_.trip)
        ++entry.tries;
    engine_->tick(now);
    if (engine_->finished() || !engine_->awaitingReply()) {
        // Nothing went out; the line error, if any, comes by lineError().
        engine_.reset();
        ++done_;
    }
}

void Scan::conclude(TimePoint now)
{
    ScanEntry &entry = entries_[job_.entry];
    const Result &r = engine_->result();
    const bool answered = r.outcome == Outcome::Done || r.outcome == Outcome::Refused;
    if (job_.trip) {
        if (r.outcome == Outcome::Done && r.lastTrip)
            entry.lastTrip = r.lastTrip;
    } else if (answered && bytes_ == *bytesAtAnswer_) {
        entry.presence = Presence::Answers;
        entry.trouble.clear();
        entry.exceptionCode = r.outcome == Outcome::Refused ? r.exceptionCode : 0;
        entry.state = r.state;
        entry.lamps = r.lamps;
        if (options_.lastTrip)
            jobs_.push_front({job_.entry, true});
    } else if (bytes_ > 0) {
        entry.presence = Presence::Garbled;
        entry.trouble = answered ? "после верного ответа ещё " + std::to_string(bytes_ - *bytesAtAnswer_) +
                                       " байт: два блока с одним адресом?"
                                 : std::to_string(bytes_) + " байт без верного ответа";
        entry.state.reset();
        entry.lamps.reset();
    } else {
        entry.presence = Presence::Silent;
        entry.trouble.clear();
        entry.state.reset();
        entry.lamps.reset();
    }
    engine_->abort();
    engine_.reset();
    ++done_;
    // What comes after the time-out belongs to no request: the next one waits for quiet.
    quietFrom_ = std::max(now, lastByteAt_ + ScanSilence);
}

void Scan::lineError(std::string_view message, bool portLost)
{
    if (finished_)
        return;
    if (engine_)
        engine_->lineError(message, portLost);
    if (portLost) {
        portLost_ = true;
        engine_.reset();
        finished_ = true;
    }
}

void Scan::abort()
{
    if (finished_)
        return;
    if (engine_) {
        engine_->abort();
        engine_.reset();
        if (!job_.trip && entries_[job_.entry].tries == 1)
            entries_.erase(entries_.begin() + std::ptrdiff_t(job_.entry));
    }
    aborted_ = true;
    finished_ = true;
}

} // namespace qvoksb::exchange
