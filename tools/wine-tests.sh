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
for n in $(seq 16); do ln -sfn "$near" "$WINEPREFIX/dosdevices/com$n"; done
ln -sfn "$far" "$WINEPREFIX/dosdevices/com17"

export QVOKSB_TEST_FAR_PORT=17
status=0
(cd "$BUILD" && ctest --output-on-failure) || status=$?
if [ "${WINE_BENCH:-0}" = 1 ]; then
    "$WINE64" "$BUILD/bench_serial_port_win.exe" || status=$?
fi
exec 7>&- 8>&-
echo "Windows core: built in $((built - started)) s, Wine tests in $(($(date +%s) - built)) s"
exit $status
