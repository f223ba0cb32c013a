#!/usr/bin/env bash
# Builds the program and runs its main job headless on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target gleanmark-cli examples
./build/bin/gleanmark-cli doc decode build/examples/example.tsk --key config
