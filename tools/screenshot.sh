#!/usr/bin/env bash
# Takes the README's picture of the window at rest from the running program: builds as the
# README's commands do, starts the program without a display and with an empty settings
# store, and lets the test probe save the window as docs/window.png and close it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
config="$(mktemp -d)"
trap 'rm -rf "$config"' EXIT
mkdir -p docs
QT_QPA_PLATFORM=offscreen \
QT_PLUGIN_PATH="$PWD/build/tests/app/plugins" \
XDG_CONFIG_HOME="$config" \
TRASKO_PROBE_GRAB="$PWD/docs/window.png" \
    ./build/app/trasko -plugin traskoprobe
