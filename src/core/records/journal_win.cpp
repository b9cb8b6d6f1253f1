// The journal's file on Windows: in the roaming application-data folder beside the program's
// other files; paths are UTF-8 here and UTF-16 to the system.
#include "core/records/journal.h"

#include "core/link/port_directory.h"
#include "core/platform/win_file.h"
#include "core/platform/win_text.h"
#include "core/records/journal_read.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <windows.h>

namespace qvoksb::journal
{
namespace
{

void setError(std::string *error, const char *what, const std::string &path, DWORD err)
{
    if (error)
        *error = std::string(what) + ' ' + path + ": " + systemErrorText(err);
}

} // namespace

std::string journalPath()
{
    return configHome() + "\\QvoKsb\\journal.jsonl";
}

std::string timeNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_s(&local, &now);
    // The offset from UTC computed, not taken from strftime's %z, which gives a zone's name here.
    std::tm utc{};
    gmtime_s(&utc, &now);
    utc.tm_isdst = local.tm_isdst;
    const long offset = long(std::difftime(std::mktime(&local), std::mktime(&utc))) / 60;
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                  local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                  local.tm_min, local.tm_sec, offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    return text;
}

bool append(const std::string &path, const Record &record, std::string *error)
{
    std::wstring wide;
    if (!toWide(path, &wide)) {
        if (error)
            *error = "не удаётся открыть журнал " + path + ": имя не в кодировке UTF-8";
        return false;
    }
    const std::size_t slash = wide.find_last_of(L"\\/");
    if (slash != std::wstring::npos)
        CreateDirectoryW(wide.substr(0, slash).c_str(), nullptr);
    FileHandle file;
    // FILE_APPEND_DATA without FILE_WRITE_DATA: every write goes to the end, whoever else
    // appends at the same time.
    file.h = CreateFileW(wide.c_str(), FILE_APPEND_DATA | GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file.h == INVALID_HANDLE_VALUE) {
        setError(error, "не удаётся открыть журнал", path, GetLastError());
        return false;
    }
    std::string line = recordLine(record) + '\n';
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file.h, &size) && size.QuadPart > 0) {
        OVERLAPPED at{};
        at.Offset = DWORD(size.QuadPart - 1);
        at.OffsetHigh = DWORD((size.QuadPart - 1) >> 32);
        char last = '\n';
        DWORD got = 0;
        if (ReadFile(file.h, &last, 1, &got, &at) && got == 1 && last != '\n')
            line.insert(0, "\n");
    }
    DWORD written = 0;
    if (!WriteFile(file.h, line.data(), DWORD(line.size()), &written, nullptr) ||
        written != line.size() || !FlushFileBuffers(file.h)) {
        setError(error, "не удаётся записать журнал", path, GetLastError());
        return false;
    }
    return true;
}

Reading read(const std::string &path, const ReadProgress &progress)
{
    Reading failed;
    failed.ok = false;
    std::wstring wide;
    if (!toWide(path, &wide)) {
        failed.problem = "не удаётся открыть журнал " + path + ": имя не в кодировке UTF-8";
        return failed;
    }
    FileHandle file(openForReading(wide));
    if (file.h == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        if (nothingThere(err))
            return {};
        setError(&failed.problem, "не удаётся открыть журнал", path, err);
        return failed;
    }
    // A disk file only: no device, pipe or console put where the journal should be.
    LARGE_INTEGER fileSize{};
    if (GetFileType(file.h) != FILE_TYPE_DISK || !GetFileSizeEx(file.h, &fileSize)) {
        failed.problem = "журнал " + path + " не прочитан: это не обычный файл";
        return failed;
    }
    // Only the end of a journal larger than the bound is read, from the line after the cut.
    const std::uint64_t size = std::uint64_t(fileSize.QuadPart);
    const std::uint64_t start = size > MaxReadBytes ? size - MaxReadBytes : 0;
    LineCollector lines(start > 0);
    std::uint64_t done = 0;
    std::string chunk(std::size_t(1) << 16, '\0');
    while (done < size - start) {
        const DWORD room = DWORD(std::min<std::uint64_t>(chunk.size(), size - start - done));
        OVERLAPPED at{};
        at.Offset = DWORD(start + done);
        at.OffsetHigh = DWORD((start + done) >> 32);
        DWORD got = 0;
        if (!ReadFile(file.h, chunk.data(), room, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            setError(&failed.problem, "не удаётся прочитать журнал", path, GetLastError());
            return failed;
        }
        if (got == 0)
            break;
        lines.feed(std::string_view(chunk.data(), got));
        done += got;
        if (progress && !progress(done, size - start))
            break;
    }
    return lines.finish();
}

} // namespace qvoksb::journal
