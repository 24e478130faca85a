#!/usr/bin/env bash
# Takes the README's picture of the window on Windows (docs/window-windows.png): the Windows
# build started under Wine on the Windows platform, in a Wine desktop on a virtual display that
# draws the frame as Windows does. The pictures plugin, built for Windows, saves the window from
# the screen and closes it.
set -euo pipefail
cd "$(dirname "$0")/.."
qt=$(bash tools/test-windows.sh build)
# The virtual display, and Wine's own fonts for the frame's buttons.
for package in xvfb xauth fonts-wine; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
            --no-install-recommends "$package" >/dev/null
done
cmake -S tools/shots -B build-windows-shots -G Ninja --toolchain "$PWD/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$qt" -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >/dev/null
cmake --build build-windows-shots >/dev/null

# A Wine prefix of its own, so that the settings store is empty: the caption buttons' font in
# its font folder, and the text in DejaVu Sans (Wine's Tahoma joins "fi" into one glyph).
wine=/usr/lib/wine/wine64 wineserver=/usr/lib/wine/wineserver
WINEPREFIX="$(mktemp -d /var/tmp/trasko-shotsXXXX)"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
trap '"$wineserver" -k || true; rm -rf "$WINEPREFIX"' EXIT
"$wine" wineboot --init >/dev/null 2>&1
for font in Tahoma "MS Shell Dlg" "MS Shell Dlg 2"; do
    "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /d "DejaVu Sans" /f \
        >/dev/null 2>&1
done
"$wineserver" -w
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

mkdir -p docs
WINEPATH="$qt/bin" WINEQT_PLUGIN_PATH="Z:$PWD/build-windows-shots/plugins" \
TRASKO_SHOTS_DIR="Z:$PWD/docs" TRASKO_SHOTS_NAME=window-windows.png \
    timeout 300 xvfb-run -a -s '-screen 0 1024x768x24' \
    "$wine" explorer /desktop=trasko,1024x768 "$PWD/build-windows/Trasko.exe" -plugin traskoshots
test -s docs/window-windows.png
