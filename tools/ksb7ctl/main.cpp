// ksb7ctl: the KSB-7 from the command line, in the unit's own terms, for one unit or a whole
// line of them.
#include "core/link/net_link.h"
#include "core/modbus/address_list.h"
#include "core/records/board_plan.h"
#include "core/platform/command_line.h"
#include "core/records/config_file.h"
#include "operations.h"
#include "core/files/profile_file.h"
#include "report.h"
#include "core/platform/system_error.h"
#include "work_journal.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>
#include <string>
#include <vector>

using namespace ksb7ctl;

namespace
{

const char helpText[] = R"(Использование: ksb7ctl [ключи] КОМАНДА ...

Обмен с блоком KSB-7 по Modbus RTU через последовательный порт или сетевой шлюз, теми же
запросами, в том же порядке и с тем же шагом 300 мс, что и у конфигуратора; файлы конфигурации
те же.

Команды:
  read [-o ФАЙЛ]         прочитать семь блоков параметров и последнее отключение; с -o записать
                         файл конфигурации (как его сохраняет конфигуратор), иначе вывести текст
  write ФАЙЛ [--verify]  записать параметры файла в блок; с --verify прочитать и сравнить
  diff ФАЙЛ              сравнить блок с файлом
  diff ФАЙЛ1 ФАЙЛ2       сравнить два файла (без порта)
  status                 состояние входов и выходных реле
  trip                   дата, время и причина последнего отключения
  scan                   найти блоки на линии: по одному короткому запросу состояния на адрес
                         (по умолчанию все адреса 1-F7); для ответивших - состояние и последнее
                         отключение, по строке на блок
  command ИМЯ --yes      команда управления: reset, trip, clear-maintenance, delete-events,
                         out1, out2, out3; без --yes только показывает, что было бы отправлено

Ключи:
  --port COMn|ПУТЬ|URL   порт (по умолчанию COM1): COMn из папки портов, путь к устройству,
                         или шлюз Ethernet: tcp://УЗЕЛ:ПОРТ (кадры RTU как есть, «RTU поверх
                         TCP»), modbus-tcp://УЗЕЛ[:ПОРТ] (Modbus TCP, порт по умолчанию 502);
                         адрес IPv6 в скобках: tcp://[::1]:4001
  --address СПИСОК       адреса блоков в шестнадцатеричном виде, как на странице «УПРАВЛЕНИЕ»:
                         1, F7, 1,2,5-9 (по умолчанию 1); блоки опрашиваются по очереди
  --json                 результат одним документом JSON на стандартный вывод
  --timeout СЕК          сколько ждать верного ответа на шаг (по умолчанию 3); для scan - на
                         запрос к одному адресу (по умолчанию 0.1, больше - для медленных шлюзов)
  --pace ticks|reply     ticks: шаг 300 мс (по умолчанию); reply: следующий запрос сразу после
                         ответа и паузы в 3,5 символа, для блоков с ответом в пределах Modbus
  --dtr, --rts           держать линию DTR, RTS включённой
  -o, --output ФАЙЛ      для read; при нескольких адресах в имени нужен %a (адрес, 0A)
  --verify               для write
  --yes                  для command
  --no-journal           не записывать обмен в журнал работ (по записи на каждый блок в
                         $XDG_DATA_HOME/QvoKsb/journal.jsonl, иначе
                         ~/.local/share/QvoKsb/journal.jsonl; его показывает конфигуратор:
                         «Сервис» - «Журнал работ»)
  --help                 эта справка

Коды завершения:
  0  выполнено
  1  найдены различия (diff, write --verify)
  2  сбой связи: порт или шлюз недоступен, блок не отвечает, порт или связь пропали
  3  неверные входные данные: файл, ключи, список адресов; ничего не отправлено
  4  блок отклонил запрос (исключение Modbus)
  5  прочитано, но файл read -o не записан
Для scan: 0 - найден хотя бы один блок; 1 - есть адреса с искажёнными ответами (помехи или два
блока с одним адресом); 2 - ни один адрес не ответил, порт недоступен или пропал.
При нескольких адресах код завершения - наибольший из кодов блоков.
Сообщения об ошибках - по одной строке на стандартный поток ошибок.
)";

