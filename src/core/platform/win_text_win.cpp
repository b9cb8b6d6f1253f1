#include "core/platform/win_text.h"

#include <windows.h>

namespace qvoksb
{

bool toWide(const std::string &utf8, std::wstring *wide)
{
    wide->clear();
    if (utf8.empty())
        return true;
    const int size = static_cast<int>(utf8.size());
    const int count =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
    if (count <= 0)
        return false;
    wide->resize(static_cast<size_t>(count));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide->data(),
                               count) == count;
}

std::string toUtf8(const std::wstring &wide)
{
    if (wide.empty())
        return {};
    const int size = static_cast<int>(wide.size());
    const int count = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (count <= 0)
        return {};
    std::string out(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, out.data(), count, nullptr, nullptr);
    return out;
}

namespace
{

// The system's own text for a code, without the trailing line break and full stop.
std::string systemMessage(unsigned long error)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::wstring text = length && buffer ? std::wstring(buffer, length) : std::wstring();
    if (buffer)
        LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.'))
        text.pop_back();
    return toUtf8(text);
}

} // namespace

std::string systemErrorText(unsigned long error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "нет такого файла, папки или устройства";
    case ERROR_ACCESS_DENIED:
        return "нет прав доступа";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return "файл или устройство заняты другой программой";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return "на диске нет места";
    case ERROR_WRITE_PROTECT:
        return "диск защищён от записи";
    case ERROR_FILENAME_EXCED_RANGE:
        return "слишком длинное имя файла";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return "файл уже существует";
    case ERROR_TOO_MANY_OPEN_FILES:
        return "открыто слишком много файлов";
    case ERROR_INVALID_PARAMETER:
        return "недопустимый аргумент";
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
    case ERROR_BAD_COMMAND:
        return "устройство не поддерживает запрошенный режим";
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_CRC:
        return "ошибка ввода-вывода";
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_NOT_READY:
        return "устройство отключено";
    case ERROR_OPERATION_ABORTED:
        return "операция прервана";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return "недостаточно памяти";
    default: {
        std::string text = "системная ошибка " + std::to_string(error);
        const std::string system = systemMessage(error);
        return system.empty() ? text : text + " (" + system + ")";
    }
    }
}

} // namespace qvoksb
