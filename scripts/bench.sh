#!/usr/bin/env bash
# make bench: loads 100,000 head-office documents (5 lines each) through
# skjk-server into document sets and straight from SQLite, and prints the
# times and their ratio. The database is made once in build/bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${SKJK_BUILD:-build/native}
server=$build/appserver/skjk-server
dir=build/bench
db=$dir/query-100k.db
mkdir -p "$dir"
if [ ! -f "$db" ]; then
  echo "bench: generating $db"
  rm -f "$db.tmp"
  "$server" init --db "$db.tmp" --sample 100000 --seed 1 --lines 5
  mv "$db.tmp" "$db"
  rm -f "$db.tmp-wal" "$db.tmp-shm"
fi
rm -f "$dir/port"
"$server" serve --db "$db" --port 0 --port-file "$dir/port" 2>"$dir/server.log" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
for _ in $(seq 200); do [ -s "$dir/port" ] && break; sleep 0.05; done
[ -s "$dir/port" ] || { cat "$dir/server.log" >&2; exit 1; }
"$build/bench/skjk-query-bench" --db "$db" --machine "127.0.0.1:$(cat "$dir/port")"

# The interface window: pressing "刷新" to 100,000 documents shown.
scripts/bench-ui.sh
