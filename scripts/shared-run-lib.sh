# Pieces of the shared-run trial (scripts/shared-run-netns.sh) and benchmark
# (bench/shared-run.sh), sourced by both: a MariaDB server and the list site, each started in
# the background (optionally through a command prefix such as "ip netns exec NS"), and SQL
# against the server through its socket. Every function takes the work folder first.

# gm_start_mariadb WORK ADDRESS PORT [PREFIX...]: a server of its own in WORK/db (no grant
# tables: any user may connect), the database "gm"; its socket is WORK/db.sock.
gm_start_mariadb() {
  local work=$1 address=$2 port=$3; shift 3
  mkdir -p "$work/db"
  "$@" mariadbd --no-defaults --datadir="$work/db" --socket="$work/db.sock" --port="$port" \
    --bind-address="$address" --skip-grant-tables --user=root --innodb-buffer-pool-size=64M \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_bin \
    --log-error="$work/db.err" --pid-file="$work/db.pid" >/dev/null 2>&1 &
  echo $! >"$work/db.launcher"
  for _ in $(seq 300); do
    mariadb --no-defaults -S "$work/db.sock" -e 'select 1' >/dev/null 2>&1 && break
    sleep 0.1
  done
  mariadb --no-defaults -S "$work/db.sock" -e 'create database if not exists gm' ||
    { echo "MariaDB did not start:"; tail -5 "$work/db.err"; return 1; }
}

# gm_sql WORK STATEMENTS: runs them in the database "gm"; rows tab-separated, no header.
gm_sql() {
  mariadb --no-defaults -S "$1/db.sock" --batch --skip-column-names -D gm -e "$2"
}

# gm_start_site WORK ADDRESS PORT DELAY_MS [PREFIX...]: the 400-page list site
# (scripts/list-site.py); its port is in WORK/site.port once it listens.
gm_start_site() {
  local work=$1 address=$2 port=$3 delay=$4; shift 4
  local here; here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  "$@" /usr/bin/python3 "$here/list-site.py" "$address" "$port" "$delay" >"$work/site.port" &
  echo $! >"$work/site.pid"
  for _ in $(seq 100); do [ -s "$work/site.port" ] && return 0; sleep 0.1; done
  echo "the list site did not start"; return 1
}

# gm_task WORK SITE DBSERVER TABLE: writes WORK/TABLE.xml, the shared-run task over the site
# with its records going to that table (made here).
gm_task() {
  local here; here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
  sed -e "s|@SITE@|$2|g" -e "s|@DBSERVER@|$3|g" -e "s|@DBTABLE@|$4|g" "$here/shared-run-task.xml" \
    >"$1/$4.xml"
  gm_sql "$1" "drop table if exists $4; create table $4 (title varchar(40), text varchar(80))"
}

# gm_stop WORK: ends the site and the MariaDB server started by the functions above.
gm_stop() {
  local pid
  for f in site.pid db.pid; do
    pid=$(cat "$1/$f" 2>/dev/null) || continue
    kill "$pid" 2>/dev/null || true
  done
  for _ in $(seq 100); do
    pid=$(cat "$1/db.pid" 2>/dev/null) || break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
}
