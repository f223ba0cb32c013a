#!/usr/bin/env bash
# A shared run on three "machines" of this one: network namespaces joined by a bridge, one for
# the servers (Redis, MariaDB over TCP, the 400-page list site that answers after 50 ms, all
# reached by name as db.example and site.example) and three for the workers, each with a host
# name, a home folder and a working folder of its own. The commands of the README's shared-run
# recipe run as they are written there; then the shared table must equal the table of one
# plain run (1200 rows, none doubled). Everything made is removed at the end.
# Usage (as root): shared-run-netns.sh [FOLDER OF gleanmark-cli]
# Exit status: 0 passed, 1 failed, 77 network namespaces cannot be made here (skip).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=$(readlink -f "${1:-$here/../build/bin}")
[ -x "$bin/gleanmark-cli" ] || { echo "no gleanmark-cli in $bin"; exit 1; }
for t in ip unshare redis-server redis-cli mariadbd mariadb python3; do
  command -v "$t" >/dev/null || { echo "$t is missing (the install script installs it)"; exit 1; }
done
source "$here/shared-run-lib.sh"

# The recipe of the README, word for word.
recipe_redis='redis-server --bind 0.0.0.0 --protected-mode no --appendonly yes --appendfsync always --daemonize yes --pidfile redis.pid --logfile redis.log'
recipe_fill='gleanmark-cli queue fill task.xml --queue redis://db.example/crawl'
recipe_work='for i in $(seq $(nproc)); do gleanmark-cli work task.xml --queue redis://db.example/crawl --out items.csv & done; wait'
recipe_status='gleanmark-cli queue status --queue redis://db.example/crawl'
recipe_reset='gleanmark-cli queue reset --queue redis://db.example/crawl'

p=gm22-$$
srv=$p-srv
machines=("$p-m1" "$p-m2" "$p-m3")
work=$(mktemp -d /tmp/gm-netns-XXXXXX)
chmod 755 "$work"

cleanup() {
  set +e
  gm_stop "$work"
  for ns in "$srv" "${machines[@]}"; do
    for pid in $(ip netns pids "$ns" 2>/dev/null); do kill -9 "$pid" 2>/dev/null; done
    ip netns del "$ns" 2>/dev/null
    rm -rf "/etc/netns/$ns"
  done
  rm -rf "$work"
}
trap cleanup EXIT

# The network: a bridge in the servers' namespace, a veth pair to each machine.
if ! ip netns add "$srv" 2>"$work/ns.err"; then
  echo "network namespaces cannot be made here: $(cat "$work/ns.err")"; exit 77
fi
ip -n "$srv" link set lo up
ip -n "$srv" link add br0 type bridge
ip -n "$srv" addr add 10.222.0.1/24 dev br0
ip -n "$srv" link set br0 up
for k in 1 2 3; do
  ns=${machines[$((k - 1))]}
  ip netns add "$ns"
  ip -n "$srv" link add "v$k" type veth peer name eth0 netns "$ns"
  ip -n "$srv" link set "v$k" master br0 up
  ip -n "$ns" link set lo up
  ip -n "$ns" addr add "10.222.0.1$k/24" dev eth0
  ip -n "$ns" link set eth0 up
done
for ns in "$srv" "${machines[@]}"; do
  mkdir -p "/etc/netns/$ns"
  printf '127.0.0.1 localhost\n10.222.0.1 db.example site.example\n' >"/etc/netns/$ns/hosts"
done

# on MACHINE (1-3) COMMAND: runs the command with bash in that machine's namespace, host name
# and folder, with gleanmark-cli on the PATH.
on() {
  local k=$1; shift
  ip netns exec "${machines[$((k - 1))]}" unshare --uts bash -c \
    "hostname machine$k && cd '$work/m$k' && export HOME='$work/m$k' XDG_DATA_HOME='$work/m$k/data' PATH='$bin':\$PATH && $*"
}

# The servers.
mkdir -p "$work/redis"
(cd "$work/redis" && ip netns exec "$srv" bash -c "$recipe_redis")
gm_start_mariadb "$work" 0.0.0.0 3306 ip netns exec "$srv"
gm_start_site "$work" 0.0.0.0 8080 50 ip netns exec "$srv"
gm_task "$work" http://site.example:8080 db.example:3306 items
gm_task "$work" http://site.example:8080 db.example:3306 one
for k in 1 2 3; do mkdir -p "$work/m$k"; cp "$work/items.xml" "$work/m$k/task.xml"; done
on 1 "redis-cli -h db.example ping >/dev/null" || { echo "machine 1 cannot reach db.example"; exit 1; }

echo "== $recipe_fill"
on 1 "$recipe_fill"
echo "== $recipe_work (three machines)"
start=$(date +%s.%N)
machine_jobs=()
for k in 1 2 3; do on "$k" "$recipe_work" 2>"$work/m$k.err" & machine_jobs+=($!); done
sleep 3
echo "== $recipe_status (during the run)"
on 2 "$recipe_status" || true
failed=0
for job in "${machine_jobs[@]}"; do wait "$job" || failed=1; done
end=$(date +%s.%N)
for k in 1 2 3; do echo "machine$k: $(grep -h 'worker machine' "$work/m$k.err" | tr '\n' ' ')"; done
[ "$failed" = 0 ] || { echo "a worker failed:"; tail -3 "$work"/m*.err; exit 1; }
echo "== $recipe_status (after the run)"
status=$(on 3 "$recipe_status")
echo "$status"
awk -v a="$start" -v b="$end" 'BEGIN { printf "shared run: %.1f s\n", b - a }'

echo "== one plain run of the same task into the table one"
on 1 "gleanmark-cli run '$work/one.xml' --out one.csv" 2>"$work/one.err" ||
  { echo "the plain run failed:"; tail -3 "$work/one.err"; exit 1; }
rows=$(gm_sql "$work" 'select count(*) from items')
distinct=$(gm_sql "$work" 'select count(*) from (select distinct title, text from items) d')
same=$(gm_sql "$work" 'select count(*) from items i join one o on i.title = o.title and i.text = o.text')
one=$(gm_sql "$work" 'select count(*) from one')
echo "table items: $rows rows, $distinct distinct; one run: $one rows; rows in both: $same"
files=$(cat "$work"/m*/items.*.csv | grep -vc '^title' || true)
echo "per-worker files: $(ls "$work"/m*/items.*.csv | wc -l), $files records"

echo "== $recipe_reset"
on 1 "$recipe_reset"
keys=$(ip netns exec "$srv" redis-cli --scan | wc -l)
echo "keys left in Redis: $keys"

ok=1
[ "$one" = 1200 ] && [ "$rows" = 1200 ] && [ "$distinct" = 1200 ] && [ "$same" = 1200 ] || ok=0
[ "$files" = 1200 ] || ok=0
grep -q '^pages: 400 done, 0 pending, 0 left$' <<<"$status" || ok=0
[ "$keys" = 0 ] || ok=0
[ "$ok" = 1 ] && { echo "PASSED: the shared table equals one run"; exit 0; }
echo "FAILED"; exit 1
