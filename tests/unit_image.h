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
    for (int e = 0; e < 2; ++e) { // phase (384..394), earth (395..405)
        const int base = 384 + 11 * e, box = 12 + 12 * e, s = 8 + 7 * e;
        r[base] = relays(box, box + 1, box + 2, box + 3);
        r[base + 1] = uint16_t(spin(s));     // time stage threshold
        r[base + 2] = uint16_t(item(3 + e)); // its curve
        r[base + 3] = uint16_t(spin(s + 2)); // the multiplier, as shown
        r[base + 4] = uint16_t(spin(s + 1) / 10);
        r[base + 5] = relays(box + 4, box + 5, box + 6, box + 7);
        r[base + 6] = uint16_t(spin(s + 3)); // cut-off threshold and delay
        r[base + 7] = uint16_t(spin(s + 4));
        r[base + 8] = relays(box + 8, box + 9, box + 10, box + 11);
        r[base + 9] = uint16_t(spin(s + 5)); // alarm threshold and delay
        r[base + 10] = uint16_t(spin(s + 6) / 10);
    }
    r[262] = uint16_t((item(5) & 1) | (item(6) & 1) << 2 | (item(7) & 1) << 4 | (item(8) & 1) << 6);
    for (int k = 0; k < 4; ++k)
        r[263 + k] = uint16_t(spin(22 + k) / 100);
    r[269] = uint16_t((item(10) & 1) | (item(12) & 1) << 1 | (item(14) & 1) << 2);
    r[270] = uint16_t(item(9));
    r[271] = uint16_t(item(11));
    r[272] = uint16_t(item(13));
    return r;
}

