#pragma once
// Files through the Win32 API, for the core's Windows files only.
#include <string>

#include <windows.h>

namespace qvoksb
{

// Closes the handle when it goes out of scope.
struct FileHandle {
    HANDLE h = INVALID_HANDLE_VALUE;
    FileHandle() = default;
    explicit FileHandle(HANDLE handle) : h(handle) {}
    FileHandle(const FileHandle &) = delete;
    FileHandle &operator=(const FileHandle &) = delete;
    ~FileHandle() { close(); }
    bool close()
    {
        const bool ok = h == INVALID_HANDLE_VALUE || CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
        return ok;
    }
};

// Opens an existing file to read it; others may go on reading, writing, renaming and deleting it
// meanwhile, as they may with a file opened by the C library.
inline HANDLE openForReading(const std::wstring &path)
{
    return CreateFileW(path.c_str(), GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Whether a failed open's code says that nothing is there: no such file, or a folder on the way
// to it is missing.
inline bool nothingThere(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

} // namespace qvoksb