struct Options {
    std::string command;
    std::vector<std::string> arguments;
    std::string port = "COM1";
    std::string addressText = "1";
    bool json = false;
    double timeoutSeconds = 3;
    bool timeoutGiven = false;
    bool addressGiven = false;
    std::string pace = "ticks";
    bool dtr = false;
    bool rts = false;
    std::string output;
    bool verify = false;
    bool yes = false;
    bool journal = true;
};

int badInput(const std::string &message)
{
    std::fprintf(stderr, "ksb7ctl: %s\n", visibleText(message).c_str());
    return ExitBadInput;
}

bool parseTimeout(const char *text, double &seconds)
{
    char *end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value < 0.1 || value > 3600)
        return false;
    seconds = value;
    return true;
}

// COMn, n in 1..16, or a device path.
bool parsePort(const std::string &text, LinkSettings &link, std::string &problem)
{
    if (qvoksb::looksLikeGatewayUrl(text)) {
        link.gateway = qvoksb::parseGatewayUrl(text, &problem);
        return link.gateway.has_value();
    }
    if (text.find('/') != std::string::npos) {
        link.devicePath = text;
        return true;
    }
    if (text.size() < 4 || strncasecmp(text.c_str(), "COM", 3) != 0)
        return false;
    char *end = nullptr;
    const long n = std::strtol(text.c_str() + 3, &end, 10);
    if (*end != '\0' || n < 1 || n > 16 || !std::isdigit(static_cast<unsigned char>(text[3])))
        return false;
    link.portNum = int(n);
    return true;
}

std::string outputPath(const std::string &pattern, int address)
{
    return qvoksb::board::fileNameFor(pattern, address);
}

// The configurator's set from a file, as its controls take it.
bool loadFile(const std::string &path, qvoksb::SettingsSet &set, std::string &problem)
{
    const qvoksb::ConfigFileReading reading = qvoksb::readConfigFile(path);
    if (!reading.ok) {
        problem = "файл " + path + ": " + reading.problem;
        return false;
    }
    set = qvoksb::withFixedValues(reading.set);
    return true;
}

std::string hexFrame(std::span<const uint8_t> frame)
{
    std::string text;
    for (uint8_t b : frame) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%s%02X", text.empty() ? "" : " ", b);
        text += byte;
    }
    return text;
}

// How many steps a command takes with one unit.
int stepsOf(const std::string &command, bool verify)
{
    if (command == "read")
        return qvoksb::modbus::LastTripStep;
    if (command == "write" || command == "diff")
        return (verify ? 2 : 1) * qvoksb::modbus::WriteSteps;
    return 1;
}

// A progress line on a terminal: it is rewritten in place and wiped when the unit is done.
class ProgressLine
{
public:
    ProgressLine() : shown_(qvoksb::errorStreamIsTerminal()) {}
    void show(int address, int done, int steps)
    {
        if (shown_)
            std::fprintf(stderr, "\rадрес %s: шаг %d из %d\033[K", addressText(address).c_str(),
                         done, steps);
    }
    void showCount(int done, int steps)
    {
        if (shown_)
            std::fprintf(stderr, "\rопрошено %d из %d\033[K", done, steps);
    }
    void wipe()
    {
        if (shown_)
            std::fputs("\r\033[K", stderr);
    }

private:
    bool shown_;
};

} // namespace

