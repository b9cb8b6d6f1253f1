#pragma once
// Writing past the process's file size limit (ulimit -f, RLIMIT_FSIZE) on POSIX.
#include <cerrno>
#include <csignal>
#include <ctime>

#include <pthread.h>

namespace qvoksb
{

// Writing past the process's file size limit raises SIGXFSZ, which ends the process unless it is
// blocked; blocked, the write fails with EFBIG instead. While a guard lives the signal is blocked
// for this thread, and a signal its writes raised is taken off the pending set before the old mask
// comes back, so it is never delivered.
class FileSizeSignalGuard
{
public:
    FileSizeSignalGuard()
    {
        sigemptyset(&xfsz_);
        sigaddset(&xfsz_, SIGXFSZ);
        sigset_t pending;
        sigemptyset(&pending);
        blocked_ = pthread_sigmask(SIG_BLOCK, &xfsz_, &old_) == 0;
        // One already pending before the save is not ours to swallow.
        if (blocked_ && sigpending(&pending) == 0)
            wasPending_ = sigismember(&pending, SIGXFSZ) == 1;
    }
    ~FileSizeSignalGuard()
    {
        if (!blocked_)
            return;
        sigset_t pending;
        sigemptyset(&pending);
        if (!wasPending_ && sigpending(&pending) == 0 && sigismember(&pending, SIGXFSZ) == 1) {
            const timespec now{0, 0};
            while (sigtimedwait(&xfsz_, nullptr, &now) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    FileSizeSignalGuard(const FileSizeSignalGuard &) = delete;
    FileSizeSignalGuard &operator=(const FileSizeSignalGuard &) = delete;

private:
    sigset_t xfsz_;
    sigset_t old_;
    bool blocked_ = false;
    bool wasPending_ = false;
};

} // namespace qvoksb
