#!/usr/bin/env bash
# Command 1 of the README: set up, build and launch the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
exec ./build/app/trasko "$@"
