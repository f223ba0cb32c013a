#!/usr/bin/env bash
# Builds the desktop program and starts it (on the current desktop; with no DISPLAY, on a
# virtual X server so that it can at least be seen to start).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target gleanmark default_config manual >&2
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec xvfb-run -a ./build/bin/gleanmark "$@"
fi
exec ./build/bin/gleanmark "$@"
