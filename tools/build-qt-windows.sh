#!/bin/bash
# Cross-builds Qt for 64-bit Windows from Debian's own qtbase source package, with the mingw-w64
# compilers (posix thread model), as shared libraries in Release, and installs it into a versioned
# cache folder outside the checkout:
#
#   ${QVOKSB_QT_WINDOWS_CACHE:-$HOME/.cache/qvoksb}/qt-<version>-mingw64
#
# The folder is rebuilt only when it is missing, so a second run returns at once. The host tools
# (moc, uic, rcc) come from Debian's host Qt of the same version (qt6-base-dev), which must be
# installed. Prints the install folder on the last line of its output.
#
#   tools/build-qt-windows.sh [-jN]
#
# Getting the source adds a deb-src entry in a sources file of its own for the time of the
# download and removes it afterwards; that part needs root. A failed build resumes where it
# stopped when the script is run again (the build folder beside the install folder is kept until
# the install succeeds).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
jobs="-j$(nproc)"
for a in "$@"; do
    case "$a" in
    -j*) jobs="$a" ;;
    *) echo "usage: $0 [-jN]" >&2; exit 2 ;;
    esac
done

debver="$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)"
if [ -z "$debver" ]; then
    echo "qt6-base-dev (the host Qt) is not installed" >&2
    exit 1
fi
# 6.4.2+dfsg-10 -> 6.4.2
version="${debver%%+*}"
version="${version%%-*}"
cache="${QVOKSB_QT_WINDOWS_CACHE:-$HOME/.cache/qvoksb}"
prefix="$cache/qt-$version-mingw64"
work="$cache/qt-$version-mingw64.build"

if [ -f "$prefix/.complete" ]; then
    echo "Qt $version for Windows already built"
    echo "$prefix"
    exit 0
fi

start=$(date +%s)
mkdir -p "$work"

# The source of exactly the host Qt's version.
src="$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)"
if [ -z "$src" ] || [ ! -f "$src/CMakeLists.txt" ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "Getting qtbase's source needs root (it adds a deb-src entry for apt-get). Run as root," >&2
        echo "or put an unpacked qt6-base-$version source folder into $work." >&2
        exit 1
    fi
    list=/etc/apt/sources.list.d/qvoksb-qt-source.sources
    trap 'rm -f "$list"' EXIT
    # The same suites the binary packages come from, as source.
    cat >"$list" <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    apt-get update -qq
    (cd "$work" && apt-get source -qq --only-source "qt6-base=$debver")
    rm -f "$list"
    trap - EXIT
    src="$(find "$work" -maxdepth 1 -type d -name 'qt6-base-*' | head -n1)"
fi
echo "Source: $src"

# Without Direct2D, qtbase 6.4 builds neither the DirectWrite font engine nor its font database
# into QtGui, yet the Windows print engine and platform plugin still refer to them: that code
# serves fonts QtGui can then never make, so it goes (Windows' own GDI font engine draws).
sed -i -E 's/^#if QT_CONFIG\((directwrite3?)\)$/#if QT_CONFIG(\1) \&\& QT_CONFIG(direct2d)/' \
    "$src/src/printsupport/platform/windows/qprintengine_win.cpp" \
    "$src/src/plugins/platforms/windows/qwindowsintegration.cpp"

# The toolchain file goes with the installed Qt, so that its qt.toolchain.cmake keeps working
# whatever checkout it is used from.
mkdir -p "$prefix"
cp "$root/cmake/mingw-w64-x86_64.cmake" "$prefix/mingw-w64-x86_64.cmake"

build="$work/build"
# Bundled third-party libraries (none of Debian's Linux libraries fit a Windows build).
# Debian's source leaves out the Wacom tablet headers, hence no tablet events. OpenGL stays on:
# the Windows platform plugin of this version does not build without it (dynamic OpenGL).
# Left out, as the program needs none of them: the Direct2D platform plugin, FreeType (Windows
# draws text with its own font engine), JPEG pictures.
options=(
    -DCMAKE_TOOLCHAIN_FILE="$prefix/mingw-w64-x86_64.cmake"
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DCMAKE_INSTALL_PREFIX="$prefix"
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DQT_BUILD_MANUAL_TESTS=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_system_libb2=OFF
    -DFEATURE_system_md4c=OFF -DFEATURE_system_sqlite=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF
    -DFEATURE_direct2d=OFF -DFEATURE_freetype=OFF -DFEATURE_jpeg=OFF
    -DINPUT_opengl=dynamic
)
# Configured afresh when the options changed since the last run; otherwise ninja goes on where it
# stopped.
if [ ! -f "$build/build.ninja" ] || [ "$(cat "$work/options" 2>/dev/null)" != "${options[*]}" ]; then
    cmake -S "$src" -B "$build" -G Ninja "${options[@]}"
    echo "${options[*]}" >"$work/options"
fi
cmake --build "$build" -- "$jobs"
cmake --install "$build"

touch "$prefix/.complete"
rm -rf "$work"
end=$(date +%s)
echo "Qt $version for Windows built in $(((end - start) / 60)) min $(((end - start) % 60)) s"
echo "$prefix"
