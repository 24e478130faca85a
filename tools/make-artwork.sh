#!/usr/bin/env bash
# Redraws the images under ui/resources/ and the application icon's sizes under app/icons/ with
# the artwork tool. Commit the result.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p app/icons
cmake -S tools/artwork -B build-artwork -G Ninja >/dev/null
cmake --build build-artwork >/dev/null
QT_QPA_PLATFORM=offscreen ./build-artwork/trasko-artwork ui/resources app/icons
