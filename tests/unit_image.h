#pragma once
// What the unit must hold after the configuration of a window's controls was written: the
// unit's register layout, register by register and bit by bit, written out by hand from the
// unit's documents, independently of the program's register map.
#include "Main.h"

#include <QCheckBox>
#include <QComboBox>

#include <cstdint>
#include <map>

// What the unit must hold after the configuration of these controls was written: the unit's
// register layout, register by register and bit by bit.
inline std::map<int, uint16_t> unitImageOf(const TFKsb &w)
{
    const auto spin = [&](int n) { return w.spinEdit(n)->value(); };
    const auto item = [&](int n) { return w.comboBox(n)->currentIndex(); };
    const auto box = [&](int n) { return n > 0 && w.checkBox(n)->isChecked() ? 1 : 0; };
    const auto relays = [&](int off, int out1, int out2, int out3) {
        return uint16_t(box(off) | box(out1) << 1 | box(out2) << 2 | box(out3) << 3);
    };
    std::map<int, uint16_t> r;
    r[257] = uint16_t((spin(1) == 60 ? 0x0001 : 0) | (item(1) == 0 ? 0x0020 : 0) |
                      (item(1) == 1 ? 0x0040 : 0) | 0x0200 | (item(2) == 0 ? 0x0400 : 0));
    r[258] = uint16_t(spin(2));
    r[259] = uint16_t(spin(3));
    r[267] = uint16_t(spin(4) / 10);
    r[277] = relays(0, 1, 2, 3);
    r[278] = uint16_t(spin(5));
    r[279] = relays(7, 4, 5, 6);
    r[280] = uint16_t(spin(6));
    r[281] = relays(8, 9, 10, 11);
    r[282] = uint16_t(spin(7));
    r[384] = relays(12, 13, 14, 15);
    r[385] = uint16_t(spin(8));
    r[386] = uint16_t(item(3));
    r[387] = uint16_t(spin(10));
    r[388] = uint16_t(spin(9) / 10);
    r[389] = relays(16, 17, 18, 19);
    r[390] = uint16_t(spin(11));
    r[391] = uint16_t(spin(12));
    r[392] = relays(20, 21, 22, 23);
    r[393] = uint16_t(spin(13));
    r[394] = uint16_t(spin(14) / 10);
    r[395] = relays(24, 25, 26, 27);
    r[396] = uint16_t(spin(15));
    r[397] = uint16_t(item(4));
    r[398] = uint16_t(spin(17));
    r[399] = uint16_t(spin(16) / 10);
    r[400] = relays(28, 29, 30, 31);
    r[401] = uint16_t(spin(18));
    r[402] = uint16_t(spin(19));
    r[403] = relays(32, 33, 34, 35);
    r[404] = uint16_t(spin(20));
    r[405] = uint16_t(spin(21) / 10);
    r[262] = uint16_t((item(5) & 1) | (item(6) & 1) << 2 | (item(7) & 1) << 4 | (item(8) & 1) << 6);
    for (int k = 0; k < 4; ++k)
        r[263 + k] = uint16_t(spin(22 + k) / 100);
    r[269] = uint16_t((item(10) & 1) | (item(12) & 1) << 1 | (item(14) & 1) << 2);
    r[270] = uint16_t(item(9));
    r[271] = uint16_t(item(11));
    r[272] = uint16_t(item(13));
    return r;
}

