#pragma once
// A GUI thread for programs without a toolkit: the port posts its events into a queue and the
// thread that plays the GUI thread runs them, as the port tests and the Windows port bench do.
#include "core/link/serial_port.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace serial_test
{

// The GUI thread's event queue, run by the thread that plays the GUI thread.
class QueuedHandOff : public qvoksb::GuiHandOff
{
public:
    bool post(std::function<void()> task) override
    {
        std::lock_guard lock(mutex_);
        if (gone_)
            return false;
        tasks_.push_back(std::move(task));
        posted_++;
        wake_.notify_all();
        return true;
    }
    // Runs tasks until pred holds or the time is up; true when pred holds.
    template <class Pred> bool runUntil(Pred pred, int timeoutMs = 5000)
    {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!pred()) {
            std::function<void()> task;
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait_until(lock, deadline, [&] { return !tasks_.empty(); }))
                    return pred();
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
        }
        return true;
    }
    void runFor(int ms)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        runUntil([&] { return std::chrono::steady_clock::now() >= until; }, ms + 50);
    }
    // Waits, without running anything, until a task is queued.
    bool waitForQueued(int timeoutMs = 5000)
    {
        std::unique_lock lock(mutex_);
        return wake_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return !tasks_.empty(); });
    }
    void setGone(bool gone)
    {
        std::lock_guard lock(mutex_);
        gone_ = gone;
    }
    // Destroys the queued tasks unrun, as a toolkit does when their context object goes away.
    void dropQueued()
    {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(mutex_);
            dropped.swap(tasks_);
        }
    }
    size_t posted() const
    {
        std::lock_guard lock(mutex_);
        return posted_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    size_t posted_ = 0;
    bool gone_ = false;
};

} // namespace serial_test
