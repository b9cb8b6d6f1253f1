#include "core/exchange/exchange_engine.h"

#include "core/settings/register_map.h"
#include "core/settings/settings_diff.h"

#include <algorithm>
#include <cstdio>

namespace qvoksb::exchange
{

namespace
{

// The exchange window's bar: it starts at step 1 and ends at 9.
constexpr int firstBar = 1;
constexpr int lastBar = 9;
// The command and the state give up on the ninth tick.
constexpr int giveUpBar = lastBar;
// A configuration exchange repeats an unanswered step for ever; after this many requests without
// a reply the label says what to check.
constexpr int unansweredBeforeHint = 10;
// Fewer bytes than this are no reply yet.
constexpr size_t replyWaitingBytes = modbus::MinimumFrameBytes;
// Timers wander a little: a copy counts as due this much before its time.
constexpr Milliseconds timerSlack{100};
// However slow the unit, a step is repeated at least this often.
constexpr int mostResendTicks = 10;
// The quiet wait lasts this much longer than the slowest answer: the unit's answers wander too.
constexpr Milliseconds quietMargin{200};
// One character at 9600 bit/s, 8N1: ten bits.
constexpr std::chrono::microseconds characterTime{10 * 1000000 / 9600};

constexpr unsigned stepBit(int step)
{
    return 1u << step;
}
constexpr unsigned configurationBits = ((1u << modbus::WriteSteps) - 1) << 1;

const std::string crcErrorText = "!!! Ошибка CRC !!!";
const std::string wrongReplyText = "!!! Неверный ответ блока !!!";

// Every length a reply of the unit to one of our requests can have: an exception, an echo of
// functions 6 and 16, the read replies of the blocks (1, 2, 3, 4, 5, 6 and 11 registers).
constexpr std::array<size_t, 9> replyLengths = {5, 7, 8, 9, 11, 13, 15, 17, 27};

// The intact frames in bytes, by the reply lengths the unit can send; bytes that begin no frame
// are skipped. `junk` counts them.
std::vector<std::span<const uint8_t>> framesIn(std::span<const uint8_t> bytes, size_t *junk)
{
    std::vector<std::span<const uint8_t>> frames;
    size_t skipped = 0;
    size_t at = 0;
    while (at + replyWaitingBytes <= bytes.size()) {
        bool found = false;
        for (size_t length : replyLengths) {
            if (at + length > bytes.size())
                break;
            if (modbus::replyCrcOk(bytes.subspan(at, length))) {
                frames.push_back(bytes.subspan(at, length));
                at += length;
                found = true;
                break;
            }
        }
        if (!found) {
            ++skipped;
            ++at;
        }
    }
    if (junk)
        *junk = skipped + (bytes.size() - std::min(at, bytes.size()));
    return frames;
}

// Whether bytes can be the start of an answer to request: its address, its function (or the
// refusal of it), the byte count of a read, the register and count or value a write echoes.
bool couldBeginAnswer(std::span<const uint8_t> request, std::span<const uint8_t> bytes)
{
    if (bytes.empty() || request.size() < modbus::ReadRequestBytes || bytes[0] != request[0])
        return false;
    if (bytes.size() < 2 || bytes[1] == (request[1] | modbus::ExceptionBit))
        return true;
    if (bytes[1] != request[1])
        return false;
    if (request[1] == modbus::FunctionReadInputRegisters)
        return bytes.size() < 3 || bytes[2] == uint8_t(2 * (request[4] << 8 | request[5]));
    for (size_t i = 2; i < std::min<size_t>(bytes.size(), 6); ++i)
        if (bytes[i] != request[i])
            return false;
    return true;
}

bool answers(std::span<const uint8_t> request, std::span<const uint8_t> frame)
{
    const modbus::ReplyKind kind = modbus::classifyReply(request, frame).kind;
    return kind == modbus::ReplyKind::Correct || kind == modbus::ReplyKind::Exception;
}

std::string hexUpper(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

std::string startMessage(Kind kind)
{
    switch (kind) {
    case Kind::Write:
        return "Запись параметров КОНФИГУРАЦИИ ...";
    case Kind::Read:
    case Kind::Compare:
        return "Чтение параметров КОНФИГУРАЦИИ ...";
    case Kind::Command:
        return "Исполнение КОМАНДЫ УПРАВЛЕНИЯ ...";
    case Kind::State:
        return "Чтение состояния ВХОДОВ/ВЫХОДОВ ...";
    case Kind::LastTrip:
        return "Чтение информации о последнем отключении ...";
    }
    return {};
}

} // namespace

const CommandRow *commandOfCode(unsigned code)
{
    for (const CommandRow &c : Commands)
        if (c.code == code)
            return &c;
    return nullptr;
}

Lamps lampsOf(uint16_t outputs, uint16_t inputs)
{
    Lamps lamps{};
    for (size_t b = 0; b < 4; ++b) {
        lamps[b] = (outputs >> b) & 1;
        lamps[4 + b] = (inputs >> b) & 1;
    }
    return lamps;
}

std::string_view Engine::stepLabel(Kind kind, int step)
{
    static constexpr std::string_view writing[] = {
        "Запись уставок МТЗ ...", "Запись уставок ОЗЗ ...", "Запись параметров ВЫХОДНЫХ РЕЛЕ ...",
        "Запись параметров ЦИФРОВЫХ ВХОДОВ ..."};
    static constexpr std::string_view reading[] = {
        "Чтение уставок МТЗ ...", "Чтение уставок ОЗЗ ...", "Чтение параметров ВЫХОДНЫХ РЕЛЕ ...",
        "Чтение параметров ЦИФРОВЫХ ВХОДОВ ..."};
    if (step == modbus::StateStep)
        return "Чтение состояний ВХОДОВ/ВЫХОДОВ ...";
    if (step == modbus::LastTripStep)
        return "Чтение информации о последнем отключении ...";
    if (step < 4 || step > modbus::WriteSteps)
        return {};
    return kind == Kind::Write ? writing[step - 4] : reading[step - 4];
}

Engine::Engine(const Options &options, Line &line)
    : options_(options), line_(line), readSet_(options.settings)
{
    result_.kind = options.kind;
    result_.verify = options.verify && options.kind == Kind::Write;
    result_.address = options.address;
    switch (options.kind) {
    case Kind::Write:
        phase_ = Phase::Writing;
        result_.written = registers::asUnitHolds(options.settings);
        break;
    case Kind::Read:
    case Kind::Compare:
    case Kind::LastTrip:
        phase_ = Phase::Reading;
        break;
    case Kind::Command:
    case Kind::State:
        phase_ = Phase::Single;
        break;
    }
    label_ = startMessage(options.kind);
    held_.reserve(modbus::readReplyBytes(registers::LargestBlock) * 2);
}

int Engine::stepsInAll() const
{
    switch (options_.kind) {
    case Kind::Write:
        return result_.verify ? 2 * modbus::WriteSteps : modbus::WriteSteps;
    case Kind::Read:
        return modbus::LastTripStep;
    case Kind::Compare:
        return modbus::WriteSteps;
    default:
        return 1;
    }
}

// The step the bar stands at, in the numbering of the register map.
static int stepAt(Kind kind, int bar)
{
    switch (kind) {
    case Kind::Command:
        return modbus::CommandStep;
    case Kind::State:
        return modbus::StateStep;
    case Kind::LastTrip:
        return modbus::LastTripStep;
    default:
        return bar;
    }
}

int Engine::lastStepOfPhase() const
{
    // The bar position at which the phase is over: a write ends when step 7 is in, a read after
    // the last trip, a compare or read-back after block 7, the last trip alone after one step.
    if (phase_ == Phase::Writing || phase_ == Phase::ReadingBack)
        return lastBar - 1;
    if (options_.kind == Kind::Read)
        return lastBar;
    if (options_.kind == Kind::LastTrip)
        return firstBar + 1;
    return lastBar - 1;
}

bool Engine::awaitingReply() const
{
    return !finished() && !request_.empty() && copies_ > 0;
}

size_t Engine::expectedReplyBytes() const
{
    if (request_.size() < modbus::ReadRequestBytes)
        return 0;
    if (request_[1] == modbus::FunctionReadInputRegisters)
        return modbus::readReplyBytes(size_t(request_[4]) << 8 | request_[5]);
    return modbus::WriteReplyBytes;
}

bool Engine::answerWaiting() const
{
    if (request_.empty() || held_.size() < replyWaitingBytes)
        return false;
    const size_t expected = expectedReplyBytes();
    for (size_t at = 0; at + replyWaitingBytes <= held_.size(); ++at)
        for (size_t length : {expected, modbus::ExceptionReplyBytes})
            if (at + length <= held_.size() &&
                answers(request_, std::span(held_).subspan(at, length)))
                return true;
    return false;
}

bool Engine::repeatDue() const
{
    // A command that had any answer is never sent again; a configuration step goes again only
    // once the line has been quiet.
    return awaitingReply() && answeredSinceSend_ && !settling_ && options_.kind != Kind::Command;
}

Milliseconds Engine::quietNeeded() const
{
    return std::min(slowest_ + quietMargin, LongestQuietWait);
}

TimePoint Engine::quietUntil() const
{
    return std::max(lastByteAt_, lastSentAt_) + quietNeeded();
}

void Engine::received(std::span<const uint8_t> bytes, TimePoint now)
{
    if (bytes.empty())
        return;
    lastByteAt_ = now;
    // One reply's worth and a good deal more; a flood of noise beyond it is dropped, and what is
    // held then fails its check.
    constexpr size_t capacity = 4096;
    const size_t room = capacity - std::min(held_.size(), capacity);
    held_.insert(held_.end(), bytes.begin(), bytes.begin() + std::min(bytes.size(), room));
    if (echoWatched_)
        watchEcho(now);
}

void Engine::watchEcho(TimePoint now)
{
    // Our own request heard back whole within its own time on the wire and the adapter's
    // latency (noise may come before it) is the adapter's echo: the unit's reply cannot come as
    // soon, and a function-6 echo is exactly that reply.
    if (now > echoUntil_) {
        echoWatched_ = false;
        return;
    }
    const auto echo = std::search(held_.begin(), held_.end(), request_.begin(), request_.end());
    if (echo == held_.end())
        return;
    echoWatched_ = false;
    if (!echoNamed_)
        line_.logDiscarded(std::span(&*echo, request_.size()), "эхо адаптера");
    echoNamed_ = true;
    held_.erase(echo, echo + std::ptrdiff_t(request_.size()));
    // A command that may have been taken for its own echo is never sent again.
    if (options_.kind == Kind::Command)
        answeredSinceSend_ = true;
}

void Engine::resynchronise()
{
    if (echoWatched_ || request_.empty())
        return;
    // Bytes that cannot begin an answer (a turnaround glitch, noise, the tail of another
    // frame) go one at a time, until what is held could be the answer's start.
    size_t drop = 0;
    while (drop < held_.size() && !couldBeginAnswer(request_, std::span(held_).subspan(drop)))
        ++drop;
    if (drop == 0)
        return;
    line_.logDiscarded(std::span(held_).first(drop), "шум на линии");
    held_.erase(held_.begin(), held_.begin() + std::ptrdiff_t(drop));
    disturbed_ = true;
    // They may have been the unit's answer to a command, garbled: it is not sent again.
    if (options_.kind == Kind::Command)
        answeredSinceSend_ = true;
}

void Engine::lineError(std::string_view message, bool portLost)
{
    if (finished())
        return;
    red_ = true;
    if (!message.empty()) {
        label_ = message;
        result_.trouble = std::string(message);
    }
    if (portLost) {
        // Nothing more can reach the unit; the message stays until the user closes.
        result_.failedStep = stepAt(options_.kind, bar_);
        result_.failedInReadBack = phase_ == Phase::ReadingBack;
        finish(Outcome::PortLost, label_, true, Closing::WaitForUser);
    }
}

void Engine::abort()
{
    if (finished())
        return;
    result_.failedStep = stepAt(options_.kind, bar_);
    result_.failedInReadBack = phase_ == Phase::ReadingBack;
    finish(Outcome::Aborted, label_, red_, Closing::AtOnce);
}

void Engine::finish(Outcome outcome, std::string message, bool error, Closing closing)
{
    if (!refusal_.empty()) {
        // A write the unit refused stays refused, however its read-back ends.
        result_.failedStep = refusedStep_;
        result_.exceptionCode = refusedCode_;
        result_.failedInReadBack = false;
        showError(refusal_);
        outcome = Outcome::Refused;
        message = refusal_;
        error = true;
        if (closing != Closing::AtOnce)
            closing = Closing::WaitForUser;
    }
    result_.outcome = outcome;
    result_.message = std::move(message);
    result_.error = error;
    closing_ = closing;
    request_.clear();
}

void Engine::setLabel(std::string_view text)
{
    if (!text.empty())
        label_ = text;
}

void Engine::showError(std::string text)
{
    // Once red, the label stays red.
    red_ = true;
    label_ = std::move(text);
}

void Engine::noAnswerHint(bool show)
{
    const std::string hint = "\nБлок не отвечает: проверьте кабель, порт, адрес блока (hex) " +
                             hexUpper(options_.address) + " и DTR/RTS";
    const bool shown = label_.size() >= hint.size() && label_.ends_with(hint);
    if (show && !shown)
        label_ += hint;
    else if (!show && shown)
        label_.resize(label_.size() - hint.size());
}

bool Engine::timedOut(TimePoint now) const
{
    // A step has its give-up from its first request on; the quiet wait before it, a give-up of
    // its own (a line that never falls quiet).
    if (options_.stepTimeout.count() <= 0)
        return false;
    if (copies_ > 0)
        return now - firstSentAt_ >= options_.stepTimeout;
    return settling_ && now - stepSince_ >= options_.stepTimeout;
}

std::vector<uint8_t> Engine::buildRequest() const
{
    const int step = stepAt(options_.kind, bar_);
    std::vector<uint8_t> frame(modbus::writeRequestBytes(registers::LargestBlock));
    size_t length = 0;
    if (phase_ == Phase::Writing) {
        length = registers::buildWriteRequest(frame, options_.address, step, options_.settings);
    } else if (step == modbus::CommandStep) {
        length = modbus::buildRequest(frame, options_.address, modbus::FunctionWriteSingleRegister,
                                      modbus::CommandRegister, options_.commandCode);
    } else {
        const modbus::Block block = modbus::readBlock(step);
        length = modbus::buildRequest(frame, options_.address, modbus::FunctionReadInputRegisters,
                                      block.first, block.count);
    }
    frame.resize(length);
    return frame;
}

void Engine::discardHeld(std::string_view why)
{
    if (!held_.empty())
        line_.logDiscarded(held_, why);
    held_.clear();
}

bool Engine::sendStep(TimePoint now)
{
    const int step = stepAt(options_.kind, bar_);
    if (request_.empty()) {
        request_ = buildRequest();
        copies_ = 0;
    }
    if (request_.empty())
        return false;
    // After a refused write the refusal stays on show while the unit is read back.
    if (refusal_.empty())
        setLabel(stepLabel(phase_ == Phase::Writing ? Kind::Write : Kind::Read, step));
    // The label keeps its own text; the hint is a second line below it.
    if (phase_ != Phase::Single) {
        if (requestsSinceReply_ >= unansweredBeforeHint)
            noAnswerHint(true);
        ++requestsSinceReply_;
    }
    // Only what comes after this request can answer it.
    line_.discardInput();
    discardHeld("отброшено перед запросом");
    if (copies_ == 0)
        firstSentAt_ = now;
    settling_ = false;
    ++copies_;
    lastSentAt_ = now;
    answeredSinceSend_ = false;
    echoWatched_ = true;
    echoUntil_ = now + std::chrono::duration_cast<Milliseconds>(characterTime * request_.size()) +
                 AdapterLatency;
    ++result_.requestsSent;
    if (line_.send(request_))
        line_.logSent(request_);
    else
        showError("ОШИБКА: Запрос не передан в порт!");
    return true;
}

// What the bytes held mean for the outstanding request. A frame that answers it counts wherever
// it stands; frames that answer an earlier request of this exchange are stale and thrown away.
Engine::Found Engine::examine()
{
    Found found;
    if (held_.size() < replyWaitingBytes) {
        resynchronise();
        return found;
    }
    if (!request_.empty()) {
        const std::span<const uint8_t> held(held_);
        // The answer, wherever it stands, before a refusal: an extra copy may have been
        // refused while another was answered.
        for (const auto &[length, kind] :
             {std::pair{expectedReplyBytes(), modbus::ReplyKind::Correct},
              std::pair{modbus::ExceptionReplyBytes, modbus::ReplyKind::Exception}}) {
            for (size_t at = 0; at + length <= held.size(); ++at) {
                const std::span<const uint8_t> frame = held.subspan(at, length);
                if (modbus::classifyReply(request_, frame).kind != kind)
                    continue;
                if (at > 0)
                    line_.logDiscarded(held.first(at), "устаревший ответ");
                line_.logExamined(request_, frame);
                if (at + length < held.size())
                    line_.logDiscarded(held.subspan(at + length), "лишние байты после ответа");
                disturbed_ = disturbed_ || at > 0 || at + length < held.size();
                found.what = kind == modbus::ReplyKind::Correct ? Found::Answer : Found::Refusal;
                found.frame = frame;
                return found;
            }
        }
    }
    size_t junk = 0;
    if (framesIn(held_, &junk).empty() && junk > 0) {
        // No whole frame, only noise and perhaps the start of the answer after it.
        resynchronise();
        if (held_.empty())
            return found;
    }
    const std::span<const uint8_t> held(held_);
    const auto frames = framesIn(held, &junk);
    bool unrelated = false;
    for (const auto &frame : frames) {
        bool stale = !request_.empty() && answers(request_, frame);
        for (const auto &earlier : earlier_)
            stale = stale || answers(earlier, frame);
        unrelated = unrelated || !stale;
    }
    if (junk == 0 && !unrelated) {
        // Only late answers to requests that have been answered already: no reply to this one.
        discardHeld("устаревший ответ");
        disturbed_ = true;
        return found;
    }
    // The start of the answer still arriving: left for the next tick, once.
    if (!request_.empty() && !unrelated && held_.size() != heldAtLastTick_) {
        const size_t expected = expectedReplyBytes();
        size_t start = 0;
        for (const auto &frame : frames)
            start = size_t(frame.data() + frame.size() - held.data());
        const std::span<const uint8_t> tail = held.subspan(start);
        if (!tail.empty() && tail.size() < expected && couldBeginAnswer(request_, tail)) {
            found.what = Found::Partial;
            return found;
        }
    }
    line_.logExamined(request_, held);
    found.what = unrelated ? Found::Unrelated : Found::Spoilt;
    return found;
}

void Engine::spoilt(bool unrelated)
{
    setLabel(unrelated ? wrongReplyText : crcErrorText);
    result_.trouble = unrelated ? "неверный ответ блока" : "ошибка CRC в ответе";
    answeredSinceSend_ = true;
    held_.clear();
    line_.discardInput();
    // What else is on its way must pass before the step goes again.
    if (phase_ != Phase::Single)
        settling_ = true;
}

void Engine::refuse(uint8_t code)
{
    const int step = stepAt(options_.kind, bar_);
    const std::string_view meaning = modbus::exceptionMeaning(code);
    std::string text = "ОШИБКА: Блок отклонил запрос: " + std::string(meaning) + " (код " +
                       std::to_string(code) + ")";
    if (phase_ != Phase::Single && step >= 1 && step <= modbus::WriteSteps) {
        const modbus::Block block = modbus::ConfigurationBlocks[size_t(step - 1)];
        text += "\r\nЗапрос к регистрам " + std::to_string(block.first) + "–" +
                std::to_string(block.first + block.count - 1);
    }
    // The unit takes each block whole or not at all, and the blocks before this one are in.
    const bool partial = phase_ == Phase::Writing && step > 1;
    if (partial)
        text += "\r\nБлок хранит частично записанную конфигурацию!";
    if (refusal_.empty()) {
        refusedStep_ = step;
        refusedCode_ = code;
    }
    held_.clear();
    line_.discardInput();
    result_.exceptionCode = code;
    result_.failedStep = step;
    result_.failedInReadBack = phase_ == Phase::ReadingBack;
    showError(text);
    if (partial && result_.verify) {
        // What the unit holds now is read back and shown; the refusal stays the outcome.
        refusal_ = text;
        startReadBack();
        return;
    }
    finish(Outcome::Refused, text, true, Closing::WaitForUser);
}

void Engine::accept(std::span<const uint8_t> frame, TimePoint now)
{
    const int step = stepAt(options_.kind, bar_);
    if (phase_ != Phase::Writing && step != modbus::CommandStep) {
        const modbus::Block block = modbus::readBlock(step);
        std::array<uint16_t, registers::LargestBlock> r{};
        if (modbus::readRegisters(frame, std::span(r.data(), block.count))) {
            decoded_ |= stepBit(step == modbus::StateStep ? 0 : step);
            if (step >= 1 && step <= modbus::WriteSteps) {
                registers::decodeBlock(step, std::span(r.data(), block.count), readSet_);
            } else if (step == modbus::LastTripStep) {
                const TripRecord trip = decodeTripRecord(r[0], r[1], r[2]);
                result_.lastTrip = trip;
                readSet_.setText(Setting::EEvent, tripCauseText(trip.cause));
                readSet_.setText(Setting::EDt, tripTimeText(trip));
            } else {
                result_.state =
                    std::array<uint16_t, 2>{uint16_t(r[0] & 0x0F), uint16_t(r[1] & 0x0F)};
                result_.lamps = lampsOf(r[0], r[1]);
            }
        }
    }
    // How long the unit took, counted from the first copy: never less than it really took.
    const Milliseconds took =
        std::clamp(std::chrono::duration_cast<Milliseconds>(lastByteAt_ - firstSentAt_),
                   Milliseconds(0), LongestQuietWait);
    slowest_ = std::max(slowest_, took);
    // Answers to the extra copies of a slow step, or whatever disturbed this one, may still be
    // on their way: the next request waits until the line has been quiet.
    if (copies_ > 1 || disturbed_) {
        settling_ = true;
        stepSince_ = now;
    }
    // A step that needed copies: the unit is slow, or lost what came while it was busy. From
    // now on copies go no faster than it took.
    if (copies_ > 1)
        resendTicks_ = std::clamp(int(took / TickInterval) + 1, 1, mostResendTicks);
    disturbed_ = false;
    earlier_.push_back(request_);
    request_.clear();
    copies_ = 0;
    echoWatched_ = false;
    held_.clear();
    line_.discardInput();
    ++stepsDone_;
    if (phase_ == Phase::ReadingBack)
        result_.lastReadBack = step;
    else
        result_.lastAccepted = step;
}

bool Engine::settle(TimePoint now)
{
    if (!settling_)
        return true;
    if (request_.empty() || held_.size() >= replyWaitingBytes)
        discardHeld("устаревший ответ");
    if (now < quietUntil())
        return false;
    discardHeld("устаревший ответ");
    line_.discardInput();
    settling_ = false;
    disturbed_ = false;
    return true;
}

void Engine::startReadBack()
{
    phase_ = Phase::ReadingBack;
    bar_ = firstBar;
    decoded_ = 0;
    readSet_ = options_.settings;
    request_.clear();
    copies_ = 0;
    echoWatched_ = false;
    if (refusal_.empty())
        label_ = "Проверка записи чтением ...";
}

void Engine::finishConfiguration()
{
    unsigned wanted = configurationBits;
    if (options_.kind == Kind::Read)
        wanted |= stepBit(modbus::LastTripStep);
    else if (options_.kind == Kind::LastTrip)
        wanted = stepBit(modbus::LastTripStep);
    const bool complete = (decoded_ & wanted) == wanted;
    if (complete && options_.kind != Kind::LastTrip)
        result_.settings = readSet_;
    if (phase_ == Phase::ReadingBack) {
        if (complete)
            for (const DifferenceRow &row :
                 differenceRows(*result_.written, readSet_, Compared::Configuration))
                result_.differences.push_back(row.setting);
        if (!refusal_.empty()) {
            showError(refusal_);
            finish(Outcome::Refused, refusal_, true, Closing::WaitForUser);
        } else if (!complete) {
            showError("ОШИБКА: Записанные значения не удалось проверить!");
            finish(Outcome::Unverified, label_, true, Closing::AfterPause);
        } else if (result_.differences.empty()) {
            setLabel("Все параметры успешно записаны!");
            finish(Outcome::Done, label_, false, Closing::AfterPause);
        } else {
            showError("ОШИБКА: Блок хранит другие значения (" +
                      std::to_string(result_.differences.size()) + ")");
            finish(Outcome::Differences, label_, true, Closing::AfterPause);
        }
        return;
    }
    if (!complete) {
        // Decoding refused a block: nothing of the unit's is used.
        showError("ОШИБКА: Параметры прочитаны не полностью, окно не изменено!");
        finish(Outcome::Unverified, label_, true, Closing::AfterPause);
        return;
    }
    if (options_.kind != Kind::LastTrip)
        setLabel("Чтение всех параметров успешно завершено!");
    finish(Outcome::Done, label_, false, Closing::AfterPause);
}

void Engine::tick(TimePoint now)
{
    if (finished())
        return;
    if (phase_ == Phase::Single)
        tickSingle(now);
    else
        tickConfiguration(now);
    heldAtLastTick_ = held_.size();
}

void Engine::tickConfiguration(TimePoint now)
{
    if (bar_ >= lastStepOfPhase()) {
        if (phase_ == Phase::Writing) {
            if (result_.verify) {
                startReadBack();
                return;
            }
            bar_ = lastBar;
            setLabel("Все параметры успешно записаны!");
            finish(Outcome::Done, label_, false, Closing::AfterPause);
            return;
        }
        finishConfiguration();
        return;
    }
    if (request_.empty() && settling_ && !settle(now)) {
        // Between steps: answers to the step before are let in and thrown away.
        if (timedOut(now)) {
            result_.failedStep = stepAt(options_.kind, bar_);
            result_.failedInReadBack = phase_ == Phase::ReadingBack;
            finish(Outcome::NoAnswer, "Блок не отвечает", true, Closing::AfterPause);
        }
        return;
    }
    const Found found = examine();
    if (found.what != Found::Nothing && found.what != Found::Partial) {
        // A reply came: the unit is there.
        if (requestsSinceReply_ > unansweredBeforeHint)
            noAnswerHint(false);
        requestsSinceReply_ = 0;
    }
    if (found.what == Found::Answer) {
        accept(found.frame, now);
        ++bar_;
        return;
    }
    if (settled(found))
        return;
    if (timedOut(now)) {
        result_.failedStep = stepAt(options_.kind, bar_);
        result_.failedInReadBack = phase_ == Phase::ReadingBack;
        finish(Outcome::NoAnswer, "Блок не отвечает", true, Closing::AfterPause);
        return;
    }
    const bool due = copies_ == 0 || answeredSinceSend_ ||
                     now - lastSentAt_ >= resendTicks_ * TickInterval - timerSlack;
    if (due && settle(now))
        sendStep(now);
}

bool Engine::settled(const Found &found)
{
    switch (found.what) {
    case Found::Refusal:
        refuse(found.frame[2]);
        return true;
    case Found::Spoilt:
    case Found::Unrelated:
        spoilt(found.what == Found::Unrelated);
        return true;
    case Found::Partial:
        return true;
    case Found::Answer:
    case Found::Nothing:
        break;
    }
    return false;
}

void Engine::tickSingle(TimePoint now)
{
    const bool command = options_.kind == Kind::Command;
    const bool giveUp = options_.stepTimeout.count() > 0 ? timedOut(now) : bar_ >= giveUpBar;
    if (giveUp) {
        result_.failedStep = stepAt(options_.kind, bar_);
        showError(command ? "Исполнение команды прервано!" : "Чтение состояний прервано!");
        finish(Outcome::NoAnswer, label_, true, Closing::AfterPause);
        return;
    }
    bar_ = std::min(bar_ + 1, lastBar);
    const Found found = examine();
    if (found.what == Found::Answer) {
        accept(found.frame, now);
        bar_ = lastBar;
        if (command) {
            setLabel("Команда успешно выполнена!");
            finish(Outcome::Done, label_, false, Closing::AfterPause);
        } else {
            finish(Outcome::Done, label_, false, Closing::AtOnce);
        }
        return;
    }
    if (settled(found))
        return;
    // A command acts on the switchgear: once anything has come back, however garbled or short,
    // it is never sent again, and without an answer only after CommandResendAfter.
    const bool due =
        copies_ == 0 ||
        (command ? !answeredSinceSend_ && held_.empty() && now - lastSentAt_ >= CommandResendAfter
                 : answeredSinceSend_ || now - lastSentAt_ >= TickInterval - timerSlack);
    if (due)
        sendStep(now);
}

} // namespace qvoksb::exchange