int main(int argc, char **systemArgv)
{
    // File names and texts in UTF-8, as the core keeps them, whatever the system's code page.
    qvoksb::useUtf8Console();
    std::vector<std::string> arguments = qvoksb::utf8Arguments(argc, systemArgv);
    std::vector<char *> argumentPointers;
    for (std::string &a : arguments)
        argumentPointers.push_back(a.data());
    argumentPointers.push_back(nullptr);
    argc = static_cast<int>(arguments.size());
    char **argv = argumentPointers.data();

    enum {
        OptPort = 1000,
        OptAddress,
        OptJson,
        OptTimeout,
        OptPace,
        OptDtr,
        OptRts,
        OptVerify,
        OptYes,
        OptNoJournal,
        OptHelp
    };
    static const option options[] = {
        {"port", required_argument, nullptr, OptPort},
        {"address", required_argument, nullptr, OptAddress},
        {"json", no_argument, nullptr, OptJson},
        {"timeout", required_argument, nullptr, OptTimeout},
        {"pace", required_argument, nullptr, OptPace},
        {"dtr", no_argument, nullptr, OptDtr},
        {"rts", no_argument, nullptr, OptRts},
        {"output", required_argument, nullptr, 'o'},
        {"verify", no_argument, nullptr, OptVerify},
        {"yes", no_argument, nullptr, OptYes},
        {"no-journal", no_argument, nullptr, OptNoJournal},
        {"help", no_argument, nullptr, OptHelp},
        {nullptr, 0, nullptr, 0},
    };
    Options o;
    opterr = 0;
    for (int opt; (opt = getopt_long(argc, argv, ":o:h", options, nullptr)) != -1;) {
        switch (opt) {
        case OptPort:
            o.port = optarg;
            break;
        case OptAddress:
            o.addressText = optarg;
            o.addressGiven = true;
            break;
        case OptJson:
            o.json = true;
            break;
        case OptTimeout:
            if (!parseTimeout(optarg, o.timeoutSeconds))
                return badInput(std::string("неверное время ожидания «") + optarg +
                                "»: нужно число секунд от 0.1 до 3600");
            o.timeoutGiven = true;
            break;
        case OptPace:
            o.pace = optarg;
            if (o.pace != "ticks" && o.pace != "reply")
                return badInput("неверный шаг обмена «" + o.pace + "»: ticks или reply");
            break;
        case OptDtr:
            o.dtr = true;
            break;
        case OptRts:
            o.rts = true;
            break;
        case 'o':
            o.output = optarg;
            break;
        case OptVerify:
            o.verify = true;
            break;
        case OptYes:
            o.yes = true;
            break;
        case OptNoJournal:
            o.journal = false;
            break;
        case 'h':
        case OptHelp:
            std::fputs(helpText, stdout);
            return ExitDone;
        case ':':
            return badInput(std::string("у ключа ") + argv[optind - 1] + " нет значения");
        default:
            return badInput(std::string("неизвестный ключ ") + argv[optind - 1] + "; см. --help");
        }
    }
    if (optind >= argc)
        return badInput("не указана команда; см. --help");
    o.command = argv[optind];
    o.arguments.assign(argv + optind + 1, argv + argc);

    // --- everything is checked before anything is sent ---------------------------------------
    const std::string &cmd = o.command;
    const size_t argCount = o.arguments.size();
    const auto wrongArguments = [&] {
        return badInput("неверные аргументы команды " + cmd + "; см. --help");
    };
    if (cmd == "read" || cmd == "status" || cmd == "trip" || cmd == "scan") {
        if (argCount != 0)
            return wrongArguments();
    } else if (cmd == "write") {
        if (argCount != 1)
            return wrongArguments();
    } else if (cmd == "diff") {
        if (argCount != 1 && argCount != 2)
            return wrongArguments();
    } else if (cmd == "command") {
        if (argCount != 1)
            return wrongArguments();
        if (!findCommand(o.arguments[0]))
            return badInput("неизвестная команда управления «" + o.arguments[0] +
                            "»: reset, trip, clear-maintenance, delete-events, out1, out2, out3");
    } else {
        return badInput("неизвестная команда «" + cmd + "»; см. --help");
    }
    if (!o.output.empty() && cmd != "read")
        return badInput("ключ -o только для команды read");
    if (o.verify && cmd != "write")
        return badInput("ключ --verify только для команды write");
    if (o.yes && cmd != "command")
        return badInput("ключ --yes только для команды command");

    LinkSettings link;
    if (std::string problem; !parsePort(o.port, link, problem))
        return badInput(!problem.empty() ? problem
                                         : "неверный порт «" + o.port +
                                               "»: COM1..COM16, путь к устройству, "
                                               "tcp://УЗЕЛ:ПОРТ или modbus-tcp://УЗЕЛ[:ПОРТ]");
    link.dtr = o.dtr;
    link.rts = o.rts;
    link.pacing = o.pace == "reply" ? Pacing::Reply : Pacing::Ticks;
    link.timeoutMs = int(std::lround(o.timeoutSeconds * 1000));
    if (cmd == "scan" && !o.addressGiven)
        o.addressText = "1-F7";
    const qvoksb::AddressList addresses = qvoksb::parseAddressList(o.addressText, 16);
    if (addresses.addresses.empty())
        return badInput("--address: " + addresses.problem);
    if (!o.output.empty() && addresses.addresses.size() > 1 &&
        o.output.find("%a") == std::string::npos)
        return badInput("при нескольких адресах в имени файла -o нужен %a");

    // A file that cannot be written is known before the unit is asked anything.
    if (!o.output.empty())
        for (uint8_t address : addresses.addresses)
            if (const std::string why = qvoksb::fileWriteProblem(outputPath(o.output, address));
                !why.empty())
                return badInput("файл " + outputPath(o.output, address) + " не записать: " + why);

    Report report;
    report.command = cmd;
    report.pace = o.pace;
    report.port = link.gateway ? qvoksb::gatewayName(*link.gateway)
                  : link.devicePath.empty() ? "COM" + std::to_string(link.portNum)
                                            : link.devicePath;

    qvoksb::SettingsSet fileSet;
    if (cmd == "write" || cmd == "diff") {
        std::string problem;
        if (!loadFile(o.arguments[0], fileSet, problem))
            return badInput(problem);
        report.file = o.arguments[0];
        // As the configurator asks before such a write, say what the unit will hold otherwise.
        const std::vector<qvoksb::DifferenceRow> uncarried =
            cmd == "write" ? qvoksb::valuesTheUnitCannotCarry(fileSet)
                           : std::vector<qvoksb::DifferenceRow>();
        if (!uncarried.empty())
            std::fprintf(stderr,
                         "ksb7ctl: блок получит иное, чем в файле, в %zu параметрах: %s — "
                         "%s вместо %s%s\n",
                         uncarried.size(), uncarried[0].caption.c_str(),
                         visibleText(uncarried[0].right).c_str(),
                         visibleText(uncarried[0].left).c_str(),
                         uncarried.size() > 1 ? " и др." : "");
    }
    if (cmd == "diff" && argCount == 2) {
        // Two files: no unit, no port.
        qvoksb::SettingsSet second;
        std::string problem;
        if (!loadFile(o.arguments[1], second, problem))
            return badInput(problem);
        const std::vector<qvoksb::DifferenceRow> rows =
            qvoksb::differenceRows(fileSet, second, qvoksb::Compared::Everything);
        const int code = rows.empty() ? ExitDone : ExitDifferences;
        if (o.json) {
            Json json;
            json.open('{').key("command").value("diff").key("files").open('[');
            json.value(o.arguments[0]).value(o.arguments[1]).close(']');
            json.key("exit").value(code);
            differencesJson(json, rows, "first", "second");
            json.close('}');
            std::fputs((json.text() + "\n").c_str(), stdout);
        } else {
            std::fputs(differenceLines(rows, "файл 1", "файл 2").c_str(), stdout);
        }
        return code;
    }
    if (cmd == "command") {
        report.commandRow = findCommand(o.arguments[0]);
        if (!o.yes) {
            // Every command acts on the switchgear or on the unit's records: nothing goes out
            // unconfirmed, as the configurator asks before each one.
            for (uint8_t a : addresses.addresses) {
                std::array<uint8_t, qvoksb::modbus::ReadRequestBytes> frame{};
                qvoksb::modbus::buildRequest(frame, a, qvoksb::modbus::FunctionWriteSingleRegister,
                                             qvoksb::modbus::CommandRegister,
                                             uint16_t(report.commandRow->code));
                std::printf("адрес %s: команда «%s» (код %d) в регистр %d: %s\n",
                            addressText(a).c_str(), report.commandRow->caption,
                            report.commandRow->code, qvoksb::modbus::CommandRegister,
                            hexFrame(frame).c_str());
            }
            return badInput("команда не отправлена: подтвердите её ключом --yes");
        }
    }

    // --- the line ------------------------------------------------------------------------------
    UnitLink line(link);
    std::string problem;
    const bool opened = line.open(&problem);
    ProgressLine progress;
    if (cmd == "scan") {
        if (!opened) {
            std::fprintf(stderr, "ksb7ctl: %s\n", visibleText(problem).c_str());
            if (o.json)
                std::fputs(scanJson(report, {}, ExitLink).c_str(), stdout);
            return ExitLink;
        }
        qvoksb::exchange::ScanOptions scanOptions;
        scanOptions.addresses = addresses.addresses;
        if (o.timeoutGiven)
            scanOptions.timeout = qvoksb::exchange::Milliseconds(link.timeoutMs);
        const auto started = Clock::now();
        const std::vector<qvoksb::exchange::ScanEntry> entries =
            line.scan(scanOptions, [&](int done, int steps) { progress.showCount(done, steps); });
        progress.wipe();
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        const bool lost = line.lost();
        line.close();
        int code = lost ? ExitLink : scanExitCode(entries);
        if (lost)
            std::fprintf(stderr, "ksb7ctl: %s (%s), опрос прерван\n", line.lostWords().c_str(),
                         line.portName().c_str());
        size_t answering = 0;
        for (const qvoksb::exchange::ScanEntry &e : entries) {
            answering += e.presence == qvoksb::exchange::Presence::Answers;
            if (!o.json)
                std::fputs(scanText(e).c_str(), stdout);
        }
        std::fprintf(stderr, "ksb7ctl: отвечают %zu из %zu адресов, %.1f с\n", answering,
                     addresses.addresses.size(), seconds);
        if (o.json)
            std::fputs(scanJson(report, entries, code).c_str(), stdout);
        return code;
    }
    const std::string journalPath = qvoksb::journal::journalPath();
    for (uint8_t address : addresses.addresses) {
        UnitResult result;
        result.address = address;
        if (!opened) {
            result.status = Status::PortFailed;
            result.message = problem;
        } else if (!report.units.empty() && (report.units.back().status == Status::PortLost ||
                                             report.units.back().status == Status::PortFailed)) {
            result.status = Status::PortFailed;
            result.message = line.lostWords() + " (" + line.portName() + "), блок не опрошен";
        } else {
            UnitOperations unit(line, address,
                                [&](int done, int steps) { progress.show(address, done, steps); });
            progress.show(address, 0, stepsOf(cmd, o.verify));
            if (cmd == "read")
                result = unit.read(true);
            else if (cmd == "write")
                result = unit.write(fileSet, o.verify);
            else if (cmd == "diff")
                result = unit.diff(fileSet);
            else if (cmd == "status")
                result = unit.state();
            else if (cmd == "trip")
                result = unit.lastTrip();
            else
                result = unit.command(*report.commandRow);
            progress.wipe();
            if (cmd == "read" && result.status == Status::Ok && !o.output.empty()) {
                const std::string path = outputPath(o.output, address);
                std::string why;
                if (qvoksb::writeConfigFile(path, *result.settings, &why)) {
                    result.file = path;
                } else {
                    result.status = Status::FileFailed;
                    result.message = "файл " + path + " не записан: " + why;
                }
            }
        }
        if (!result.message.empty() || result.status != Status::Ok)
            std::fprintf(stderr, "ksb7ctl: адрес %s: %s\n", addressText(address).c_str(),
                         result.message.empty() ? "различия с файлом"
                                                : visibleText(result.message).c_str());
        if (!o.json) {
            const bool manyLines = cmd == "read" || cmd == "status" || cmd == "trip";
            if (addresses.addresses.size() > 1 && manyLines && o.output.empty() &&
                result.status == Status::Ok)
                std::printf("== адрес %s ==\n", addressText(address).c_str());
            std::fputs(unitText(report, result).c_str(), stdout);
            std::fflush(stdout);
        }
        // One record per unit, written as soon as its exchange is over; a journal that cannot be
        // written is reported once and does not change the result.
        if (o.journal && report.journalError.empty()) {
            std::string why;
            if (!qvoksb::journal::append(
                    journalPath, journalRecord(report, result, cmd == "write" ? &fileSet : nullptr),
                    &why)) {
                std::fprintf(stderr, "ksb7ctl: журнал работ не записан: %s\n",
                             visibleText(why).c_str());
                report.journalError = why;
            }
        }
        report.exitCode = std::max(report.exitCode, exitCodeOf(result.status));
        report.units.push_back(std::move(result));
    }
    line.close();
    if (o.json)
        std::fputs(reportJson(report).c_str(), stdout);
    return report.exitCode;
}
