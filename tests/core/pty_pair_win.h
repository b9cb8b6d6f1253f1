#pragma once
// The port tests' far side under Wine. A Windows program cannot make a pseudo-terminal, so the
// runner (tools/wine-tests.sh) makes two and joins them with socat: every port COM1 ... COM16
// is the near one, and the port QVOKSB_TEST_FAR_PORT is the far one, which the test opens with
// the plain Win32 calls. The pair lives for the whole run: each test starts from purged queues.
#include <windows.h>

#include <tlhelp32.h> // after windows.h, which it needs

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace serial_test
{

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline bool runningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// COMn opened with the plain Win32 calls, raw at 9600 8N1, queues purged: a read waits up to
// firstByteMs for its first byte, a write gives up after writeMs. INVALID_HANDLE_VALUE when it
// does not open.
inline HANDLE openRawComPort(int n, DWORD firstByteMs, DWORD writeMs)
{
    const std::wstring path = L"\\\\.\\COM" + std::to_wstring(n);
    const HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return port;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = CBR_9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutX = dcb.fInX = dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
    SetCommState(port, &dcb);
    COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, firstByteMs, 0, writeMs};
    SetCommTimeouts(port, &timeouts);
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return port;
}

class PtyPair
{
public:
    explicit PtyPair(int /*port: every near port is the same device*/)
    {
        const char *farPort = std::getenv("QVOKSB_TEST_FAR_PORT");
        if (!farPort)
            throw std::runtime_error("no far port: run the tests with tools/wine-tests.sh");
        far_ = openRawComPort(std::atoi(farPort), 50, 100);
        if (far_ == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot open the far side");
    }
    ~PtyPair()
    {
        CloseHandle(far_);
        // What is still on its way through the relay lands before the next test's purge.
        Sleep(100);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    void send(const Bytes &bytes) const
    {
        size_t at = 0;
        while (at < bytes.size()) {
            DWORD written = 0;
            WriteFile(far_, bytes.data() + at, static_cast<DWORD>(bytes.size() - at), &written,
                      nullptr);
            at += written;
        }
    }
    void sendSome(const Bytes &bytes) const
    {
        DWORD written = 0;
        WriteFile(far_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        uint8_t drain[512];
        DWORD got = 0;
        ReadFile(far_, drain, sizeof drain, &got, nullptr);
    }
    Bytes receive(size_t count, int timeoutMs = 5000) const
    {
        Bytes got;
        const auto deadline = Clock::now() + milliseconds(timeoutMs);
        while (got.size() < count && Clock::now() < deadline) {
            uint8_t buf[4096];
            DWORD n = 0;
            if (ReadFile(far_, buf, sizeof buf, &n, nullptr) && n > 0)
                got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

private:
    HANDLE far_ = INVALID_HANDLE_VALUE;
};

inline double processCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME &t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

inline size_t openHandles()
{
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
}

inline size_t threadCount()
{
    size_t count = 0;
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL ok = Thread32First(snapshot, &entry); ok; ok = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    CloseHandle(snapshot);
    return count;
}

} // namespace serial_test
