#include "core/settings/settings_origin.h"

#include <cstdio>

namespace qvoksb
{

int editsSinceOrigin(const SettingsOrigin &origin, const SettingsSet &current)
{
    int n = 0;
    for (Setting s : current.differences(origin.set))
        n += s != Setting::EEvent && s != Setting::EDt;
    return n;
}

std::string originText(const SettingsOrigin &origin, const SettingsSet &current)
{
    std::string text;
    switch (origin.kind) {
    case SettingsOrigin::Kind::Factory:
        text = "default.txt (заводская конфигурация)";
        break;
    case SettingsOrigin::Kind::File:
        text = origin.file;
        break;
    case SettingsOrigin::Kind::Unit: {
        char address[16];
        std::snprintf(address, sizeof address, "%02X", unsigned(origin.address));
        text = "прочитаны из блока " + origin.port + ", адрес " + address + ", " + origin.time;
        break;
    }
    }
    if (const int edits = editsSinceOrigin(origin, current))
        text +=
            std::string(origin.kind == SettingsOrigin::Kind::Unit ? ", изменены после чтения: "
                                                                  : ", изменены после открытия: ") +
            std::to_string(edits) + " параметров";
    return text;
}

std::string originFileStem(const SettingsOrigin &origin)
{
    if (origin.kind == SettingsOrigin::Kind::File) {
        std::string stem = origin.file;
        const std::size_t dot = stem.rfind('.');
        if (dot != std::string::npos && dot > 0)
            stem.resize(dot);
        return stem;
    }
    if (origin.kind == SettingsOrigin::Kind::Unit) {
        char address[16];
        std::snprintf(address, sizeof address, "%02X", unsigned(origin.address));
        // "08.12.2026 14:05" to "2026-12-08", so that the files sort by date.
        const std::string &t = origin.time;
        const std::string date =
            t.size() >= 10 ? t.substr(6, 4) + "-" + t.substr(3, 2) + "-" + t.substr(0, 2) : t;
        return "KSB-7 " + origin.port + " адрес " + address + " " + date;
    }
    return "KSB-7";
}

} // namespace qvoksb
