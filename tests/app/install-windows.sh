#!/usr/bin/env bash
# The Windows installer, under Wine in a prefix of its own: CPack builds it into the build
# folder; it installs silently into Program Files with a Start-menu entry and a verb on folders;
# the program it installs carries its version record and icon, starts without a display and
# without help finding its libraries, and copies when told to on its command line; the
# uninstaller takes it all away again.
# Usage: install-windows.sh <build folder> <Wine's loader> <version>
set -euo pipefail
build="$1" wine="$2" version="$3"
wineserver="$(dirname "$wine")/wineserver"
work="$(mktemp -d)"
export WINEPREFIX="$work/wine"
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
unset WINEPATH

cpack -G NSIS --config "$build/CPackConfig.cmake" -B "$build" >"$work/cpack.log" 2>&1 ||
    fail "cpack: $(cat "$work/cpack.log")"
installer="$build/trasko-$version-win64.exe"
"$wine" wineboot --init >/dev/null 2>&1
"$wine" "$installer" /S
"$wineserver" -w

root="$WINEPREFIX/drive_c/Program Files/Trasko"
expected=(Trasko.exe Uninstall.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll Qt6DBus.dll
    libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll platforms/qwindows.dll
    platforms/qoffscreen.dll styles/qwindowsvistastyle.dll imageformats/qico.dll
    translations/qtbase_de.qm translations/qtbase_es.qm translations/qtbase_fr.qm)
(cd "$root" && find . -type f | sed 's|^\./||' | sort | diff -u <(printf '%s\n' "${expected[@]}" |
    sort) -) || fail "the installed files differ from what is expected"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Trasko"
[ -f "$menu/Trasko.lnk" ] || fail "no Start-menu entry"

# The version record and the icon group, as the file's properties show them.
/usr/bin/python3 - "$root/Trasko.exe" "$version" <<'PYTHON' || fail "version record or icon"
import struct, sys
import pefile

pe = pefile.PE(sys.argv[1])
version = sys.argv[2]
fixed = pe.VS_FIXEDFILEINFO[0]
numbers = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF,
           fixed.FileVersionLS >> 16, fixed.FileVersionLS & 0xFFFF)
assert ".".join(map(str, numbers)) == version, numbers
tables, translations = {}, []
for info in pe.FileInfo[0]:
    if info.Key == b"StringFileInfo":
        tables = {t.LangID: t.entries for t in info.StringTable}
    if info.Key == b"VarFileInfo":
        translations = [v.entry for v in info.Var]
strings = {k.decode(): v.decode().rstrip("\0") for k, v in tables[b"040904E4"].items()}
assert strings == {"CompanyName": "Quorvex", "FileDescription": "Quorvex's Trasko",
                   "FileVersion": version, "OriginalFilename": "Trasko.exe",
                   "ProductName": "Trasko", "ProductVersion": version}, strings
assert translations == [{b"Translation": "0x0409 0x04e4"}], translations
groups = [e for e in pe.DIRECTORY_ENTRY_RESOURCE.entries
          if e.id == pefile.RESOURCE_TYPE["RT_GROUP_ICON"]]
entry = groups[0].directory.entries[0].directory.entries[0].data.struct
data = pe.get_data(entry.OffsetToData, entry.Size)
count = struct.unpack_from("<H", data, 4)[0]
icons = [struct.unpack_from("<BBBBHHIH", data, 6 + 14 * i) for i in range(count)]
assert sorted((w or 256, bits) for w, _, _, _, _, bits, _, _ in icons) == \
    [(s, 32) for s in (16, 24, 32, 48, 64, 128, 256)], icons
PYTHON

# Still running after ten seconds (timeout's 124) with an empty settings store, and silent. The
# offscreen platform reads its fonts from a folder (WINEQT_QPA_FONTDIR, set by the test).
status=0
WINEQT_QPA_PLATFORM=offscreen timeout 10 "$wine" "C:\\Program Files\\Trasko\\Trasko.exe" \
    >"$work/out" 2>&1 || status=$?
[ "$status" -eq 124 ] && [ ! -s "$work/out" ] || fail "ended with $status: $(cat "$work/out")"

# The command line: --start copies at once, as Start would.
mkdir -p "$work/src/inner" "$work/dst"
echo data >"$work/src/inner/file.txt"
status=0
WINEQT_QPA_PLATFORM=offscreen timeout 10 "$wine" "C:\\Program Files\\Trasko\\Trasko.exe" \
    --start "Z:$work/src" "Z:$work/dst" >"$work/out" 2>&1 || status=$?
[ "$status" -eq 124 ] && cmp -s "$work/src/inner/file.txt" "$work/dst/inner/file.txt" ||
    fail "--start ended with $status and copied $(find "$work/dst"): $(cat "$work/out")"

# "Copy with Trasko…" on folders, for the user who installed it, read back through the registry.
verb='HKCU\Software\Classes\Directory\shell\Trasko'
read_key() { "$wine" reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^ *(Default) *REG_SZ *//p'; }
[ "$(read_key "$verb\command")" = '"C:\Program Files\Trasko\Trasko.exe" "%1"' ] ||
    fail "the folder verb's command: $(read_key "$verb\command")"
"$wineserver" -w # the registry on disk, where Wine writes the label's ellipsis as \x2026
grep -qF '@="Copy with Trasko\x2026"' "$WINEPREFIX/user.reg" || fail "the folder verb's label"

"$wine" "C:\\Program Files\\Trasko\\Uninstall.exe" /S
"$wineserver" -w
[ ! -e "$root" ] && [ ! -e "$menu" ] || fail "the uninstaller left $(find "$root" "$menu" 2>&1)"
! "$wine" reg query "$verb" >/dev/null 2>&1 || fail "the uninstaller left the folder verb"
echo "installed under Wine, started and uninstalled: ${installer##*/}"
