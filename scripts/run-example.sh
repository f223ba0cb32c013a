#!/usr/bin/env bash
# Builds the program and runs its main job headless: the example task over the bundled book
# site, served by a loopback web server that this script starts and stops. The records are
# printed as CSV; status texts go to standard error.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target gleanmark-cli default_config >&2

work=$(mktemp -d)
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
/usr/bin/python3 -m http.server "$port" --bind 127.0.0.1 --directory resources/examples/site \
  >"$work/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do
  /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1',$port),1)" 2>/dev/null && break
  sleep 0.1
done
sed "s|@SITE@|http://127.0.0.1:$port|g" resources/examples/example-task.xml >"$work/example-task.xml"
# The data folder (page cache, configuration) stays inside the scratch folder. The program
# copies its default configuration there on this first start, in the language of the user's
# locale, so the status texts speak it too.
XDG_DATA_HOME="$work/data" ./build/bin/gleanmark-cli run "$work/example-task.xml" --format csv
