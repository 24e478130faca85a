#!/usr/bin/env bash
# Command 2 of the README: set up, build and run every test without a display.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure --timeout 900
