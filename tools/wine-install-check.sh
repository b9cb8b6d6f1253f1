#!/usr/bin/env bash
# Installs the Windows installer silently into a throw-away Wine prefix, as a user's /S install
# would, checks what it put in place (the program, Qt's plugins, the Russian translations, the
# Start-menu entry, the uninstaller), starts the installed program on a virtual display and waits
# for its main window, then uninstalls it silently and checks that the folder is gone.
#
#   tools/wine-install-check.sh INSTALLER [SCREENSHOT.png]
#
# With a second argument the main window is kept as a PNG (the picture in docs/).
set -euo pipefail
if [ "${1:-}" != --on-display ]; then
    [ $# -ge 1 ] || { echo "usage: $0 INSTALLER [SCREENSHOT.png]" >&2; exit 2; }
    QVOKSB_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
    . "$QVOKSB_ROOT/tools/deps.sh"
    QVOKSB_APT_OPTIONS=--no-install-recommends ensure_packages $QVOKSB_WINDOWS_PACKAGES \
        xvfb xauth x11-utils x11-apps netpbm
    installer=$(readlink -f "$1")
    shot=""
    [ $# -ge 2 ] && shot=$(readlink -m "$2")
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --on-display "$installer" "$shot"
fi
installer=$2
shot=$3
QVOKSB_ROOT="$(cd "$(dirname "$0")/.." && pwd)"
. "$QVOKSB_ROOT/tools/deps.sh"

WINE64=$(command -v wine64 || echo /usr/lib/wine/wine64)
WINESERVER=$(command -v wineserver || echo "$(dirname "$WINE64")/wineserver")
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    "$WINESERVER" -k 2>/dev/null || true
    "$WINESERVER" -w 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "install check: $*" >&2
    exit 1
}

started=$(date +%s)
"$WINE64" wineboot -i >/dev/null 2>&1
# The installed program drawn in a stand-in for Windows' UI font, as a user would see it.
wine_ui_font "$WINE64" "$work" || fail "the prefix has no sans-serif UI font with Cyrillic"
"$WINE64" "$installer" /S >/dev/null 2>&1 || fail "the installer ended with $?"
"$WINESERVER" -w

folder="$WINEPREFIX/drive_c/Program Files/QvoKsb"
for f in qvoksb.exe ksb7ctl.exe Qt6Core.dll Qt6Widgets.dll Qt6PrintSupport.dll \
    qt.conf plugins/platforms/qwindows.dll plugins/styles/qwindowsvistastyle.dll Uninstall.exe; do
    [ -f "$folder/$f" ] || fail "not installed: $f"
done
ls "$folder"/translations/*ru*.qm >/dev/null 2>&1 || fail "no Russian translations"
menu=$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name '*.lnk' | head -n 1)
[ -n "$menu" ] || fail "no Start-menu entry"
echo "installed in $((($(date +%s) - started))) s: $(du -sh "$folder" | cut -f1) in C:\\Program Files\\QvoKsb," \
    "Start menu: ${menu##*/Programs/}"

# The installed program, started as from the Start menu, on the display's own Qt platform.
(cd "$folder" && "$WINE64" qvoksb.exe >/dev/null 2>&1 &)
title="Конфигуратор KSB-7."
for _ in $(seq 120); do
    xwininfo -root -tree 2>/dev/null | grep -qF "\"$title\"" && break
    sleep 0.5
done
xwininfo -root -tree | grep -qF "\"$title\"" || fail "the installed program shows no main window"
echo "the installed program shows its main window after $((($(date +%s) - started))) s"
if [ -n "$shot" ]; then
    sleep 15 # the start-up picture (five seconds) goes, the window finishes drawing
    xwd -silent -root | xwdtopnm 2>/dev/null | pnmcrop -black 2>/dev/null | pnmtopng >"$shot"
    echo "main window kept in $shot"
fi
"$WINESERVER" -k 2>/dev/null || true
"$WINESERVER" -w 2>/dev/null || true

# The uninstaller, silent. It copies itself out of the folder and runs from there, so that it
# can delete itself and the folder too; the Wine server's wait covers that copy's run.
"$WINE64" "$folder/Uninstall.exe" /S >/dev/null 2>&1 || true
"$WINESERVER" -w
if [ -e "$folder" ]; then
    fail "the uninstaller left the folder with: $(cd "$folder" && find . -mindepth 1 | head -n 20 | tr '\n' ' ')"
fi
[ -z "$(find "$WINEPREFIX/drive_c" -path '*Start Menu*' -name '*.lnk' | head -n 1)" ] ||
    fail "the uninstaller left the Start-menu entry"
echo "uninstalled"
