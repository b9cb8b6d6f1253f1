#pragma once
// Finding the units on a line: every address of a range gets one short request, the state of
// the inputs and output relays, with a time-out of its own far shorter than an exchange's, and is
// then known as answering, silent or garbled. Bytes that did not decode may be noise or two units
// at one address answering together; such an address is asked once more after the others, and
// that second answer decides. A unit that answers is also asked for its last trip.
//
// Like the exchange engine it drives, the scan does no I/O and keeps no clock: the caller hands
// it the bytes that arrive and calls poll() at due() at the latest and whenever bytes came.
#include "core/exchange/exchange_engine.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qvoksb::exchange
{

// Long enough for a unit to answer the state read at 9600 bit/s (about 20 ms of bytes on the
// wire) with a margin; 247 silent addresses then take under half a minute. Slow gateways need
// more.
inline constexpr Milliseconds ScanTimeout{100};
// The line stays quiet this long after the last byte before the next request: 3.5 characters
// at 9600 bit/s end a frame, and a little more lets a straggler's bytes show up where they
// belong.
inline constexpr Milliseconds ScanSilence{5};

enum class Presence {
    Answers, // a correct reply, or a refusal, came from this address and nothing else
    Silent,  // no byte came within the time-out
    Garbled, // bytes came that did not decode, or more than one reply: noise or two units
};

struct ScanOptions {
    std::vector<uint8_t> addresses; // in the order they are asked
    Milliseconds timeout = ScanTimeout;
    bool lastTrip = true; // ask every unit that answers for its last trip
};

struct ScanEntry {
    uint8_t address = 0;
    Presence presence = Presence::Silent;
    int tries = 0;             // requests of the state sent to this address
    uint8_t exceptionCode = 0; // the unit refused the state read with this exception
    std::optional<std::array<uint16_t, 2>> state; // registers 517 and 518
    std::optional<Lamps> lamps;
    std::optional<TripRecord> lastTrip;
    std::string trouble; // Garbled: what came, in words (UTF-8)
};

class Scan
{
public:
    Scan(ScanOptions options, Line &line);
    ~Scan();

    // Bytes from the port.
    void received(std::span<const uint8_t> bytes, TimePoint now);
    // Sends, examines and concludes what is due at `now`.
    void poll(TimePoint now);
    // The latest time poll() must be called; TimePoint::max() once finished.
    TimePoint due() const;
    // The port reported a line error; a lost port ends the scan.
    void lineError(std::string_view message, bool portLost);
    // Stops after nothing more: the address being asked is left out.
    void abort();

    bool finished() const { return finished_; }
    bool aborted() const { return aborted_; }
    bool portLost() const { return portLost_; }
    // For a progress bar: requests concluded and all requests known so far (second tries and
    // last trips add to it as they become known).
    int done() const { return done_; }
    int inAll() const;

    // One entry per address asked so far, in the order of the options' addresses.
    const std::vector<ScanEntry> &entries() const { return entries_; }

private:
    struct Job {
        size_t entry;
        bool trip; // the last trip; otherwise the state
    };
    void start(TimePoint now);
    void conclude(TimePoint now);

    ScanOptions options_;
    Line &line_;
    std::vector<ScanEntry> entries_;
    std::deque<Job> jobs_; // last trips and second tries still to do, the next first
    size_t firstPass_ = 0;  // addresses not yet asked once
    bool secondPassQueued_ = false;

    std::unique_ptr<Engine> engine_; // the request under way
    Job job_{};
    TimePoint sentAt_{};
    TimePoint lastByteAt_{};
    TimePoint quietFrom_{};
    size_t bytes_ = 0;                    // received since the request went
    std::optional<size_t> bytesAtAnswer_; // the answer was whole when this many had come

    int done_ = 0;
    bool finished_ = false;
    bool aborted_ = false;
    bool portLost_ = false;
};

} // namespace qvoksb::exchange
