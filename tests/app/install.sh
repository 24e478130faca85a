#!/usr/bin/env bash
# The installed program: what "cmake --install" puts in a prefix, the same files in the Debian
# package with its library dependencies, the desktop files passing their validators and offering
# the program for folders, and the packaged program starting without a display and answering
# --help and --version. Usage: install.sh <build folder> <application id>
set -euo pipefail
build="$1" id="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
menu="share/kio/servicemenus/$id.desktop"
expected=(bin/trasko "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml" "$menu")
for size in 16 24 32 48 64 128 256; do
    icon="share/icons/hicolor/${size}x$size/apps/$id.png"
    expected+=("$icon")
    file "$work/prefix/$icon" | grep -q "PNG image data, $size x $size" || fail "$icon is wrong"
done
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
(cd "$work/prefix" && find . -type f | sed 's|^\./||' | sort | diff -u "$work/expected" -) ||
    fail "the install differs from what is expected"
desktop-file-validate "$work/prefix/share/applications/$id.desktop" || fail "desktop entry"
desktop-file-validate "$work/prefix/$menu" || fail "service menu"
# "Open With" on a folder offers the program: the folder type as the desktop's own index reads it.
update-desktop-database "$work/prefix/share/applications"
grep -q "^inode/directory=.*$id.desktop" "$work/prefix/share/applications/mimeinfo.cache" ||
    fail "the desktop entry does not declare folders"
rm "$work/prefix/share/applications/mimeinfo.cache"
# Both hand the folder to the program, which takes it as the source; Dolphin reads a service
# menu from a user's own data folder only when it is executable.
grep -qx 'Exec=trasko %f' "$work/prefix/share/applications/$id.desktop" || fail "desktop entry's Exec"
grep -Pzq '\[Desktop Action \w+\]\nName=Copy with Trasko…\nIcon=[^\n]+\nExec=trasko %f\n' \
    "$work/prefix/$menu" && grep -qx 'MimeType=inode/directory;' "$work/prefix/$menu" &&
    [ -x "$work/prefix/$menu" ] || fail "the service menu's action"
appstreamcli validate --no-net "$work/prefix/share/metainfo/$id.metainfo.xml" || fail "metainfo"

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null
deb=("$work"/package/*.deb)
dpkg-deb -f "${deb[0]}" Depends | grep -q libqt6widgets6 || fail "no dependency on Qt Widgets"
dpkg-deb --contents "${deb[0]}" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | sort |
    diff -u "$work/expected" - || fail "the package holds other files"

# Still running after five seconds, with no bus and an empty settings store (timeout's 124),
# and silent.
dpkg-deb -x "${deb[0]}" "$work/root"
mkdir -m 700 "$work/runtime"
status=0
env -u DBUS_SESSION_BUS_ADDRESS QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" \
    XDG_RUNTIME_DIR="$work/runtime" timeout 5 "$work/root/usr/bin/trasko" >"$work/out" 2>&1 ||
    status=$?
[ "$status" -eq 124 ] && [ ! -s "$work/out" ] || fail "ended with $status: $(cat "$work/out")"
# --help and --version answer on standard output and end the program.
QT_QPA_PLATFORM=offscreen timeout 5 "$work/root/usr/bin/trasko" --help >"$work/out" &&
    grep -q "\[options\] \[SOURCE\] \[DESTINATION\]" "$work/out" && grep -q -- "--start" "$work/out" ||
    fail "--help: $(cat "$work/out")"
# In the language the system names, the program's words and the toolkit's own.
LANGUAGE=de QT_QPA_PLATFORM=offscreen timeout 5 "$work/root/usr/bin/trasko" --help >"$work/out" &&
    grep -q "^Kopiert einen Ordner in einen anderen.$" "$work/out" &&
    grep -q "Zeigt Versionsinformation an." "$work/out" || fail "--help in German: $(cat "$work/out")"
[ "$(QT_QPA_PLATFORM=offscreen timeout 5 "$work/root/usr/bin/trasko" --version)" = "Trasko $(
    dpkg-deb -f "${deb[0]}" Version)" ] || fail "--version"
echo "installed, packaged and started: ${deb[0]##*/}"
