// Profile files on disk, Windows: reading whole files and saving them atomically. Paths come in
// UTF-8 and go to the system in UTF-16, so Cyrillic folder and file names work whatever the
// system's code page.
#include "core/files/profile_file.h"

#include "core/files/profile_file_read.h"
#include "core/platform/win_file.h"
#include "core/platform/win_text.h"

#include <algorithm>

#include <windows.h>

namespace qvoksb
{
namespace
{

std::string systemError(const char *what, const std::string &path, DWORD err)
{
    return std::string(what) + ' ' + path + ": " + systemErrorText(err);
}

void setError(std::string *error, std::string text)
{
    if (error)
        *error = std::move(text);
}

bool writeAll(HANDLE h, std::string_view data)
{
    while (!data.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(h, data.data(), chunk, &written, nullptr))
            return false;
        data.remove_prefix(written);
    }
    return true;
}

// The folder part of a path, with either separator; "." for a bare name.
std::wstring folderOf(const std::wstring &path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos)
        return L".";
    return path.substr(0, slash + 1);
}

std::wstring baseOf(const std::wstring &path)
{
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

} // namespace

bool ProfileFile::load(const std::string &path, std::string *error, bool *missing)
{
    if (missing)
        *missing = false;
    std::wstring wide;
    if (!toWide(path, &wide)) {
        setError(error, "не удаётся открыть " + path + ": имя не в кодировке UTF-8");
        return false;
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        setError(error, "не удаётся прочитать " + path + ": это папка, а не файл");
        return false;
    }
    FileHandle file(openForReading(wide));
    if (file.h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (nothingThere(err)) {
            if (missing)
                *missing = true;
            *this = ProfileFile();
            return true;
        }
        setError(error, systemError("не удаётся открыть", path, err));
        return false;
    }
    // A device name (NUL, CON, COM1) or a pipe is no profile.
    if (GetFileType(file.h) != FILE_TYPE_DISK) {
        setError(error, "не удаётся прочитать " + path + ": это не обычный файл");
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.h, &size)) {
        setError(error, systemError("не удаётся прочитать", path, GetLastError()));
        return false;
    }
    std::string bytes;
    const bool read = readProfileBytes(
        path, static_cast<std::uint64_t>(size.QuadPart),
        [&](char *into, std::size_t room) -> std::ptrdiff_t {
            DWORD got = 0;
            if (ReadFile(file.h, into, static_cast<DWORD>(room), &got, nullptr))
                return static_cast<std::ptrdiff_t>(got);
            setError(error, systemError("не удаётся прочитать", path, GetLastError()));
            return -1;
        },
        bytes, error);
    if (!read)
        return false;
    *this = parse(bytes);
    return true;
}

std::string fileWriteProblem(const std::string &path)
{
    std::wstring wide;
    if (path.empty() || !toWide(path, &wide))
        return systemErrorText(ERROR_INVALID_NAME);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return "это папка, а не файл";
        if (attributes & FILE_ATTRIBUTE_READONLY)
            return systemErrorText(ERROR_ACCESS_DENIED);
    } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
        return systemErrorText(GetLastError());
    }
    const std::size_t slash = wide.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : wide.substr(0, slash + 1);
    const std::wstring probe = folder + L".write-test-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS ? std::string()
                                                   : systemErrorText(GetLastError());
    CloseHandle(file);
    return {};
}

bool saveFileAtomically(const std::string &path, std::string_view text, std::string *error)
{
    std::wstring target;
    if (path.empty() || !toWide(path, &target)) {
        setError(error, "не удаётся записать " + path + ": это не имя файла");
        return false;
    }
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            setError(error, "не удаётся записать " + path + ": это папка, а не файл");
            return false;
        }
        // A read-only file is refused, as the system's own profile writer refuses it.
        if (attributes & FILE_ATTRIBUTE_READONLY) {
            setError(error, systemError("не удаётся записать", path, ERROR_ACCESS_DENIED));
            return false;
        }
    }

    const std::wstring folder = folderOf(target);
    // "~NAME.PID-N.tmp", with NAME cut short where the whole would pass the 255 characters a
    // name may have, so that any name the target may have can be saved.
    const std::wstring pid = L"." + std::to_wstring(GetCurrentProcessId()) + L"-";
    std::wstring base = baseOf(target);
    const std::size_t room = 255 - (1 + pid.size() + 2 + 4);
    if (base.size() > room) {
        base.resize(room);
        if (!base.empty() && base.back() >= 0xD800 && base.back() <= 0xDBFF)
            base.pop_back(); // not half of a surrogate pair
    }
    const std::wstring stem = folder + L"~" + base + pid;
    std::wstring temp;
    FileHandle file;
    DWORD err = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; file.h == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
        temp = stem + std::to_wstring(attempt) + L".tmp";
        file.h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        err = GetLastError();
        if (file.h == INVALID_HANDLE_VALUE && err != ERROR_FILE_EXISTS &&
            err != ERROR_ALREADY_EXISTS)
            break;
    }
    if (file.h == INVALID_HANDLE_VALUE) {
        setError(error,
                 systemError("не удаётся создать временный файл в папке", toUtf8(folder), err));
        return false;
    }

    const auto fail = [&](const char *what, DWORD code) {
        file.close();
        DeleteFileW(temp.c_str());
        setError(error, systemError(what, path, code));
        return false;
    };
    if (!writeAll(file.h, text))
        return fail("не удаётся записать", GetLastError());
    if (!FlushFileBuffers(file.h))
        return fail("не удаётся сохранить на диск", GetLastError());
    if (!file.close())
        return fail("не удаётся записать", GetLastError());
    // The replaced file's hidden, system and archive marks stay with the name.
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(
            temp.c_str(),
            attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE));
    // One rename on the same volume: the target is either the old file or the new one.
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail("не удаётся заменить", GetLastError());
    return true;
}

} // namespace qvoksb
