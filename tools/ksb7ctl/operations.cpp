#include "operations.h"

#include "core/settings/register_map.h"
#include "core/settings/settings_diff.h"

#include <cstdio>
#include <iterator>

namespace ksb7ctl
{

namespace modbus = qvoksb::modbus;
namespace exchange = qvoksb::exchange;
using qvoksb::Setting;
using qvoksb::SettingsSet;

// The unit's command table with the names the command line gives them, in the same order.
const std::array<CommandRow, 7> Commands = [] {
    constexpr const char *names[] = {"reset", "trip", "clear-maintenance", "delete-events", "out1",
                                     "out2",  "out3"};
    static_assert(std::size(names) == exchange::Commands.size());
    std::array<CommandRow, 7> rows{};
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = {names[i], exchange::Commands[i].code, exchange::Commands[i].caption.data()};
    return rows;
}();

const CommandRow *findCommand(const std::string &name)
{
    for (const CommandRow &c : Commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

const StatusRow &statusRow(Status status)
{
    static constexpr StatusRow rows[] = {
        {Status::Ok, "ok", ExitDone, "ok"},
        {Status::Differences, "differences", ExitDifferences, "differences"},
        {Status::Refused, "refused", ExitRefused, "refused"},
        {Status::Silent, "silent", ExitLink, "no-reply"},
        {Status::PortLost, "port-lost", ExitLink, "port"},
        {Status::PortFailed, "port-failed", ExitLink, "port"},
        {Status::FileFailed, "file-failed", ExitFileFailed, "file"},
    };
    static_assert([] {
        for (size_t i = 0; i < std::size(rows); ++i)
            if (rows[i].status != Status(i))
                return false;
        return true;
    }());
    return rows[static_cast<size_t>(status)];
}

std::string stepName(int step)
{
    static const char *const blocks[] = {
        "конфигурация", "блокировка выключателя", "контроль выключателя", "уставки МТЗ",
        "уставки ОЗЗ",  "выходные реле",          "цифровые входы",       "последнее отключение",
    };
    if (step >= 1 && step <= 8)
        return "шаг " + std::to_string(step) + " (" + blocks[step - 1] + ")";
    if (step == modbus::StateStep)
        return "чтение состояний";
    return "команда";
}

std::vector<Setting> configurationDifferences(const SettingsSet &a, const SettingsSet &b)
{
    std::vector<Setting> which;
    for (const qvoksb::DifferenceRow &row :
         qvoksb::differenceRows(a, b, qvoksb::Compared::Configuration))
        which.push_back(row.setting);
    return which;
}

static exchange::Options ofKind(exchange::Kind kind)
{
    exchange::Options options;
    options.kind = kind;
    return options;
}

std::optional<exchange::Result> UnitOperations::run(exchange::Options options, UnitResult &result)
{
    options.address = address_;
    result.address = address_;
    exchange::Result done = link_.run(std::move(options), progress_);
    result.lastAccepted = done.lastAccepted;
    if (done.outcome == exchange::Outcome::Done || done.outcome == exchange::Outcome::Differences)
        return done;
    const bool readBack = done.failedInReadBack;
    const int stepNumber = done.failedStep;
    const int accepted = readBack ? done.lastReadBack : done.lastAccepted;
    const std::string acceptedText =
        "; последний принятый шаг: " + (accepted ? std::to_string(accepted) : std::string("нет"));
    result.failedStep = stepNumber;
    switch (done.outcome) {
    case exchange::Outcome::Refused:
        result.status = Status::Refused;
        result.message = "блок отклонил " + stepName(stepNumber) + ": " +
                         std::string(modbus::exceptionMeaning(done.exceptionCode)) + " (код " +
                         std::to_string(done.exceptionCode) + ")" + acceptedText;
        break;
    case exchange::Outcome::PortLost:
        result.status = Status::PortLost;
        result.message = link_.lostWords() + " на " + stepName(stepNumber) +
                         (done.trouble.empty() ? "" : " (" + done.trouble + ")") + acceptedText;
        break;
    default:
        result.status = Status::Silent;
        result.message = "нет ответа на " + stepName(stepNumber) +
                         (done.trouble.empty() ? "" : " (" + done.trouble + ")") + acceptedText;
        break;
    }
    if (readBack) {
        result.lastAccepted = modbus::WriteSteps;
        result.message = "запись принята, но проверка не удалась: " + result.message;
    }
    return std::nullopt;
}

UnitResult UnitOperations::read(bool withTrip)
{
    UnitResult result;
    const auto done =
        run(ofKind(withTrip ? exchange::Kind::Read : exchange::Kind::Compare), result);
    if (!done || !done->settings)
        return result;
    result.settings = qvoksb::withFixedValues(*done->settings);
    result.trip = done->lastTrip;
    return result;
}

UnitResult UnitOperations::write(const SettingsSet &set, bool verify)
{
    UnitResult result;
    // The read-back decodes into the factory values, as a read does.
    exchange::Options o = ofKind(exchange::Kind::Write);
    o.settings = set;
    o.verify = verify;
    const auto done = run(std::move(o), result);
    if (!done || !verify || !done->settings)
        return result;
    const SettingsSet held = qvoksb::withFixedValues(*done->settings);
    result.wanted = qvoksb::withFixedValues(qvoksb::registers::asUnitHolds(set));
    result.differences = configurationDifferences(held, *result.wanted);
    result.settings = held;
    result.verified = true;
    result.status = Status::Ok;
    if (!result.differences.empty()) {
        result.status = Status::Differences;
        result.message = "после записи блок хранит иное в " +
                         std::to_string(result.differences.size()) + " параметрах";
    }
    return result;
}

UnitResult UnitOperations::diff(const SettingsSet &file)
{
    UnitResult result = read(false);
    if (result.status != Status::Ok || !result.settings)
        return result;
    // Compared with what writing the file would make the unit hold; the last-trip texts are
    // the unit's record, not settings, and are left out.
    const SettingsSet wanted = qvoksb::withFixedValues(qvoksb::registers::asUnitHolds(file));
    result.differences = configurationDifferences(*result.settings, wanted);
    result.wanted = wanted;
    if (!result.differences.empty()) {
        result.status = Status::Differences;
        result.message = "блок отличается от файла в " + std::to_string(result.differences.size()) +
                         " параметрах";
    }
    return result;
}

UnitResult UnitOperations::state()
{
    UnitResult result;
    if (const auto done = run(ofKind(exchange::Kind::State), result))
        result.state = done->state;
    return result;
}

UnitResult UnitOperations::lastTrip()
{
    UnitResult result;
    if (const auto done = run(ofKind(exchange::Kind::LastTrip), result))
        result.trip = done->lastTrip;
    return result;
}

UnitResult UnitOperations::command(const CommandRow &command)
{
    UnitResult result;
    exchange::Options o = ofKind(exchange::Kind::Command);
    o.commandCode = uint16_t(command.code);
    run(std::move(o), result);
    return result;
}

} // namespace ksb7ctl
