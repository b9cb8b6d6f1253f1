#pragma once
// The port tests' far side on POSIX: a pseudo-terminal pair made by the test itself, the near
// side reached through a COMn link in the port directory; and the process's own figures.
#include "core/link/port_directory.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <string>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace serial_test
{

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using namespace qvoksb;

inline std::string portDir()
{
    if (!std::getenv("QVOKSB_PORT_DIR")) {
        const std::string dir =
            fs::temp_directory_path() / ("tst_serial_port-" + std::to_string(::getpid()));
        ::setenv("QVOKSB_PORT_DIR", dir.c_str(), 1);
    }
    fs::create_directories(portDirectory());
    return portDirectory();
}

// A pseudo-terminal pair with a link COMn to its near side.
class PtyPair
{
public:
    explicit PtyPair(int port) : link_(portDir() + "/" + portEntryName(port))
    {
        int slave = -1;
        char name[256];
        if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        ::close(slave);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        slavePath_ = name;
        fs::remove(link_);
        fs::create_symlink(slavePath_, link_);
    }
    ~PtyPair()
    {
        closeFar();
        std::error_code ignored;
        fs::remove(link_, ignored);
    }
    int far() const { return master_; }
    // Writes what the far side takes at once and reads away what it holds, without waiting.
    void sendSome(const Bytes &bytes) const
    {
        if (::write(master_, bytes.data(), bytes.size()) < 0) {
            pollfd p{master_, POLLOUT, 0};
            ::poll(&p, 1, 20);
        }
        uint8_t drain[512];
        [[maybe_unused]] ssize_t n = ::read(master_, drain, sizeof drain);
    }
    const std::string &nearPath() const { return slavePath_; }
    const std::string &link() const { return link_; }
    void closeFar()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }
    void send(const Bytes &bytes) const
    {
        size_t at = 0;
        while (at < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + at, bytes.size() - at);
            if (n > 0) {
                at += static_cast<size_t>(n);
            } else {
                pollfd p{master_, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }
    // Reads until count bytes arrived or the time is up.
    Bytes receive(size_t count, int timeoutMs = 5000) const
    {
        Bytes got;
        const auto deadline = Clock::now() + milliseconds(timeoutMs);
        while (got.size() < count && Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 50);
            uint8_t buf[4096];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

private:
    int master_ = -1;
    std::string slavePath_;
    std::string link_;
};

inline double processCpuMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

inline size_t entriesIn(const char *dir)
{
    size_t count = 0;
    if (DIR *d = ::opendir(dir)) {
        while (const dirent *e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++count;
        ::closedir(d);
    }
    return count;
}

inline size_t openHandles()
{
    return entriesIn("/proc/self/fd");
}

inline size_t threadCount()
{
    return entriesIn("/proc/self/task");
}

} // namespace serial_test
