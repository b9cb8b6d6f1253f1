#!/usr/bin/env bash
# Builds the Qt-free core and its tests for 64-bit Windows with mingw-w64 and runs them under
# Wine, headless, in a throw-away Wine prefix.
#
# The port tests need a serial line: two pseudo-terminals joined by socat. Every port COM1 ...
# COM16 is the near one, COM17 the far one, which the tests drive with plain Win32 calls. This
# script holds both open itself, so that socat never sees them hang up between tests. No display
# is needed: the tests are console programs.
#
#   tools/wine-tests.sh [build dir]          (default: build-win)
#   WINE_BENCH=1 tools/wine-tests.sh         also prints the port layer's figures under Wine
#   WINDOWS_PROGRAM_BUILD=dir SIM=ksb7-sim tools/wine-tests.sh
#       then also the window suites of the Windows program built in dir (tools/build-windows.sh),
#       with the build machine's simulated unit SIM on COM1
set -euo pipefail
QVOKSB_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$QVOKSB_ROOT/build-win}"
started=$(date +%s)
. "$QVOKSB_ROOT/tools/deps.sh"
# Wine's recommended packages (graphics, sound, fonts) are not needed by console programs.
QVOKSB_APT_OPTIONS=--no-install-recommends ensure_packages $QVOKSB_WINDOWS_PACKAGES

cmake --no-warn-unused-cli -S "$QVOKSB_ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$QVOKSB_ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DQVOKSB_CORE_ONLY=ON -DQVOKSB_GTEST_SOURCE_DIR=/usr/src/googletest -DQVOKSB_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
built=$(date +%s)

WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo "$(dirname "$WINE64")/wineserver")
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
socat_pid=""
cleanup() {
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null || true
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$WINEPREFIX"
"$WINESERVER" -p 60 >/dev/null 2>&1 # one server for the whole run, so the links below stay
"$WINE64" wineboot -i >/dev/null 2>&1
# The window suites are drawn, and their captions measured, in a stand-in for Windows' UI font.
wine_ui_font "$WINE64" "$work"

socat pty,raw,echo=0,link="$work/near" pty,raw,echo=0,link="$work/far" &
socat_pid=$!
for _ in $(seq 50); do [ -c "$work/near" ] && [ -c "$work/far" ] && break; sleep 0.1; done
if ! [ -c "$work/near" ] || ! [ -c "$work/far" ]; then
    echo "socat made no pseudo-terminal pair" >&2
    exit 1
fi
exec 7<>"$work/near" 8<>"$work/far"
near=$(readlink -f "$work/near")
far=$(readlink -f "$work/far")

# The ports' devices: Wine's registry names them (its mount manager makes the links from there
# whenever it starts), and the links are made at once for the server already running.
{
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
    for n in $(seq 16); do printf '"COM%d"="%s"\n' "$n" "$near"; done
    printf '"COM17"="%s"\n' "$far"
} >"$work/ports.reg"
"$WINE64" regedit /S "Z:$(echo "$work/ports.reg" | tr / '\\')" >/dev/null 2>&1
# The mount manager reads the ports when it starts: a restart of the server lists them in
# HARDWARE\DEVICEMAP\SERIALCOMM too, where programs look for the ports present.
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true
"$WINESERVER" -p 60 >/dev/null 2>&1
"$WINE64" wineboot >/dev/null 2>&1
for n in $(seq 16); do ln -sfn "$near" "$WINEPREFIX/dosdevices/com$n"; done
ln -sfn "$far" "$WINEPREFIX/dosdevices/com17"

export QVOKSB_TEST_FAR_PORT=17
# The network link's Winsock half reaches a simulated unit of the build machine through its two
# gateways on the loopback address, on ports ksb7-sim picks and prints.
gateway_sim="${SIM:-$QVOKSB_ROOT/build/ksb7-sim}"
gateway_pid=""
if [ -x "$gateway_sim" ]; then
    mkdir -p "$work/gateway"
    QVOKSB_PORT_DIR="$work/gateway" "$gateway_sim" --port 1 --quiet --tcp 0 --modbus-tcp 0 \
        >"$work/gateway.out" &
    gateway_pid=$!
    for _ in $(seq 50); do grep -q 'gateway modbus-tcp://' "$work/gateway.out" && break; sleep 0.1; done
    export QVOKSB_TEST_GATEWAY_TCP=$(sed -n 's|^ksb7-sim: gateway tcp://127.0.0.1:||p' "$work/gateway.out")
    export QVOKSB_TEST_GATEWAY_MODBUS_TCP=$(sed -n 's|^ksb7-sim: gateway modbus-tcp://127.0.0.1:||p' "$work/gateway.out")
    # A second unit whose line goes for good halfway through its first reply: its gateway
    # passes on the half and closes the connection.
    QVOKSB_PORT_DIR="$work/gateway" "$gateway_sim" --port 2 --quiet --vanish 1 \
        --vanish-downtime -1 --modbus-tcp 0 >"$work/closing.out" &
    gateway_pid="$gateway_pid $!"
    for _ in $(seq 50); do grep -q 'gateway modbus-tcp://' "$work/closing.out" && break; sleep 0.1; done
    export QVOKSB_TEST_GATEWAY_CLOSING=$(sed -n 's|^ksb7-sim: gateway modbus-tcp://127.0.0.1:||p' "$work/closing.out")
else
    echo "No ksb7-sim at $gateway_sim: the network link's tests against it are skipped"
fi
status=0
(cd "$BUILD" && ctest --output-on-failure) || status=$?
[ -n "$gateway_pid" ] && kill $gateway_pid 2>/dev/null || true
if [ "${WINE_BENCH:-0}" = 1 ]; then
    "$WINE64" "$BUILD/bench_serial_port_win.exe" || status=$?
fi

# The window suite: COM1 now leads to the simulated unit, a program of the build machine on a
# pseudo-terminal of its own. It starts with a threshold off the factory value, so that writing
# the factory settings has something to change.
gui_started=$(date +%s)
if [ -n "${WINDOWS_PROGRAM_BUILD:-}" ]; then
    mkdir -p "$work/sim"
    QVOKSB_PORT_DIR="$work/sim" "${SIM:-$QVOKSB_ROOT/build/ksb7-sim}" --port 1 --quiet \
        --set 385=120 &
    sim_pid=$!
    for _ in $(seq 50); do [ -c "$work/sim/COM1" ] && break; sleep 0.1; done
    unit=$(readlink -f "$work/sim/COM1")
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n"COM1"="%s"\n' \
        "$unit" >"$work/unit.reg"
    # Wine hands no QT_* variable of the build machine to a Windows program, so the window suite's
    # Qt settings go into the prefix's own environment: the minimal platform (no display needed;
    # this Qt has no offscreen plugin), the plugins of the Qt the suite was built with, and Qt's
    # messages on stderr instead of a message box that nobody would close.
    qt_prefix=$(sed -n 's|^Qt6_DIR:PATH=\(.*\)/lib/cmake/Qt6$|\1|p' "$WINDOWS_PROGRAM_BUILD/CMakeCache.txt")
    {
        printf '\n[HKEY_CURRENT_USER\\Environment]\n"QT_QPA_PLATFORM"="minimal"\n'
        printf '"QT_FORCE_STDERR_LOGGING"="1"\n"QT_PLUGIN_PATH"="Z:%s"\n' \
            "$(echo "$qt_prefix/plugins" | sed 's|/|\\\\|g')"
    } >>"$work/unit.reg"
    "$WINE64" regedit /S "Z:$(echo "$work/unit.reg" | tr / '\\')" >/dev/null 2>&1
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    "$WINESERVER" -p 60 >/dev/null 2>&1
    "$WINE64" wineboot >/dev/null 2>&1
    ln -sfn "$unit" "$WINEPREFIX/dosdevices/com1"
    (cd "$WINDOWS_PROGRAM_BUILD" && QVOKSB_TEST_UNIT_ON_COM1=1 ctest -V -R "^tst_") || status=$?
    # ksb7ctl.exe with a file name the machine's 8-bit code page need not hold: the unit read
    # into a folder with a Russian name, then compared with what it holds (0: no difference).
    mkdir -p "$WINEPREFIX/drive_c/Подстанция 110"
    ctl_file='C:\Подстанция 110\ячейка 5.txt'
    if "$WINE64" "$WINDOWS_PROGRAM_BUILD/ksb7ctl.exe" --port COM1 --no-journal read -o "$ctl_file" \
        >/dev/null && [ -s "$WINEPREFIX/drive_c/Подстанция 110/ячейка 5.txt" ] &&
        "$WINE64" "$WINDOWS_PROGRAM_BUILD/ksb7ctl.exe" --port COM1 --no-journal diff "$ctl_file"; then
        echo "ksb7ctl.exe: read into a folder with a Russian name and compared: passed"
    else
        echo "ksb7ctl.exe: read into a folder with a Russian name and compared: FAILED"
        status=1
    fi
    kill "$sim_pid" 2>/dev/null || true
    # Not built for Windows, each for its reason.
    echo "Skipped under Wine: tst_compare tst_exchange tst_exchange_faults tst_traffic_log" \
        "tst_register_map (the simulated unit runs in the test's process on a POSIX pseudo-terminal);" \
        "tst_configfile (POSIX file-system cases: resource limits, symbolic links, devices);" \
        "tst_settings_report (reads the PDF back with the build machine's pdftotext);" \
        "tst_port_chooser (the port folder's links, which Windows does not have);" \
        "tst_work_journal (runs the build machine's ksb7ctl beside the window)"
fi
exec 7>&- 8>&-
echo "Windows core: built in $((built - started)) s, Wine tests in $((gui_started - built)) s"
[ -n "${WINDOWS_PROGRAM_BUILD:-}" ] && echo "Windows window suite under Wine: $(($(date +%s) - gui_started)) s"
exit $status
