#!/usr/bin/env bash
# make bench: the benchmarks over head-office documents with 5 lines each,
# the first three each served by its own skjk-server:
#  - query: loading 100,000 through skjk-server into document sets against
#    reading them straight from SQLite (ratio: query), with the CPU time of
#    client and server together against the direct path's and the server's
#    peak memory (skjk-server's pid is passed to the benchmark, which reads
#    its /proc entries), and the client's memory per 100,000 documents, its
#    peak during the load minus its size before (ratio: memory, MB / 60);
#  - query-mariadb: the same on MariaDB, against reading them straight from
#    the MariaDB server through its C client (ratio: query-mariadb), on a
#    private server (scripts/mariadb-server) whose data stay in
#    build/bench/mariadb and which is stopped at the end;
#  - ui-stall: from pressing "刷新" to 1,000,000 documents shown in the
#    interface window, and the longest stall of the window's thread
#    meanwhile, the wait for the server's answer included, on a database
#    where no document is invoiced yet (ratio: ui-stall);
#  - export: writing them from a loaded document set into the sales-document
#    file against a tight loop writing the same bytes (ratio: export); the
#    documents are made in memory and the files written to a temporary
#    folder;
#  - writeback: the customer line's import of an issued-invoice file of
#    10,000 records with 3 detail lines each, through a skjk-server the
#    benchmark starts on documents it fills in, against the protocol's bare
#    round trip on the same kind of connection (ratio: writeback).
# The databases are made once in build/bench/ and say how long that took
# (the one of 1,000,000 documents takes a minute or two and 1.5 GB).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${SKJK_BUILD:-build/native}
server=$build/appserver/skjk-server
dir=build/bench
mkdir -p "$dir"

# make_db FILE N [SQL]: the sample database of N documents per kind, with
# SQL run on it after; made under FILE.tmp and renamed when complete.
make_db() {
  [ -f "$1" ] && return
  echo "bench: generating $1"
  rm -f "$1.tmp" "$1.tmp-wal" "$1.tmp-shm"
  local start ms
  start=$(date +%s%N)
  "$server" init --db "$1.tmp" --sample "$2" --seed 1 --lines 5
  [ -z "${3:-}" ] || sqlite3 "$1.tmp" "$3"
  mv "$1.tmp" "$1"
  rm -f "$1.tmp-wal" "$1.tmp-shm"
  ms=$((($(date +%s%N) - start) / 1000000))
  printf 'bench: %s made in %d.%03d s\n' "$1" $((ms / 1000)) $((ms % 1000))
}
# No document invoiced yet: the window's default view shows them all.
not_invoiced="UPDATE XSTXSFP1 SET FPBBH0 = NULL, FPHAO0 = NULL"

# stop_all: stops the servers started so far, skjk-server and MariaDB.
pids=()
mariadb_dir=
. scripts/processes.sh
stop_all() {
  for p in "${pids[@]}"; do
    stop_pid "$p"
  done
  pids=()
  if [ -n "$mariadb_dir" ]; then
    scripts/mariadb-server stop "$mariadb_dir" ||
      echo "bench: cannot stop the MariaDB server of $mariadb_dir" >&2
    mariadb_dir=
  fi
}
trap 'stop_all' EXIT

# serve NAME DB [OPTION...]: starts a server on a free port with the
# further serve options given; sets $machine and $server_pid.
serve() {
  local name=$1 db=$2
  shift 2
  start_skjk_server "$dir/$name.port" "$dir/$name.log" "$server" \
    --db "$db" --port 0 "$@" || exit 1
  pids+=("$server_pid")
  machine=$server_machine
}

make_db "$dir/query-100k.db" 100000
serve query "$dir/query-100k.db"
"$build/bench/skjk-query-bench" --db "$dir/query-100k.db" --machine "$machine" \
  --server-pid "$server_pid"

# The MariaDB database skjk_bench is made once, by its administration
# account; the marker file says that it is complete (a database left by an
# interrupted init is dropped and made again). Served and read by the
# application account that init makes.
scripts/mariadb-server start "$dir/mariadb"
mariadb_dir=$dir/mariadb
admin=$(cat "$dir/mariadb/url")
app=mariadb://skjk_bench:skjk_bench@${admin##*@}/skjk_bench
made=$dir/mariadb/query-100k.made
if [ ! -f "$made" ]; then
  echo "bench: generating MariaDB database skjk_bench in $dir/mariadb"
  address=${admin##*@} account=${admin#mariadb://}
  account=${account%@*}
  MYSQL_PWD=${account#*:} mariadb --no-defaults -h "${address%:*}" \
    -P "${address##*:}" -u "${account%%:*}" \
    -e 'DROP DATABASE IF EXISTS skjk_bench'
  start=$(date +%s%N)
  "$server" init --db "$admin/skjk_bench" --sample 100000 --seed 1 --lines 5 \
    --app-account skjk_bench:skjk_bench >/dev/null
  ms=$((($(date +%s%N) - start) / 1000000))
  printf 'bench: MariaDB database skjk_bench made in %d.%03d s\n' \
    $((ms / 1000)) $((ms % 1000))
  touch "$made"
fi
serve query-mariadb "$app"
"$build/bench/skjk-query-bench" --db "$app" --machine "$machine" \
  --server-pid "$server_pid"
stop_all

# Served with the server's default limits: an answer that keeps coming is
# never cut by the statement limit, however long it takes in all.
make_db "$dir/ui-1m.db" 1000000 "$not_invoiced"
serve ui "$dir/ui-1m.db"
"$build/bench/skjk-ui-stall-bench" --machine "$machine" \
  --from 2000-01-01 --to 2099-12-31
stop_all

"$build/bench/skjk-export-bench"
"$build/bench/skjk-write-back-bench"
