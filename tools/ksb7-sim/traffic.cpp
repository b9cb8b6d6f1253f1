#include "traffic.h"

#include "core/modbus/modbus_rtu.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace ksb7sim
{

void refreshCrc(std::vector<uint8_t> &frame)
{
    if (frame.size() >= 2)
        qvoksb::modbus::appendCrc(frame, frame.size() - 2);
}

std::string timeStamp()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                  local.tm_sec, static_cast<int>(ms));
    return text;
}

} // namespace ksb7sim
