#!/usr/bin/env bash
# The engine built as on a POSIX system without Linux's own calls (a BSD, macOS): the POSIX room
# with the stub of the Linux one, into build-posix/, and its portable suite run against it. After
# the README's set-up (tools/setup.sh), which installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-posix -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRASKO_LINUX_CALLS=OFF \
    -DTRASKO_BUILD_BENCH=OFF >/dev/null
cmake --build build-posix --parallel "$(nproc)" --target tst_engine engine_runner
QT_QPA_PLATFORM=offscreen ctest --test-dir build-posix -R '^tst_engine$' --output-on-failure \
    --timeout 900
