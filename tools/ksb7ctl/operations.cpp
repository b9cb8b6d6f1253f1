#include "operations.h"

#include "register_map.h"
#include "settings_diff.h"

#include <cstdio>

namespace ksb7ctl
{

namespace modbus = qvoksb::modbus;
using qvoksb::Setting;
using qvoksb::SettingsSet;

const std::array<CommandRow, 7> Commands = {{
    {"reset", 1, "СБРОС"},
    {"trip", 2, "ОТКЛЮЧИТЬ ВЫКЛ."},
    {"clear-maintenance", 8, "ОЧИСТИТЬ ДАННЫЕ Т.О."},
    {"delete-events", 9, "УДАЛИТЬ СОБЫТИЯ"},
    {"out1", 20, "ВЫХ.1"},
    {"out2", 21, "ВЫХ.2"},
    {"out3", 22, "ВЫХ.3"},
}};

const CommandRow *findCommand(const std::string &name)
{
    for (const CommandRow &c : Commands)
        if (name == c.name)
            return &c;
    return nullptr;
}

int exitCodeOf(Status status)
{
    switch (status) {
    case Status::Ok:
        return ExitDone;
    case Status::Differences:
    case Status::Refused:
        return ExitDifferences;
    case Status::Silent:
    case Status::PortLost:
    case Status::PortFailed:
        return ExitLink;
    case Status::FileFailed:
        return ExitBadInput;
    }
    return ExitLink;
}

const char *statusName(Status status)
{
    switch (status) {
    case Status::Ok:
        return "ok";
    case Status::Differences:
        return "differences";
    case Status::Refused:
        return "refused";
    case Status::Silent:
        return "silent";
    case Status::PortLost:
        return "port-lost";
    case Status::PortFailed:
        return "port-failed";
    case Status::FileFailed:
        return "file-failed";
    }
    return "";
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

SettingsSet asWindowHolds(SettingsSet set)
{
    set.setValue(Setting::CheckBox16, 1);
    return set;
}

bool UnitOperations::step(int stepNumber, std::span<const uint8_t> request, UnitResult &result,
                          std::vector<uint16_t> *registers)
{
    const Answer answer = link_.transact(request);
    const std::string accepted =
        "; последний принятый шаг: " +
        (result.lastAccepted ? std::to_string(result.lastAccepted) : std::string("нет"));
    result.failedStep = stepNumber;
    switch (answer.outcome) {
    case Outcome::Correct:
        if (registers) {
            registers->assign(modbus::readBlock(stepNumber).count, 0);
            modbus::readRegisters(answer.reply, *registers);
        }
        result.failedStep = 0;
        return true;
    case Outcome::Refused:
        result.status = Status::Refused;
        result.message = "блок отклонил " + stepName(stepNumber) + ": " +
                         std::string(modbus::exceptionMeaning(answer.exceptionCode)) + " (код " +
                         std::to_string(answer.exceptionCode) + ")" + accepted;
        return false;
    case Outcome::Silent:
        result.status = Status::Silent;
        result.message = "нет ответа на " + stepName(stepNumber) +
                         (answer.trouble.empty() ? "" : " (" + answer.trouble + ")") + accepted;
        return false;
    case Outcome::PortLost:
        result.status = Status::PortLost;
        result.message = "порт пропал на " + stepName(stepNumber) +
                         (answer.trouble.empty() ? "" : " (" + answer.trouble + ")") + accepted;
        return false;
    }
    return false;
}

bool UnitOperations::readStep(int stepNumber, UnitResult &result, std::vector<uint16_t> &registers)
{
    std::array<uint8_t, modbus::ReadRequestBytes> request{};
    const modbus::Block block = modbus::readBlock(stepNumber);
    modbus::buildRequest(request, address_, modbus::FunctionReadInputRegisters, block.first,
                         block.count);
    return step(stepNumber, request, result, &registers);
}

bool UnitOperations::readBlocks(UnitResult &result, SettingsSet &set, int firstProgress, int steps)
{
    std::vector<uint16_t> registers;
    for (int s = 1; s <= modbus::WriteSteps; ++s) {
        if (!readStep(s, result, registers))
            return false;
        qvoksb::registers::decodeBlock(s, registers, set);
        result.lastAccepted = s;
        progress_(firstProgress + s, steps);
    }
    return true;
}

UnitResult UnitOperations::read(bool withTrip)
{
    UnitResult result;
    result.address = address_;
    const int steps = withTrip ? modbus::LastTripStep : modbus::WriteSteps;
    SettingsSet set;
    if (!readBlocks(result, set, 0, steps))
        return result;
    set = asWindowHolds(set);
    if (withTrip) {
        std::vector<uint16_t> r;
        if (!readStep(modbus::LastTripStep, result, r))
            return result;
        const qvoksb::TripRecord trip = qvoksb::decodeTripRecord(r[0], r[1], r[2]);
        set.setText(Setting::EEvent, qvoksb::tripCauseText(trip.cause));
        set.setText(Setting::EDt, qvoksb::tripTimeText(trip));
        result.trip = trip;
        result.lastAccepted = modbus::LastTripStep;
        progress_(steps, steps);
    }
    result.settings = set;
    return result;
}

UnitResult UnitOperations::write(const SettingsSet &set, bool verify)
{
    UnitResult result;
    result.address = address_;
    const int steps = verify ? 2 * modbus::WriteSteps : modbus::WriteSteps;
    std::array<uint8_t, modbus::writeRequestBytes(qvoksb::registers::LargestBlock)> request{};
    for (int s = 1; s <= modbus::WriteSteps; ++s) {
        const size_t length = qvoksb::registers::buildWriteRequest(request, address_, s, set);
        if (!step(s, std::span(request.data(), length), result, nullptr))
            return result;
        result.lastAccepted = s;
        progress_(s, steps);
    }
    if (!verify)
        return result;
    // Read back, the unit's values are compared with what it should hold after this write.
    result.lastAccepted = 0;
    SettingsSet held;
    if (!readBlocks(result, held, modbus::WriteSteps, steps)) {
        result.lastAccepted = modbus::WriteSteps;
        result.message = "запись принята, но проверка не удалась: " + result.message;
        return result;
    }
    held = asWindowHolds(held);
    result.wanted = asWindowHolds(qvoksb::registers::asUnitHolds(set));
    result.differences = configurationDifferences(held, *result.wanted);
    result.settings = held;
    result.verified = true;
    if (!result.differences.empty()) {
        result.status = Status::Differences;
        result.message = "после записи блок хранит иное в " +
                         std::to_string(result.differences.size()) + " параметрах";
    }
    return result;
}

UnitResult UnitOperations::diff(const SettingsSet &file)
{
    UnitResult result;
    result.address = address_;
    SettingsSet held;
    if (!readBlocks(result, held, 0, modbus::WriteSteps))
        return result;
    held = asWindowHolds(held);
    // Compared with what writing the file would make the unit hold; the last-trip texts are
    // the unit's record, not settings, and are left out.
    const SettingsSet wanted = asWindowHolds(qvoksb::registers::asUnitHolds(file));
    result.differences = configurationDifferences(held, wanted);
    result.settings = held;
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
    result.address = address_;
    std::vector<uint16_t> r;
    if (!readStep(modbus::StateStep, result, r))
        return result;
    result.state = std::array<uint16_t, 2>{uint16_t(r[0] & 0x0F), uint16_t(r[1] & 0x0F)};
    progress_(1, 1);
    return result;
}

UnitResult UnitOperations::lastTrip()
{
    UnitResult result;
    result.address = address_;
    std::vector<uint16_t> r;
    if (!readStep(modbus::LastTripStep, result, r))
        return result;
    result.trip = qvoksb::decodeTripRecord(r[0], r[1], r[2]);
    progress_(1, 1);
    return result;
}

UnitResult UnitOperations::command(const CommandRow &command)
{
    UnitResult result;
    result.address = address_;
    std::array<uint8_t, modbus::ReadRequestBytes> request{};
    modbus::buildRequest(request, address_, modbus::FunctionWriteSingleRegister,
                         modbus::CommandRegister, uint16_t(command.code));
    if (step(modbus::CommandStep, request, result, nullptr))
        progress_(1, 1);
    return result;
}

} // namespace ksb7ctl
