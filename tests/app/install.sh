#!/usr/bin/env bash
# The installed program: what "cmake --install" puts in a prefix, the same files in the Debian
# package with its library dependencies, the desktop files passing their validators, and the
# packaged program starting without a display. Usage: install.sh <build folder> <application id>
set -euo pipefail
build="$1" id="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
expected=(bin/trasko "share/applications/$id.desktop" "share/metainfo/$id.metainfo.xml")
for size in 16 24 32 48 64 128 256; do
    icon="share/icons/hicolor/${size}x$size/apps/$id.png"
    expected+=("$icon")
    file "$work/prefix/$icon" | grep -q "PNG image data, $size x $size" || fail "$icon is wrong"
done
printf '%s\n' "${expected[@]}" | sort >"$work/expected"
(cd "$work/prefix" && find . -type f | sed 's|^\./||' | sort | diff -u "$work/expected" -) ||
    fail "the install differs from what is expected"
desktop-file-validate "$work/prefix/share/applications/$id.desktop" || fail "desktop entry"
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
echo "installed, packaged and started: ${deb[0]##*/}"
