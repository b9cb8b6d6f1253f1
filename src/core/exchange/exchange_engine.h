#pragma once
// One exchange with the unit as a state machine: writing, reading or comparing the
// configuration (a write optionally read back and checked), a control command, the state of the
// inputs and output relays, the last trip. No port, no timer, no window: the caller owns the line
// and the clock. It calls tick() on every 300 ms tick (or whenever its pacing says), hands over
// the bytes it receives with received(), and reads the label text, the step counter and, once the
// exchange has finished, its result. The exchange window and ksb7ctl both run on it.
//
// A tick sends the current step's request when no answer is waiting, or examines what came and
// moves on. Only a frame that answers the request now outstanding counts: the unit address and
// function of the request; for function 16 the echoed first register and count, for function 6
// the echoed register and value, for function 4 the byte count of this step's block; or the
// unit's refusal (the function with bit 7 set). Anything else is discarded and never decoded;
// bytes that cannot begin such a frame are dropped one at a time until one could.
//
// A unit that answers within a tick sees exactly one request per step and a step every two
// ticks. A slower unit gets the request again on a later tick, and a line may carry noise,
// another unit's frames or the adapter's echo of our own request. The replies of two
// configuration blocks of equal length look alike, so before a step follows one that needed
// more than one copy, or after any bytes were thrown away, the exchange waits until the line
// has been quiet for as long as the slowest answer seen in this exchange and a margin (at most
// LongestQuietWait), and then discards what came: whatever arrives after that answers the
// request sent after it. The wait has a give-up of its own, as long as a step's. After a step
// that needed copies, copies go no faster than that step took to be answered.
//
// A two-wire adapter hears its own transmission: bytes equal to the request just sent that are
// all in within the request's own transmission time and AdapterLatency are its echo, dropped.
#include "core/modbus/modbus_rtu.h"
#include "core/settings/settings_set.h"
#include "core/settings/trip_record.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qvoksb::exchange
{

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Milliseconds = std::chrono::milliseconds;

inline constexpr Milliseconds TickInterval{300};
// The outcome stays readable this long before the exchange window closes.
inline constexpr Milliseconds OutcomePause{1500};
// A command that got no answer goes again only after this long since it was sent: sent twice,
// it would act twice.
inline constexpr Milliseconds CommandResendAfter{900};
// How late an adapter that echoes our transmission hands the echo over, after the last byte
// left; a unit's reply cannot come as early, as it begins only after the request has ended.
inline constexpr Milliseconds AdapterLatency{20};
// The longest the line has to stay quiet before a step goes after a disturbed one.
inline constexpr Milliseconds LongestQuietWait{2000};

// --- the unit's commands and lamps ----------------------------------------------------------

// The values written to the command register.
enum CommandCode : uint16_t {
    CommandReset = 1,
    CommandRemoteTrip = 2,
    CommandClearMaintenance = 8,
    CommandDeleteEvents = 9,
    CommandOutput1 = 20, // output 2 and 3 follow
    CommandOutput2,
    CommandOutput3,
};
struct CommandRow {
    uint16_t code;
    std::string_view caption; // as the radio group on the page "УПРАВЛЕНИЕ" names it (UTF-8)
};
// In the order of the radio group's items.
inline constexpr std::array<CommandRow, 7> Commands = {{
    {CommandReset, "СБРОС"},
    {CommandRemoteTrip, "ОТКЛЮЧИТЬ ВЫКЛ."},
    {CommandClearMaintenance, "ОЧИСТИТЬ ДАННЫЕ Т.О."},
    {CommandDeleteEvents, "УДАЛИТЬ СОБЫТИЯ"},
    {CommandOutput1, "ВЫХ.1"},
    {CommandOutput2, "ВЫХ.2"},
    {CommandOutput3, "ВЫХ.3"},
}};
const CommandRow *commandOfCode(unsigned code);

// The eight lamps of the input/output state: bits 0..3 of register 517 (output relays), then
// bits 0..3 of register 518 (digital inputs).
inline constexpr size_t LampCount = 8;
inline constexpr std::array<std::string_view, LampCount> LampCaptions = {
    "ВЫКЛ.", "ВЫХОД-1", "ВЫХОД-2", "ВЫХОД-3", "ВХОД-1", "ВХОД-2", "ВХОД-3", "ВЫКЛ.",
};
using Lamps = std::array<bool, LampCount>;
Lamps lampsOf(uint16_t outputs, uint16_t inputs);

// --- one exchange -----------------------------------------------------------------------------

enum class Kind {
    Write,    // write steps 1..7; with `verify` read steps 1..7 after them
    Read,     // read steps 1..7 and the last trip, step 8
    Compare,  // read steps 1..7
    Command,  // the command step
    State,    // the state step
    LastTrip, // step 8 alone
};

struct Options {
    Kind kind = Kind::Read;
    uint8_t address = modbus::MinUnitAddress;
    // Write: the settings written. Read and compare: the set the blocks are decoded into (a
    // field the registers leave open keeps its value here).
    SettingsSet settings;
    bool verify = false;      // a write reads its blocks back and compares them
    uint16_t commandCode = 0; // Command
    // A configuration step, or the command or state, that has had no answer this long since
    // its first request gives up; zero: the configuration steps never give up (a person is
    // there to abort) and the command and the state give up on the ninth tick.
    Milliseconds stepTimeout{0};
};

enum class Outcome {
    Running,
    Done,        // every step accepted; a verified write found what it wrote
    Differences, // a verified write: the unit holds other values
    Unverified,  // a verified write: the blocks could not all be read back
    Refused,     // the unit answered a step with an exception
    NoAnswer,    // the command or state gave up, or a step timed out
    Aborted,     // the caller stopped the exchange
    PortLost,    // the caller's port went away
};

// How the exchange window ends once the exchange has finished.
enum class Closing {
    AfterPause,  // the outcome stays readable for OutcomePause
    AtOnce,      // the state read: the lamps show the outcome
    WaitForUser, // a refusal or a lost port: the message stays until the user closes
};

struct Result {
    Kind kind = Kind::Read;
    bool verify = false;
    uint8_t address = 0;
    Outcome outcome = Outcome::Running;
    std::string message; // the last text of the label (UTF-8)
    bool error = false;  // the message is an error
    // The last step of the exchange's own sequence the unit accepted (write 1..7, read 1..8,
    // compare 1..7, the command, state and last trip their step), 0 for none; for a verified
    // write also the last block read back.
    int lastAccepted = 0;
    int lastReadBack = 0;
    int failedStep = 0; // the step that did not complete (0: none)
    bool failedInReadBack = false;
    uint8_t exceptionCode = 0; // Refused
    std::string trouble;       // NoAnswer: the last spoilt reply, if any, in words
    // What the unit holds, only when every block of it was decoded: read (with the last-trip
    // texts), compare, and the read-back of a verified write.
    std::optional<SettingsSet> settings;
    // Write: the settings as the unit holds them after the write (what it was sent).
    std::optional<SettingsSet> written;
    std::vector<Setting> differences; // verified write: between `written` and `settings`
    std::optional<std::array<uint16_t, 2>> state; // registers 517 and 518, bits 0..3
    std::optional<Lamps> lamps;
    std::optional<TripRecord> lastTrip;
    long requestsSent = 0;
};

// The line as the engine uses it; the caller implements it on its port.
class Line
{
public:
    virtual ~Line() = default;
    // Drops the input the port has not yet handed over.
    virtual void discardInput() = 0;
    // Hands a frame to the port; false when the port did not take it.
    virtual bool send(std::span<const uint8_t> frame) = 0;
    // For the exchange log: a frame sent, bytes examined as the answer to request, bytes thrown
    // away unexamined (why: "устаревший ответ", ...).
    virtual void logSent(std::span<const uint8_t>) {}
    virtual void logExamined(std::span<const uint8_t> /*request*/, std::span<const uint8_t>) {}
    virtual void logDiscarded(std::span<const uint8_t>, std::string_view /*why*/) {}
};

class Engine
{
public:
    Engine(const Options &options, Line &line);

    // One tick at `now`.
    void tick(TimePoint now);
    // Bytes from the port.
    void received(std::span<const uint8_t> bytes, TimePoint now);
    // The port reported a line error (message in words, UTF-8; empty: the label stays but turns
    // red); a lost port ends the exchange.
    void lineError(std::string_view message, bool portLost);
    // The user or caller stops the exchange; nothing more is sent.
    void abort();

    bool finished() const { return result_.outcome != Outcome::Running; }
    const Result &result() const { return result_; }
    Closing closing() const { return closing_; }

    // What the exchange window shows: its label (UTF-8), red once an error was shown, and the
    // step counter (the bar's position, 1..9).
    const std::string &label() const { return label_; }
    bool labelRed() const { return red_; }
    int bar() const { return bar_; }
    // Steps accepted so far, of stepsInAll (for a progress line).
    int stepsDone() const { return stepsDone_; }
    int stepsInAll() const;

    // For a caller that paces by replies: a request is outstanding (sent, not yet answered),
    // an answer to it is waiting to be examined, the exchange is letting ticks pass unsent.
    bool awaitingReply() const;
    bool answerWaiting() const;
    // A reply to the outstanding request came spoilt: the request may go again at once.
    bool repeatDue() const;
    // The exchange waits for the line to fall quiet before it sends again; if no byte comes,
    // the wait is over at quietUntil().
    bool quiet() const { return settling_; }
    TimePoint quietUntil() const;
    std::span<const uint8_t> held() const { return held_; }
    // The length of the correct answer to the outstanding request (0 when none is).
    size_t expectedReplyBytes() const;

    // The texts the label shows while a step's request goes out; empty: unchanged.
    static std::string_view stepLabel(Kind kind, int step);

private:
    enum class Phase { Writing, ReadingBack, Reading, Single };
    struct Found {
        enum { Nothing, Answer, Refusal, Spoilt, Unrelated, Partial } what = Nothing;
        std::span<const uint8_t> frame;
    };

    void tickConfiguration(TimePoint now);
    void tickSingle(TimePoint now);
    bool sendStep(TimePoint now);
    std::vector<uint8_t> buildRequest() const;
    Found examine();
    void accept(std::span<const uint8_t> frame, TimePoint now);
    void refuse(uint8_t code);
    void spoilt(bool unrelated);
    // Deals with a refusal, a spoilt or unrelated frame and an answer still arriving; false for
    // an answer and for nothing, which are the tick's own.
    bool settled(const Found &found);
    // The quiet wait before the next request: false while it lasts.
    bool settle(TimePoint now);
    Milliseconds quietNeeded() const;
    void watchEcho(TimePoint now);
    void resynchronise();
    void discardHeld(std::string_view why);
    void startReadBack();
    void finishConfiguration();
    void finish(Outcome outcome, std::string message, bool error, Closing closing);
    void setLabel(std::string_view text);
    void showError(std::string text);
    void noAnswerHint(bool show);
    int lastStepOfPhase() const;
    bool timedOut(TimePoint now) const;

    Options options_;
    Line &line_;
    Result result_;
    Closing closing_ = Closing::AfterPause;
    Phase phase_;

    std::string label_;
    bool red_ = false;
    int bar_ = 1;
    int stepsDone_ = 0;

    std::vector<uint8_t> held_; // received since the last discard
    TimePoint lastByteAt_{};    // when the last byte of all came
    size_t heldAtLastTick_ = 0;
    std::vector<uint8_t> request_;              // the outstanding request, empty when none
    std::vector<std::vector<uint8_t>> earlier_; // requests of this exchange answered already
    int copies_ = 0;                            // copies of the current step's request sent
    TimePoint firstSentAt_{};
    TimePoint lastSentAt_{};
    TimePoint stepSince_{};          // the quiet wait before a step began here
    bool answeredSinceSend_ = false; // a spoilt reply came after the last copy
    // The adapter's echo of the last request may come until then.
    TimePoint echoUntil_{};
    bool echoWatched_ = false;
    bool echoNamed_ = false;
    bool settling_ = false;   // the quiet wait before the next request
    bool disturbed_ = false;  // bytes were thrown away during this step
    Milliseconds slowest_{0}; // the slowest answer of this exchange
    int resendTicks_ = 1;     // ticks without an answer before a copy goes again
    int requestsSinceReply_ = 0;
    unsigned decoded_ = 0; // bit n: read step n decoded
    SettingsSet readSet_;
    std::string refusal_; // a refused write being read back keeps this as its outcome
    int refusedStep_ = 0;
    uint8_t refusedCode_ = 0;
};

} // namespace qvoksb::exchange
