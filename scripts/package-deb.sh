#!/usr/bin/env bash
# Builds the Debian package gleanmark_VERSION_amd64.deb: a release build of every program,
# then CPack. Prints the package's path.
#
#   bash scripts/package-deb.sh [--no-build] [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR defaults to build-package in the source folder, OUT_DIR to BUILD_DIR. --no-build packs what BUILD_DIR
# holds already (the package test does that with the build it tests).
set -euo pipefail

build_first=1
if [ "${1:-}" = "--no-build" ]; then
  build_first=0
  shift
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
# Folders named on the command line are taken from where the script was called.
build=$(realpath -m "${1:-$source_dir/build-package}")
out=$(realpath -m "${2:-$build}")
cd "$source_dir"

if [ "$build_first" = 1 ]; then
  bash scripts/install-deps.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLEANMARK_TESTS=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)"
fi
mkdir -p "$out"
log="$out/cpack.log"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
rm -rf "$out/_CPack_Packages"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
echo "$out/gleanmark_${version}_$(dpkg --print-architecture).deb"
