# Shared by ./run, ./test and .ci/run: the Debian packages the build and the tests need.
# Sourced, not executed.
# The second line serves the install and packaging test (validators, man, dpkg-shlibdeps), the
# third the accessibility test (a virtual X display, the session bus, the AT-SPI registry), the
# fourth the report test (pdftotext reads the PDFs back) and socat, a transparent gateway in
# ksb7ctl's test (a TCP port passed on to a unit's pseudo-terminal).
QVOKSB_PACKAGES="build-essential cmake pkg-config qt6-base-dev qt6-base-dev-tools qt6-svg-dev \
qt6-serialport-dev qt6-translations-l10n libmodbus-dev libgtest-dev fonts-dejavu-core \
desktop-file-utils appstream man-db dpkg-dev \
xvfb dbus at-spi2-core python3-pyatspi \
poppler-utils socat"
# The Windows build of the core and its tests under Wine (tools/wine-tests.sh); Qt for Windows
# from Debian's source (tools/build-qt-windows.sh: dpkg-dev unpacks it, Ninja builds it), the
# installer (nsis), and the font that stands in for Windows' UI font under Wine (below).
QVOKSB_WINDOWS_PACKAGES="mingw-w64 g++-mingw-w64-x86-64-posix wine64 socat googletest \
dpkg-dev ninja-build nsis fonts-liberation"

# Windows draws its windows in its UI fonts (Segoe UI, Tahoma, "MS Shell Dlg"); a Wine prefix has
# none of them and falls back to the first font it finds, often a serif one without Cyrillic, in
# which nothing can be judged. Liberation Sans, with Arial's metrics, stands in for them.
# wine_ui_font WINE64 FOLDER: maps the names in the prefix $WINEPREFIX (a registry file is left in
# FOLDER), then checks with tools/wine-ui-font.c that every one is drawn sans-serif with Cyrillic.
QVOKSB_WINE_UI_FONT="Liberation Sans"
wine_ui_font() {
    local wine="$1" folder="$2" name
    {
        printf 'Windows Registry Editor Version 5.00\n\n'
        printf '[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
        for name in "MS Shell Dlg" "MS Shell Dlg 2" "Segoe UI" "Tahoma" "MS Sans Serif" "Arial"; do
            printf '"%s"="%s"\n' "$name" "$QVOKSB_WINE_UI_FONT"
        done
    } >"$folder/ui-font.reg"
    "$wine" regedit /S "Z:$(echo "$folder/ui-font.reg" | tr / '\\')" >/dev/null 2>&1
    x86_64-w64-mingw32-gcc -municode -mconsole -o "$folder/wine-ui-font.exe" \
        "$QVOKSB_ROOT/tools/wine-ui-font.c" -lgdi32 -luser32
    "$wine" "$folder/wine-ui-font.exe"
}

# ensure_packages [extra packages...]: installs what is missing when root, otherwise prints
# the one apt-get line to run and stops. QVOKSB_APT_OPTIONS adds options to apt-get install.
ensure_packages() {
    local wanted="$QVOKSB_PACKAGES $*" missing=""
    for p in $wanted; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    if [ "$(id -u)" -eq 0 ]; then
        echo "Installing:$missing"
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq ${QVOKSB_APT_OPTIONS:-} $missing >/dev/null
    else
        echo "Missing Debian packages. Run:"
        echo "  sudo apt-get install -y ${QVOKSB_APT_OPTIONS:-}$missing"
        exit 1
    fi
}

# build DIR [cmake options...]: configures and builds the project into DIR.
build() {
    local dir="$1"; shift
    cmake -S "$QVOKSB_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)"
}
