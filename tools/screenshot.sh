#!/usr/bin/env bash
# Takes the README's picture of the window at rest from the running program: builds as the
# README's commands do, starts the program without a display and with an empty settings
# store, and lets the pictures plugin save the window as docs/window.png and close it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S tools/shots -B build-shots -G Ninja >/dev/null
cmake --build build-shots >/dev/null
config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
mkdir -p docs
QT_QPA_PLATFORM=offscreen \
QT_PLUGIN_PATH="$PWD/build-shots/plugins" \
XDG_CONFIG_HOME="$config" \
TRASKO_SHOTS_DIR="$PWD/docs" \
    ./build/app/trasko -plugin traskoshots
