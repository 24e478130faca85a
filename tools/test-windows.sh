#!/usr/bin/env bash
# The Windows side in one command: installs the cross toolchain, Wine and NSIS from Debian,
# builds Qt for Windows from Debian's own source once (cached outside the repo), cross-builds
# Trasko, runs its Windows tests under Wine and builds the installer.
#   bash tools/test-windows.sh        everything
#   bash tools/test-windows.sh qt     only the toolchain and Qt (the long part, cached)
#   bash tools/test-windows.sh build  Qt and Trasko, no tests
# The last two print the prefix of Qt for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD

qt_cache_root=${TRASKO_QT_CACHE:-/var/cache/trasko/qt-windows}
work_root=${TRASKO_WINDOWS_WORK:-/var/tmp/trasko-windows}
build_dir=$repo/build-windows

log() { printf '== %s\n' "$*" >&2; }

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

apt_get() {
    # Another set-up (the Linux side, a second work tree) may hold the package lock a while.
    DEBIAN_FRONTEND=noninteractive as_root apt-get -o DPkg::Lock::Timeout=900 "$@"
}

install_packages() {
    local packages=(
        cmake ninja-build pkg-config qt6-base-dev qt6-base-dev-tools
        # lupdate and lrelease, which run here, and the toolkit's texts installed beside it.
        qt6-tools-dev qt6-l10n-tools qt6-translations-l10n
        # The digest of the verify phase, built in from its header.
        libxxhash-dev
        # The cross compiler with the posix thread model, and what unpacks a source package.
        g++-mingw-w64-x86-64-posix dpkg-dev xz-utils
        # What runs and packs the result: Wine, NSIS, and a reader of the version record.
        wine64 nsis python3-pefile
        # Fonts for the offscreen platform, which on Windows reads them from a folder.
        fonts-dejavu-core
    )
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    if ((${#missing[@]})); then
        apt_get update -qq
        apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
    fi
}

add_source_archive() {
    local sources=/etc/apt/sources.list.d/trasko-bookworm-src.sources
    if [ ! -e "$sources" ]; then
        # Qt for Windows is built from the very source of the host's Qt, so the host's moc,
        # rcc and uic match it.
        as_root tee "$sources" >/dev/null <<'SOURCES'
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
SOURCES
    fi
    apt_get update -qq
}

# The recipe: what the program needs of Qt and no more; shared libraries; the third-party
# libraries bundled, since MinGW has none of them.
qt_options=(
    -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF
    -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_xml=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_vulkan=OFF -DFEATURE_jpeg=OFF -DFEATURE_icu=OFF
    # Without the input switch dynamic OpenGL stays on, whatever the feature says.
    -DINPUT_opengl=no -DFEATURE_opengl=OFF
    # Debian's source drops the tablet header.
    -DFEATURE_tabletevent=OFF
    # In 6.4.2 the windows plugin fails to link with Direct2D off and DirectWrite on; with
    # both off it draws text through GDI.
    -DFEATURE_direct2d=OFF -DFEATURE_directwrite=OFF -DFEATURE_directwrite3=OFF
    # D-Bus is loaded at run time where it exists; the project requires the module.
    -DFEATURE_dbus=ON
)

qt_source_version() {
    dpkg-query -W -f='${Version}' qt6-base-dev
}

# The recipe: the source, the options and the compiler. A change to any of them builds anew.
qt_cache_key() {
    {
        qt_source_version
        echo
        printf '%s\n' "${qt_options[@]}"
        dpkg-query -W -f='${Version}\n' g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
    } | sha256sum | cut -c1-16
}

# Prints the prefix of Qt for Windows, building it first if this machine has none.
build_qt() {
    local key prefix
    key=$(qt_cache_key)
    prefix=$qt_cache_root/$key
    if [ -e "$prefix/.complete" ]; then
        log "Qt for Windows: cached in $prefix"
        echo "$prefix"
        return
    fi
    local version work
    version=$(qt_source_version)
    work=$work_root/qt-$key
    log "Qt for Windows: building qt6-base $version into $prefix (about half an hour)"
    rm -rf "$work" "$prefix"
    mkdir -p "$work" "$prefix"
    add_source_archive
    (cd "$work" && apt-get source -qq --only-source "qt6-base=$version") >"$work/source.log" 2>&1 ||
        { cat "$work/source.log" >&2; exit 1; }
    local src
    src=$(find "$work" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base-*' | head -n1)
    [ -n "$src" ] || { log "no qt6-base source unpacked in $work"; exit 1; }
    local started=$SECONDS
    nice -n 10 cmake -S "$src" -B "$work/build" "${qt_options[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
        -DCMAKE_INSTALL_PREFIX="$prefix" >"$work/configure.log" 2>&1 ||
        { tail -n 60 "$work/configure.log" >&2; exit 1; }
    nice -n 10 cmake --build "$work/build" --parallel "$(nproc)" >"$work/build.log" 2>&1 ||
        { grep -m 20 -B 5 -E 'error|FAILED' "$work/build.log" >&2; exit 1; }
    cmake --install "$work/build" >"$work/install.log" 2>&1
    {
        echo "source qt6-base $version"
        echo "built in $((SECONDS - started)) s"
        printf '%s\n' "${qt_options[@]}"
    } >"$prefix/.complete"
    rm -rf "$work"
    log "Qt for Windows: built in $((SECONDS - started)) s, $(du -sh "$prefix" | cut -f1)"
    echo "$prefix"
}

# Wine's own loader and server: Debian's wine64 keeps them out of PATH.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

setup_wine() {
    # A prefix of our own, not the user's ~/.wine.
    export WINEPREFIX=${TRASKO_WINEPREFIX:-$work_root/wine}
    export WINEDEBUG=${WINEDEBUG:--all}
    # Nothing here uses Wine's .NET or HTML engines, and there is no network to fetch them.
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
    if [ ! -e "$WINEPREFIX/system.reg" ]; then
        log "Wine: making the prefix $WINEPREFIX"
        mkdir -p "$(dirname "$WINEPREFIX")"
        "$wine" wineboot --init >/dev/null 2>&1
        "$wineserver" -w
    fi
    # Wine marks every name with a leading dot hidden; Windows goes by the attribute alone.
    "$wine" reg add 'HKCU\Software\Wine' /v ShowDotFiles /d Y /f >/dev/null 2>&1
    "$wineserver" -w
}

build_trasko() {
    export TRASKO_QT_WINDOWS=$1
    log "Trasko for Windows: building into $build_dir"
    nice -n 10 cmake --preset windows >"$work_root/trasko-configure.log" 2>&1 ||
        { cat "$work_root/trasko-configure.log" >&2; exit 1; }
    nice -n 10 cmake --build --preset windows --parallel "$(nproc)" >&2
}

main() {
    local stage=${1:-all}
    mkdir -p "$work_root"
    install_packages
    local qt
    qt=$(
        # One build at a time on a machine: a second run waits for the first one's Qt.
        exec 9>"$work_root/qt.lock"
        flock 9
        build_qt
    )
    if [ "$stage" = qt ]; then
        echo "$qt"
        return
    fi
    build_trasko "$qt"
    if [ "$stage" = build ]; then
        echo "$qt"
        return
    fi
    setup_wine
    log "Trasko for Windows: the tests under Wine, the installer among them"
    ctest --preset windows --no-tests=error
    log "The installer: $(ls "$build_dir"/trasko-*-win64.exe)"
}

main "$@"
