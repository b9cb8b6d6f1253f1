#pragma once
// Text at the border to the Win32 API, for the core's Windows files only: the core keeps its
// strings in UTF-8, Windows takes and gives UTF-16.
#include <string>

namespace qvoksb
{

// UTF-8 to UTF-16; false when the text is not valid UTF-8.
bool toWide(const std::string &utf8, std::wstring *wide);
std::string toUtf8(const std::wstring &wide);
// A GetLastError code as the user reads it, UTF-8: in Russian for the codes a port or a file
// gives in practice, whatever the machine's language; any other with its number and the
// system's own text.
std::string systemErrorText(unsigned long error);

} // namespace qvoksb
