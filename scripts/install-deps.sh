#!/usr/bin/env bash
# Installs every system package that building, testing and running Gleanmark needs.
# Idempotent: packages already present are skipped, so it is cheap to call before every build.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libboost-regex-dev libgumbo-dev libicu-dev liburiparser-dev libssl-dev openssl zlib1g-dev
  libmariadb-dev mariadb-server unixodbc-dev tdsodbc libsqliteodbc libsqlite3-dev sqlite3
  qt6-base-dev qt6-qpa-plugins qt6-webengine-dev libgl-dev fonts-wqy-microhei qt6-translations-l10n
  python3 python3-xlrd python3-openpyxl python3-lxml python3-scrapy nginx-light curl ca-certificates
  xauth xvfb openbox x11-utils redis-server libhiredis-dev iproute2 libxlsxwriter-dev lintian file
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
echo "installing: ${missing[*]}" >&2
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
