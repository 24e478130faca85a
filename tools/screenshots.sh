#!/usr/bin/env bash
# Takes the README's pictures of a real copy: the window mid-copy with the information panel
# open (docs/copying.png) and the copy-errors page afterwards (docs/errors.png). Builds as the
# README's commands do, makes a source tree of a few thousand files with two destination
# names blocked by folders (so that two files fail), and lets a plugin drive the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S tools/shots -B build-shots -G Ninja >/dev/null
cmake --build build-shots >/dev/null

# Short paths, so that the error column fits beside the file names in the picture.
work="$(mktemp -d /var/tmp/tsXXXX)"
trap 'rm -rf "$work"' EXIT
src="$work/Photos" dst="$work/Backup"
for album in Holidays Family Garden Birthdays Concerts; do
    mkdir -p "$src/$album"
    for i in $(seq -w 1 800); do
        head -c $((20000 + 10#$i * 37)) /dev/zero > "$src/$album/IMG_$i.jpg"
    done
    head -c $((400 * 1024 * 1024)) /dev/zero > "$src/$album/$album.mov"
done
# A folder where a file should go cannot be replaced: those two files fail.
mkdir -p "$dst/Family/IMG_042.jpg" "$dst/Garden/IMG_117.jpg"

mkdir -p docs
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" \
QT_PLUGIN_PATH="$PWD/build-shots/plugins" \
XDG_CONFIG_HOME="$work/config" \
TRASKO_SHOTS_SOURCE="$src" TRASKO_SHOTS_TARGET="$dst" TRASKO_SHOTS_DIR="$PWD/docs" \
    ./build/app/trasko -plugin traskoshots
