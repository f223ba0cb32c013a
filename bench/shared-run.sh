#!/usr/bin/env bash
# Shared runs timed as whole processes (start-up included), RUNS times each, medians printed:
# 1. the 400-page list site that answers each list page after 50 ms (scripts/list-site.py, a
#    nested detail page per row, records to a MariaDB table): one `work` process against four
#    on one queue; the goal is four at least 3.5 times as fast.
# 2. the shared no-delay benchmark site (200 list pages x 50 records from
#    /work/shared/bench/gensite.py, served by nginx): `run` against one `work` process, both to
#    a JSON-lines file; the goal is `work` losing at most 10 % to its Redis round trips.
# Redis, MariaDB, the list site and nginx are started here on loopback and stopped at the end.
# Usage: shared-run.sh PATH/TO/gleanmark-cli [RUNS] [BENCH_SITE_FOLDER]
set -euo pipefail
cli=$(readlink -f "$1"); runs=${2:-5}; shared=${3:-/work/shared/bench}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../scripts/shared-run-lib.sh"
for t in nginx redis-server mariadbd /usr/bin/time; do
  command -v "$t" >/dev/null || { echo "$t is missing (the install script installs it)"; exit 1; }
done
work=$(mktemp -d /tmp/gm-shared-bench-XXXXXX); chmod 755 "$work"
redis_port=18391; db_port=18392; nginx_port=18393
cleanup() {
  set +e
  redis-cli -p "$redis_port" shutdown nosave >/dev/null 2>&1
  kill "$(cat "$work/nginx.pid" 2>/dev/null)" 2>/dev/null
  gm_stop "$work"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/redis"
redis-server --port "$redis_port" --bind 127.0.0.1 --dir "$work/redis" --appendonly yes \
  --appendfsync always --save "" --daemonize yes --pidfile "$work/redis/pid" \
  --logfile "$work/redis/log"
gm_start_mariadb "$work" 127.0.0.1 "$db_port"
gm_start_site "$work" 127.0.0.1 0 50
gm_task "$work" "http://127.0.0.1:$(cat "$work/site.port")" "$work/db.sock" items
export XDG_DATA_HOME="$work/data"
queue="redis://127.0.0.1:$redis_port/bench"

# timed FILE COMMAND...: appends the wall seconds of the command (a program or a function
# that starts programs and waits for them) to FILE; stops on failure.
timed() {
  local file=$1; shift
  local start; start=$(date +%s.%N)
  "$@" >/dev/null 2>"$work/err" || { echo "failed: $*"; tail -3 "$work/err"; exit 1; }
  awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.3f\n", b - a }' >>"$file"
}
# fresh: an empty queue, table and worker files for the next timed run.
fresh() {
  "$cli" queue reset --queue "$queue" >/dev/null
  gm_sql "$work" "truncate table items"
  rm -f "$work"/w.*.jsonl
}
# workers N: N work processes of the list-site task on one queue, waited for.
workers() {
  local pids=() failed=0
  for _ in $(seq "$1"); do "$cli" work "$work/items.xml" --queue "$queue" 2>>"$work/werr" & pids+=($!); done
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  return "$failed"
}
med() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

: >"$work/w1"; : >"$work/w4"
for _ in $(seq "$runs"); do
  fresh; timed "$work/w1" workers 1
  fresh; timed "$work/w4" workers 4
done
rows=$(gm_sql "$work" 'select count(*) from (select distinct title, text from items) d')
[ "$rows" = 1200 ] || { echo "the four workers wrote $rows distinct records (1200 expected)"; exit 1; }
w1=$(med <"$work/w1"); w4=$(med <"$work/w4")
echo "50 ms site, 400 pages: one worker median $w1 s, four workers median $w4 s"
awk -v a="$w1" -v b="$w4" 'BEGIN { printf "four workers are %.2fx one worker (goal >= 3.5x)\n", a / b }'

# The no-delay site.
/usr/bin/python3 "$shared/gensite.py" "$work/site" 200 50
cat >"$work/nginx.conf" <<NG
worker_processes 1; daemon on; pid $work/nginx.pid; error_log $work/nginx.log;
events { worker_connections 256; }
http { access_log off; keepalive_requests 100000; server { listen 127.0.0.1:$nginx_port; root $work/site; } }
NG
nginx -c "$work/nginx.conf"
sed "s|@SITE@|http://127.0.0.1:$nginx_port|g" "$shared/list-task.xml" >"$work/list.xml"
: >"$work/r"; : >"$work/w"
for _ in $(seq "$runs"); do
  timed "$work/r" "$cli" run "$work/list.xml" --format jsonl --out "$work/r.jsonl"
  fresh
  timed "$work/w" "$cli" work "$work/list.xml" --queue "$queue" --format jsonl --out "$work/w.jsonl"
done
n=$(wc -l <"$work/r.jsonl"); m=$(cat "$work"/w.*.jsonl | wc -l)
[ "$n" = 10000 ] && [ "$m" = 10000 ] || { echo "records: run $n, work $m (10000 each expected)"; exit 1; }
r=$(med <"$work/r"); w=$(med <"$work/w")
echo "no-delay site, 200 pages x 50 records: run median $r s, one worker median $w s"
awk -v a="$r" -v b="$w" 'BEGIN { printf "one worker has %.1f %% of the throughput of run (goal >= 90 %%)\n", 100 * a / b }'
