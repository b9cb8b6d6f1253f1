// How long building and checking the frames of a full configuration write and read takes, and how
// many heap allocations it makes: once in the Qt-free codec alone, once through the exchange
// engine that the exchange window and ksb7ctl run on (labels and matching included), and the
// decoded settings put into the main window's controls for comparison.
//
// Allocations are counted by standing in for malloc, calloc and realloc: Qt allocates its strings
// with malloc, and operator new ends there too.
#include "Main.h"
#include "bench_home.h"
#include "core/exchange/exchange_engine.h"
#include "core/modbus/modbus_rtu.h"

#include <QApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
}

namespace
{
std::atomic<long> allocations{0};
}

extern "C" void *malloc(size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(size);
}
extern "C" void *calloc(size_t count, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(count, size);
}
extern "C" void *realloc(void *p, size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, size);
}

namespace modbus = qvoksb::modbus;
namespace exchange = qvoksb::exchange;
using Clock = std::chrono::steady_clock;

namespace
{

constexpr int framesPerPass = 15; // 7 write steps, 8 read steps
constexpr int passes = 20000;

using Frame = std::array<uint8_t, 64>;
struct Replies {
    std::array<Frame, 7> echoes{};
    std::array<size_t, 7> echoLengths{};
    std::array<Frame, 8> reads{};
    std::array<size_t, 8> readLengths{};
};

// The unit's answers: the echoes of the write requests and read replies of the right sizes.
Replies makeReplies(uint8_t unit)
{
    Replies r;
    for (int step = 1; step <= 7; ++step) {
        const modbus::Block b = modbus::readBlock(step);
        Frame &e = r.echoes[size_t(step - 1)];
        e = {unit,
             modbus::FunctionWriteMultipleRegisters,
             uint8_t(b.first >> 8),
             uint8_t(b.first & 0xFF),
             0,
             uint8_t(b.count)};
        r.echoLengths[size_t(step - 1)] = modbus::appendCrc(e, 6);
    }
    for (int step = 1; step <= 8; ++step) {
        const modbus::Block b = modbus::readBlock(step);
        Frame &f = r.reads[size_t(step - 1)];
        f[0] = unit;
        f[1] = modbus::FunctionReadInputRegisters;
        f[2] = uint8_t(2 * b.count);
        for (size_t k = 0; k < 2u * b.count; k += 2)
            f[3 + k + 1] = uint8_t(10 + k); // register values 10, 12, ...
        r.readLengths[size_t(step - 1)] = modbus::appendCrc(f, 3 + 2u * b.count);
    }
    return r;
}

struct Result {
    double nsPerFrame;
    double allocationsPerPass;
};

template <typename Pass> Result measure(Pass pass)
{
    for (int i = 0; i < 100; ++i) // warm up: first-time allocations are not the steady state
        pass();
    const long before = allocations.load();
    const auto start = Clock::now();
    for (int i = 0; i < passes; ++i)
        pass();
    const auto elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    return {elapsed / (double(passes) * framesPerPass),
            double(allocations.load() - before) / passes};
}

volatile int sink = 0;

} // namespace

int main(int argc, char *argv[])
{
    const BenchHome home;
    QApplication app(argc, argv);

    TFKsb window;
    FKsb = &window;
    const Replies replies = makeReplies(uint8_t(window.RxSpinEdit26->value()));

    // The codec alone: the same frames from fixed register values.
    const Result core = measure([&] {
        std::array<uint16_t, 11> values{};
        Frame request{};
        int correct = 0;
        for (int step = 1; step <= 7; ++step) {
            const modbus::Block b = modbus::readBlock(step);
            values.fill(uint16_t(step));
            const size_t n =
                modbus::buildWriteMultiple(request, 1, b.first, std::span(values.data(), b.count));
            const size_t e = replies.echoLengths[size_t(step - 1)];
            correct += modbus::classifyReply(std::span(request.data(), n),
                                             std::span(replies.echoes[size_t(step - 1)].data(), e))
                           .kind == modbus::ReplyKind::Correct;
        }
        for (int step = 1; step <= 8; ++step) {
            const modbus::Block b = modbus::readBlock(step);
            const size_t n = modbus::buildRequest(request, 1, modbus::FunctionReadInputRegisters,
                                                  b.first, b.count);
            const std::span reply(replies.reads[size_t(step - 1)].data(),
                                  replies.readLengths[size_t(step - 1)]);
            correct += modbus::classifyReply(std::span(request.data(), n), reply).kind ==
                       modbus::ReplyKind::Correct;
            std::array<uint16_t, 11> registers{};
            correct += modbus::readRegisters(reply, std::span(registers.data(), b.count));
        }
        sink = correct;
    });

    // The exchange engine: a whole write and a whole read, each reply handed in right after its
    // request, on ticks of a clock that is never waited for.
    struct Line : exchange::Line {
        int sent = 0;
        void discardInput() override {}
        bool send(std::span<const uint8_t>) override
        {
            ++sent;
            return true;
        }
    } line;
    int engineCorrect = 0;
    const qvoksb::SettingsSet windowSet = window.currentSettings();
    qvoksb::SettingsSet unitSet;
    const auto run = [&](exchange::Kind kind) {
        exchange::Options o;
        o.kind = kind;
        o.settings = windowSet;
        exchange::Engine engine(o, line);
        exchange::TimePoint now{};
        while (!engine.finished()) {
            now += exchange::TickInterval;
            const int before = line.sent;
            engine.tick(now);
            if (line.sent == before)
                continue;
            const int step = engine.bar();
            const auto &reply = kind == exchange::Kind::Write ? replies.echoes[size_t(step - 1)]
                                                              : replies.reads[size_t(step - 1)];
            const size_t length = kind == exchange::Kind::Write
                                      ? replies.echoLengths[size_t(step - 1)]
                                      : replies.readLengths[size_t(step - 1)];
            engine.received(std::span(reply.data(), length), now);
        }
        engineCorrect += engine.result().outcome == exchange::Outcome::Done;
        if (engine.result().settings)
            unitSet = *engine.result().settings;
    };
    const Result onEngine = measure([&] {
        run(exchange::Kind::Write);
        run(exchange::Kind::Read);
    });

    // The unit's settings into the controls (interlocks and texts included), as the main window
    // does after a read.
    const Result decoding = measure([&] { window.applySettings(unitSet); });

    std::printf("frames of a full write and read (%d frames, %d passes)\n", framesPerPass, passes);
    std::printf("  codec, build + classify:            %8.1f ns per frame, %.2f allocations "
                "per pass\n",
                core.nsPerFrame, core.allocationsPerPass);
    std::printf("  exchange engine, write + read:      %8.1f ns per frame, %.2f allocations "
                "per pass\n",
                onEngine.nsPerFrame, onEngine.allocationsPerPass);
    std::printf("  read settings into the controls:    %8.1f us per read, %.2f allocations "
                "per read\n",
                decoding.nsPerFrame * framesPerPass / 1000, decoding.allocationsPerPass);
    const int exchanges = 2 * (100 + passes);
    const bool allCorrect = engineCorrect == exchanges;
    if (!allCorrect)
        std::printf("  !! %d of the engine's exchanges did not end in success\n",
                    exchanges - engineCorrect);
    FKsb = nullptr;
    return allCorrect ? 0 : 1;
}
