#!/usr/bin/env bash
# The engine suites built with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-sanitize/, so that a memory fault or undefined behaviour fails them. After the README's
# set-up (tools/setup.sh), which installs what they need.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRASKO_SANITIZE=ON \
    -DTRASKO_BUILD_BENCH=OFF >/dev/null
cmake --build build-sanitize --parallel "$(nproc)" --target tst_engine tst_engine_posix engine_runner
# libfiu's preload sits before the sanitizer's runtime in the fault-injection tests.
export ASAN_OPTIONS=verify_asan_link_order=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
QT_QPA_PLATFORM=offscreen ctest --test-dir build-sanitize -R '^tst_engine' --output-on-failure \
    --timeout 900
