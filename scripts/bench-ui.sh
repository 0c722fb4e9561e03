#!/usr/bin/env bash
# The interface window's part of make bench: from pressing "刷新" to 100,000
# head-office documents (5 lines each) shown, through skjk-server, and the
# longest stall of the window's thread meanwhile. The database (the query
# benchmark's, with every document not yet invoiced) is made once in
# build/bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${SKJK_BUILD:-build/native}
server=$build/appserver/skjk-server
dir=build/bench
db=$dir/ui-100k.db
mkdir -p "$dir"
if [ ! -f "$db" ]; then
  echo "bench-ui: generating $db"
  rm -f "$db.tmp"
  "$server" init --db "$db.tmp" --sample 100000 --seed 1 --lines 5
  sqlite3 "$db.tmp" "UPDATE XSTXSFP1 SET FPBBH0 = NULL, FPHAO0 = NULL"
  mv "$db.tmp" "$db"
  rm -f "$db.tmp-wal" "$db.tmp-shm"
fi
rm -f "$dir/ui-port"
"$server" serve --db "$db" --port 0 --port-file "$dir/ui-port" 2>"$dir/ui-server.log" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
for _ in $(seq 200); do [ -s "$dir/ui-port" ] && break; sleep 0.05; done
[ -s "$dir/ui-port" ] || { cat "$dir/ui-server.log" >&2; exit 1; }
"$build/bench/skjk-ui-stall-bench" --machine "127.0.0.1:$(cat "$dir/ui-port")" \
  --from 2000-01-01 --to 2099-12-31
