#!/usr/bin/env bash
# Builds the program for 64-bit Windows and packs it: Qt for Windows first when it is not built
# yet (tools/build-qt-windows.sh, into its cache folder), then qvoksb.exe, ksb7ctl.exe and the
# window suite with Qt's toolchain file, then the installer and the portable zip:
#
#   tools/build-windows.sh [build dir]       (default: build-windows)
#
# leaves <build dir>/qvoksb-<version>-win64.exe and <build dir>/qvoksb-<version>-win64.zip.
set -euo pipefail
QVOKSB_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$QVOKSB_ROOT/build-windows}"
. "$QVOKSB_ROOT/tools/deps.sh"
QVOKSB_APT_OPTIONS=--no-install-recommends ensure_packages $QVOKSB_WINDOWS_PACKAGES

started=$(date +%s)
# QVOKSB_QT_TIME_LIMIT (seconds) bounds the Qt build; when it runs out this script ends with
# status 3 and the Qt build goes on where it stopped the next time.
if [ -n "${QVOKSB_QT_TIME_LIMIT:-}" ]; then
    status=0
    timeout --kill-after=30 "$QVOKSB_QT_TIME_LIMIT" "$QVOKSB_ROOT/tools/build-qt-windows.sh" \
        >"$BUILD.qt.log" 2>&1 || status=$?
    if [ "$status" = 124 ] || [ "$status" = 137 ]; then
        echo "Qt for Windows: not ready after $QVOKSB_QT_TIME_LIMIT s, to be continued" >&2
        exit 3
    fi
    [ "$status" = 0 ] || { tail -n 40 "$BUILD.qt.log" >&2; exit "$status"; }
    qt=$(tail -n1 "$BUILD.qt.log")
else
    qt=$("$QVOKSB_ROOT/tools/build-qt-windows.sh" | tail -n1)
fi
qt_done=$(date +%s)
# Qt's toolchain file finds Qt for Windows and the build machine's Qt tools (moc, rcc, uic);
# the compilers come from the chain-loaded mingw-w64 toolchain file.
cmake -S "$QVOKSB_ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$QVOKSB_ROOT/cmake/mingw-w64-x86_64.cmake" \
    -DQVOKSB_WERROR=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
(cd "$BUILD" && cpack -G "NSIS;ZIP" >/dev/null)
echo "Windows program: Qt ready in $((qt_done - started)) s, program and packages in $(($(date +%s) - qt_done)) s"
ls "$BUILD"/qvoksb-*-win64.exe "$BUILD"/qvoksb-*-win64.zip
