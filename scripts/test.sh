#!/usr/bin/env bash
# Builds and runs the whole test suite twice: a normal build, then one under AddressSanitizer
# and UndefinedBehaviorSanitizer. Extra arguments go to ctest (for example -L doc).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" "$@")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DGLEANMARK_SANITIZE=ON >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The window tests (ui) stay out; browser mode runs here too, with Qt WebEngine's own reports
# suppressed (tests/browser/CMakeLists.txt).
(cd build-asan && ctest --output-on-failure -j "$jobs" -LE 'ui' "$@")
