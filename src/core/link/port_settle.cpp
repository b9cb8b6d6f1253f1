#include "core/link/port_settle.h"

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

namespace qvoksb
{

namespace
{

using Clock = std::chrono::steady_clock;

std::mutex closedMutex;
std::map<std::string, Clock::time_point> closedAt;

} // namespace

void notePortClosed(const std::string &device)
{
    std::lock_guard lock(closedMutex);
    closedAt[device] = Clock::now();
}

void waitForPortToSettle(const std::string &device, int settleMs)
{
    Clock::time_point until;
    {
        std::lock_guard lock(closedMutex);
        const auto it = closedAt.find(device);
        if (it == closedAt.end())
            return;
        until = it->second + std::chrono::milliseconds(settleMs);
    }
    if (until > Clock::now())
        std::this_thread::sleep_until(until);
}

} // namespace qvoksb
