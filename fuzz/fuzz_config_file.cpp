// Configuration-file reader on arbitrary bytes: a file it accepts must hold a valid set, which
// writes out and reads back as the same set; a file it refuses must say why.
#include "core/records/config_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace
{

void check(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_config_file: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const qvoksb::ConfigFileReading reading = qvoksb::parseConfigFile(bytes);
    if (!reading.ok) {
        check(!reading.problem.empty(), "a refused file without a reason");
        return 0;
    }
    for (const qvoksb::SettingRow &r : qvoksb::settingsCatalogue()) {
        const int v = reading.set.value(r.id);
        if (r.kind != qvoksb::Kind::Text)
            check(v >= r.min && v <= r.max, "a value outside its setting's range");
    }
    const qvoksb::ConfigFileReading back =
        qvoksb::parseConfigFile(qvoksb::configFileBytes(reading.set));
    check(back.ok, "a written file does not read back");
    check(back.set == reading.set, "a set changed on its way through a file");
    return 0;
}
