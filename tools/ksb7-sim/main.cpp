// ksb7-sim: a simulated KSB-7 on a pseudo-terminal, for running the configurator without a unit.
#include "core/modbus/address_list.h"
#include "core/link/port_directory.h"
#include "gateway.h"
#include "simulated_unit.h"
#include "unit_registers.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <memory>
#include <pthread.h>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace
{

const char helpText[] = R"(Usage: ksb7-sim [options]

Plays a KSB-7 feeder protection unit on a pseudo-terminal and puts the link COMn to it into
the port directory ($QVOKSB_PORT_DIR, else $XDG_CONFIG_HOME/QvoKsb/ports, else
~/.config/QvoKsb/ports), so that the configurator, set to that port, talks to it exactly as to a
unit on a serial cable. The link is removed when ksb7-sim ends, also on Ctrl+C or SIGTERM. An
existing COMn entry is taken over only when it is a link to nothing (left by a killed ksb7-sim).

The unit answers Modbus RTU requests to its own address only, through libmodbus:
  function 4 (and 3)  read registers: the configuration blocks 257-259, 262-266, 267,
                      269-272, 277-282, 384-394, 395-405, the command register 128 (reads 0),
                      the output state 517 (bit 0 ВЫКЛ., bits 1-3 ВЫХ.1-3), the input state
                      518 (bits 0-2 inputs 1-3, bit 3 the breaker) and the last trip 529-531
  function 16 (and 6) write configuration registers; what is written reads back
  function 6 at 128   commands: 1 reset (outputs off), 2 remote trip (ВЫКЛ. on, cause 35
                      recorded with the time), 8 clear maintenance data (cause 54), 9 delete
                      events (cause 1), 20-22 operate ВЫХ.1-3 for their pulse length
It refuses with exception 3 a value the unit does not accept (a setting outside its range, a
list index past its list, an unknown bit or command) and then stores nothing of that request;
with exception 2 a register outside the blocks or a write to a read-only one; with exception 1
another function. Frames with a bad CRC, for another unit or broadcast are printed and ignored.
It starts with the settings of a fresh configurator and a trip on record (cause 40, yesterday).

Options:
  --port N            the port COMN to appear as, 1..16 (default 1)
  --address LIST      the unit address, 1..247, decimal or 0x hex (default 1); a list such
                      as 1,2,5-9 plays several units on the one line, as on a multi-drop bus,
                      each with its own registers (the fault modes apply to every one)
  --inputs MASK       the input state register 518: bit 0..2 inputs 1..3 active, bit 3 the
                      breaker input; decimal or 0x hex (default 0)
  --set REG=VALUE     start with VALUE in configuration register REG instead of a fresh
                      unit's value (any number of times), e.g. --set 385=120 for another
                      phase time-overcurrent threshold; the unit must accept the value
  --tcp PORT          also answer through a simulated Ethernet gateway in its transparent
                      mode: RTU frames unchanged in a TCP stream on 127.0.0.1:PORT
                      (the configurator's "Сетевой шлюз", ksb7ctl --port tcp://127.0.0.1:PORT)
  --modbus-tcp PORT   also answer through a simulated converting gateway: Modbus TCP on
                      127.0.0.1:PORT, the MBAP unit id addressing the unit; one request on
                      the line at a time; after 1500 ms of silence the unit's part is
                      played by exception 11 (target device failed to respond)
                      (ksb7ctl --port modbus-tcp://127.0.0.1:PORT)
                      PORT 0 takes a free port; the line "ksb7-sim: gateway URL" names it
  --quiet             no traffic print
  --help              this text

Fault modes (any combination; "every N-th" counts requests, or replies, from the start):
  --silent            never reply
  --drop-every N      no reply to every N-th request
  --bad-crc-every N   a wrong CRC on every N-th reply
  --split-pause MS    send each reply in two halves with MS ms between them
  --delay MS          wait MS ms before each reply
  --exception-block ADDR:CODE
                      answer every request touching the block that starts at ADDR (or, when
                      no block starts there, register ADDR) with exception CODE, e.g. 384:4
  --malformed         replies with a right CRC but wrong: a read reply one register short of
                      its byte count, other replies with a function code not asked for
  --burst N           send N random bytes (never a valid frame) instead of each reply
  --vanish N          at the N-th request send half the reply, then close the pseudo-terminal:
                      the link points at nothing until a new terminal appears
  --vanish-downtime MS
                      how long the port stays away after --vanish (default 500; -1: for good)
  --alter REG:VALUE   a write to configuration register REG is acknowledged, but the unit
                      stores VALUE there instead of what was sent (a unit that does not keep
                      what it was told), e.g. --alter 385:150
  --echo              the line hands every request straight back, as a two-wire RS-485
                      adapter that hears its own transmission
  --noise N           N random bytes on the line as the unit takes each request, before its
                      reply (a turnaround glitch)
  --delay-block ADDR:MS
                      answer requests touching the block that starts at ADDR MS ms late, e.g.
                      384:650 for a unit slow on its phase time-overcurrent settings
  --silent-for N:MS   from the N-th request on, the cable is out for MS ms: nothing is heard
                      and nothing answered; then the unit answers again

Every reply takes on the line the time the request and the reply would need at 9600 bit/s.

Traffic print: one line per frame, "HH:MM:SS.mmm <- request" or "-> reply", the bytes in hex,
then what they mean, worded as the configurator's exchange log words them: ф.4 чтение
257–259 (3 рег.); ф.6 отказ: недопустимое значение данных (код 3); register 385 ... outside
4..300. Lines with "!!" report the port vanishing or an error.
)";

bool parseNumber(const char *text, long low, long high, long &value)
{
    char *end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0' || parsed < low || parsed > high)
        return false;
    value = parsed;
    return true;
}

// "REG<separator>VALUE" with REG a configuration register a master may write.
bool parseRegisterValue(const char *text, char separator, int &reg, uint16_t &value)
{
    const char *mark = std::strchr(text, separator);
    if (!mark)
        return false;
    const std::string first(text, static_cast<size_t>(mark - text));
    long r = 0, v = 0;
    if (!parseNumber(first.c_str(), 0, 65535, r) || !parseNumber(mark + 1, 0, 65535, v))
        return false;
    const ksb7sim::Block *block = ksb7sim::blockContaining(static_cast<int>(r));
    if (!block || !block->writable || r == ksb7sim::CommandRegister)
        return false;
    reg = static_cast<int>(r);
    value = static_cast<uint16_t>(v);
    return true;
}

int usageError(const char *option, const char *value)
{
    std::fprintf(stderr, "ksb7-sim: bad value '%s' for --%s; see --help\n", value ? value : "",
                 option);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    enum {
        OptPort = 1000,
        OptAddress,
        OptInputs,
        OptQuiet,
        OptHelp,
        OptSilent,
        OptDropEvery,
        OptBadCrcEvery,
        OptSplitPause,
        OptDelay,
        OptExceptionBlock,
        OptMalformed,
        OptBurst,
        OptVanish,
        OptVanishDowntime,
        OptSet,
        OptAlter,
        OptTcp,
        OptModbusTcp,
        OptEcho,
        OptNoise,
        OptDelayBlock,
        OptSilentFor,
    };
    static const option options[] = {
        {"port", required_argument, nullptr, OptPort},
        {"address", required_argument, nullptr, OptAddress},
        {"inputs", required_argument, nullptr, OptInputs},
        {"quiet", no_argument, nullptr, OptQuiet},
        {"help", no_argument, nullptr, OptHelp},
        {"silent", no_argument, nullptr, OptSilent},
        {"drop-every", required_argument, nullptr, OptDropEvery},
        {"bad-crc-every", required_argument, nullptr, OptBadCrcEvery},
        {"split-pause", required_argument, nullptr, OptSplitPause},
        {"delay", required_argument, nullptr, OptDelay},
        {"exception-block", required_argument, nullptr, OptExceptionBlock},
        {"malformed", no_argument, nullptr, OptMalformed},
        {"burst", required_argument, nullptr, OptBurst},
        {"vanish", required_argument, nullptr, OptVanish},
        {"vanish-downtime", required_argument, nullptr, OptVanishDowntime},
        {"set", required_argument, nullptr, OptSet},
        {"alter", required_argument, nullptr, OptAlter},
        {"tcp", required_argument, nullptr, OptTcp},
        {"modbus-tcp", required_argument, nullptr, OptModbusTcp},
        {"echo", no_argument, nullptr, OptEcho},
        {"noise", required_argument, nullptr, OptNoise},
        {"delay-block", required_argument, nullptr, OptDelayBlock},
        {"silent-for", required_argument, nullptr, OptSilentFor},
        {nullptr, 0, nullptr, 0},
    };

    int port = 1, inputs = 0, tcpPort = -1, modbusTcpPort = -1;
    std::vector<uint8_t> addresses = {1};
    bool quiet = false;
    std::vector<std::pair<int, uint16_t>> startValues;
    ksb7sim::Faults faults;
    // The options that take a number: its range and where it goes.
    struct NumberOption {
        int id;
        long low, high;
        int *target;
    };
    const long maxMs = 600000;
    const NumberOption numberOptions[] = {
        {OptPort, 1, 16, &port},
        {OptInputs, 0, 15, &inputs},
        {OptDropEvery, 1, 1000000, &faults.dropEvery},
        {OptBadCrcEvery, 1, 1000000, &faults.badCrcEvery},
        {OptSplitPause, 1, maxMs, &faults.splitPauseMs},
        {OptDelay, 1, maxMs, &faults.delayMs},
        {OptBurst, 1, 256, &faults.burstBytes},
        {OptVanish, 1, 1000000, &faults.vanishAtRequest},
        {OptVanishDowntime, -1, maxMs, &faults.vanishDowntimeMs},
        {OptTcp, 0, 65535, &tcpPort},
        {OptModbusTcp, 0, 65535, &modbusTcpPort},
        {OptNoise, 1, 256, &faults.noiseBytes},
    };
    for (int opt; (opt = getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
        const char *name = nullptr;
        for (const option &o : options) {
            if (o.val == opt)
                name = o.name;
        }
        long value = 0;
        const auto number = [&](long low, long high) {
            return parseNumber(optarg, low, high, value);
        };
        const auto numbered = std::find_if(std::begin(numberOptions), std::end(numberOptions),
                                           [&](const NumberOption &n) { return n.id == opt; });
        if (numbered != std::end(numberOptions)) {
            if (!number(numbered->low, numbered->high))
                return usageError(name, optarg);
            *numbered->target = static_cast<int>(value);
            continue;
        }
        switch (opt) {
        case OptAddress:
            addresses = qvoksb::parseAddressList(optarg, 0).addresses;
            if (addresses.empty())
                return usageError(name, optarg);
            break;
        case OptQuiet:
            quiet = true;
            break;
        case 'h':
        case OptHelp:
            std::fputs(helpText, stdout);
            return 0;
        case OptSilent:
            faults.silent = true;
            break;
        case OptEcho:
            faults.echo = true;
            break;
        case OptExceptionBlock:
        case OptDelayBlock:
        case OptSilentFor: {
            // FIRST:SECOND: a block or request number, then a code or milliseconds.
            const char *colon = std::strchr(optarg, ':');
            if (!colon)
                return usageError(name, optarg);
            const std::string first(optarg, static_cast<size_t>(colon - optarg));
            long number = 0;
            if (!parseNumber(first.c_str(), opt == OptSilentFor ? 1 : 0,
                             opt == OptSilentFor ? 1000000 : 65535, number) ||
                !parseNumber(colon + 1, 1, opt == OptExceptionBlock ? 255 : maxMs, value))
                return usageError(name, optarg);
            if (opt == OptExceptionBlock) {
                faults.exceptionBlockStart = static_cast<int>(number);
                faults.exceptionCode = static_cast<int>(value);
            } else if (opt == OptDelayBlock) {
                faults.delayBlockStart = static_cast<int>(number);
                faults.delayBlockMs = static_cast<int>(value);
            } else {
                faults.silentFromRequest = static_cast<int>(number);
                faults.silentForMs = static_cast<int>(value);
            }
            break;
        }
        case OptMalformed:
            faults.malformed = true;
            break;
        case OptSet:
        case OptAlter: {
            // REG=VALUE: the unit starts with it; REG:VALUE: it keeps VALUE whatever is written.
            int reg = 0;
            uint16_t v = 0;
            if (!parseRegisterValue(optarg, opt == OptSet ? '=' : ':', reg, v))
                return usageError(name, optarg);
            if (opt == OptAlter) {
                faults.alterRegister = reg;
                faults.alterValue = v;
                break;
            }
            const std::string refused = ksb7sim::refusal(reg, v);
            if (!refused.empty()) {
                std::fprintf(stderr, "ksb7-sim: --set %s: the unit would refuse it: %s\n", optarg,
                             refused.c_str());
                return 2;
            }
            startValues.emplace_back(reg, v);
            break;
        }
        default:
            std::fputs("ksb7-sim: see --help\n", stderr);
            return 2;
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "ksb7-sim: unexpected argument '%s'; see --help\n", argv[optind]);
        return 2;
    }

    // The signals that end the program are taken by sigwait() below, never by a handler, so the
    // server thread (which inherits this mask) is never interrupted by them.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    // The first unit owns the terminal; the others answer on its line.
    std::vector<std::unique_ptr<ksb7sim::SimulatedUnit>> units;
    std::string list;
    for (uint8_t address : addresses) {
        units.push_back(std::make_unique<ksb7sim::SimulatedUnit>());
        ksb7sim::SimulatedUnit &unit = *units.back();
        if (!quiet && units.size() == 1) {
            std::setvbuf(stdout, nullptr, _IOLBF, 0);
            unit.setTrafficPrinter([](const std::string &line) { std::puts(line.c_str()); });
        }
        unit.setInputs(static_cast<uint16_t>(inputs));
        for (const auto &[reg, v] : startValues)
            unit.setReg(reg, v);
        unit.setFaults(faults);
        std::string error;
        const bool started = units.size() == 1 ? unit.start(port, address, &error)
                                               : unit.startOnLine(*units.front(), address, &error);
        if (!started) {
            std::fprintf(stderr, "ksb7-sim: %s\n", error.c_str());
            return 1;
        }
        list += (list.empty() ? "" : ",") + std::to_string(address);
    }
    std::printf("ksb7-sim: unit%s %s on %s -> %s; Ctrl+C ends\n", units.size() > 1 ? "s" : "",
                list.c_str(), units.front()->linkPath().c_str(),
                units.front()->devicePath().c_str());
    // The gateways open the first unit's terminal as any client of the line does.
    std::vector<std::unique_ptr<ksb7sim::TcpGateway>> gateways;
    for (const auto &[mode, tcp, scheme] :
         {std::tuple{ksb7sim::TcpGateway::Mode::RtuOverTcp, tcpPort, "tcp"},
          std::tuple{ksb7sim::TcpGateway::Mode::ModbusTcp, modbusTcpPort, "modbus-tcp"}}) {
        if (tcp < 0)
            continue;
        ksb7sim::SimulatedUnit *first = units.front().get();
        gateways.push_back(std::make_unique<ksb7sim::TcpGateway>(
            mode, [first] { return first->devicePath(); }));
        if (!quiet)
            gateways.back()->setPrinter([](const std::string &line) { std::puts(line.c_str()); });
        std::string error;
        if (!gateways.back()->start(tcp, &error)) {
            std::fprintf(stderr, "ksb7-sim: %s\n", error.c_str());
            for (auto it = units.rbegin(); it != units.rend(); ++it)
                (*it)->stop();
            return 1;
        }
        std::printf("ksb7-sim: gateway %s://%s\n", scheme, gateways.back()->name().c_str());
    }
    std::fflush(stdout);

    int received = 0;
    sigwait(&endSignals, &received);
    gateways.clear();
    for (auto it = units.rbegin(); it != units.rend(); ++it)
        (*it)->stop();
    std::printf("ksb7-sim: %s, link removed\n", strsignal(received));
    return 0;
}
