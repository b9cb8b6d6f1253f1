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

void Engine::received(std::span<const uint8_t> bytes, TimePoint now)
{
    if (bytes.empty())
        return;
    if (held_.empty())
        heldSince_ = now;
    // One reply's worth and a good deal more; a flood of noise beyond it is dropped, and what is
    // held then fails its check.
    constexpr size_t capacity = 4096;
    const size_t room = capacity - std::min(held_.size(), capacity);
    held_.insert(held_.end(), bytes.begin(), bytes.begin() + std::min(bytes.size(), room));
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
    return options_.stepTimeout.count() > 0 && copies_ > 0 &&
           now - firstSentAt_ >= options_.stepTimeout;
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
        spoiltAnswers_ = 0;
    }
    if (request_.empty())
        return false;
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
    ++copies_;
    lastSentAt_ = now;
    answeredSinceSend_ = false;
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
    if (held_.size() < replyWaitingBytes)
        return found;
    const std::span<const uint8_t> held(held_);
    if (!request_.empty()) {
        const size_t expected = expectedReplyBytes();
        for (size_t at = 0; at + replyWaitingBytes <= held.size(); ++at) {
            for (size_t length : {expected, modbus::ExceptionReplyBytes}) {
                if (at + length > held.size())
                    continue;
                const std::span<const uint8_t> frame = held.subspan(at, length);
                const modbus::ReplyCheck check = modbus::classifyReply(request_, frame);
                if (check.kind != modbus::ReplyKind::Correct &&
                    check.kind != modbus::ReplyKind::Exception)
                    continue;
                if (at > 0)
                    line_.logDiscarded(held.first(at), "устаревший ответ");
                line_.logExamined(request_, frame);
                if (at + length < held.size())
                    line_.logDiscarded(held.subspan(at + length), "лишние байты после ответа");
                found.what =
                    check.kind == modbus::ReplyKind::Correct ? Found::Answer : Found::Refusal;
                found.frame = frame;
                return found;
            }
        }
    }
    size_t junk = 0;
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
        return found;
    }
    // The start of the answer still arriving: left for the next tick, once.
    if (!request_.empty() && !unrelated && held_.size() != heldAtLastTick_) {
        const size_t expected = expectedReplyBytes();
        size_t start = 0;
        for (const auto &frame : frames)
            start = size_t(frame.data() + frame.size() - held.data());
        const std::span<const uint8_t> tail = held.subspan(start);
        if (!tail.empty() && tail.size() < expected && tail[0] == request_[0] &&
            (tail.size() < 2 || (tail[1] & ~modbus::ExceptionBit) == request_[1])) {
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
    spoiltAnswers_ = std::min(spoiltAnswers_ + 1, copies_);
    held_.clear();
    line_.discardInput();
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

void Engine::accept(std::span<const uint8_t> frame)
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
    // A unit slower than a tick: its answers to the extra copies are still to come, and they
    // must not meet the next step's request. The next request waits for them; once one of them
    // has come (the unit is slow rather than a reply lost), a step is repeated only after as
    // long as this one took to be answered. (A copy answered with a spoilt reply has had its
    // answer.)
    if (copies_ - spoiltAnswers_ > 1) {
        const auto took = std::chrono::duration_cast<Milliseconds>(heldSince_ - firstSentAt_);
        learntResendTicks_ = std::clamp(int(took / TickInterval) + 1, 1, mostResendTicks);
        quietExtras_ = copies_ - 1 - spoiltAnswers_;
        quietTicks_ = 0;
        quietLimit_ = std::max(1, quietExtras_ * std::max(resendTicks_, learntResendTicks_));
    }
    earlier_.push_back(request_);
    request_.clear();
    copies_ = 0;
    spoiltAnswers_ = 0;
    held_.clear();
    line_.discardInput();
    ++stepsDone_;
    if (phase_ == Phase::ReadingBack)
        result_.lastReadBack = step;
    else
        result_.lastAccepted = step;
}

void Engine::absorbQuiet()
{
    if (held_.size() >= replyWaitingBytes) {
        size_t junk = 0;
        const int frames = int(framesIn(held_, &junk).size());
        quietExtras_ = std::max(0, quietExtras_ - frames);
        if (frames > 0)
            resendTicks_ = std::max(resendTicks_, learntResendTicks_);
    }
    discardHeld("устаревший ответ");
}

void Engine::startReadBack()
{
    phase_ = Phase::ReadingBack;
    bar_ = firstBar;
    decoded_ = 0;
    readSet_ = options_.settings;
    request_.clear();
    copies_ = 0;
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
    if (quietExtras_ > 0) {
        // Late answers to the extra copies of the last step are let in and thrown away; the
        // first tick after such a step never sends.
        absorbQuiet();
        if (quietTicks_ == 0 || (quietExtras_ > 0 && quietTicks_ < quietLimit_)) {
            ++quietTicks_;
            if (quietExtras_ == 0)
                quietExtras_ = -1; // the compulsory tick is spent; send on the next
            return;
        }
        quietExtras_ = 0;
    } else if (quietExtras_ < 0) {
        absorbQuiet();
        quietExtras_ = 0;
    }
    const Found found = examine();
    if (found.what != Found::Nothing && found.what != Found::Partial) {
        // A reply came: the unit is there.
        if (requestsSinceReply_ > unansweredBeforeHint)
            noAnswerHint(false);
        requestsSinceReply_ = 0;
    }
    if (found.what == Found::Answer) {
        accept(found.frame);
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
    if (due)
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
        accept(found.frame);
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
    // A command acts on the switchgear: once the unit has answered it, however garbled, it is
    // never sent again, and without an answer only after CommandResendAfter.
    const bool due =
        copies_ == 0 ||
        (command ? !answeredSinceSend_ && now - lastSentAt_ >= CommandResendAfter - timerSlack
                 : answeredSinceSend_ || now - lastSentAt_ >= TickInterval - timerSlack);
    if (due)
        sendStep(now);
}

} // namespace qvoksb::exchange
