// The arguments and the terminal already carry UTF-8 on the systems this program runs on.
#include "core/platform/command_line.h"

#include <unistd.h>

namespace qvoksb
{

std::vector<std::string> utf8Arguments(int argc, char **argv)
{
    return std::vector<std::string>(argv, argv + argc);
}

void useUtf8Console() {}

bool errorStreamIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

} // namespace qvoksb
