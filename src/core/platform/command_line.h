#pragma once
// A command-line program's arguments and console in the core's own text, UTF-8: on Windows the
// arguments come from the wide command line (the 8-bit one is in the machine's code page, where a
// Cyrillic file name may not even fit) and the console is switched to UTF-8 output.
#include <string>
#include <vector>

namespace qvoksb
{

std::vector<std::string> utf8Arguments(int argc, char **argv);
void useUtf8Console();
// True when the error stream is a terminal that takes the escape sequences which rewrite a line.
bool errorStreamIsTerminal();

} // namespace qvoksb
