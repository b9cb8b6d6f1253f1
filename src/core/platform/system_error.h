#pragma once
// System errors as the user reads them: in Russian, whatever the machine's language.
#include <string>

namespace qvoksb
{

// The text of an errno value, UTF-8: "нет прав доступа", "это папка", ...; an unusual code is
// named with its number.
std::string errnoText(int err);

} // namespace qvoksb
