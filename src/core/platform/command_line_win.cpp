#include "core/platform/command_line.h"

#include "core/platform/win_text.h"

#include <windows.h>

#include <shellapi.h>

namespace qvoksb
{

std::vector<std::string> utf8Arguments(int argc, char **argv)
{
    int count = 0;
    wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i)
        out.push_back(toUtf8(wide[i]));
    LocalFree(wide);
    return out;
}

void useUtf8Console()
{
    SetConsoleOutputCP(CP_UTF8);
}

bool errorStreamIsTerminal()
{
    const HANDLE console = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

} // namespace qvoksb
