#!/usr/bin/env bash
# make demo: runs the demo host under Wine (the build is done by the Makefile).
#
# The application server, when it is built, serves a sample database
# (build/demo/demo.db, made on first use) on its default port for the length
# of the demo. With $DISPLAY the host runs interactively on that display;
# without, under a private Xvfb with --demo: it opens each of the three
# windows in turn and saves a screenshot of each to a folder printed at the
# end. Then, with --cycle, it runs the invoicing cycle in each of the three
# windows in turn (head office, customer, visit sales): the not-invoiced
# sales documents of 2024-03-01..02 are exported to build/demo/exchange/
# sales.txt (jqsk-sales.txt, fxsk-sales.txt), skjk-taxsim answers each with
# the issued-invoice file invoices.txt (jqsk-invoices.txt, fxsk-invoices.txt;
# numbers from 1, 2001 and 1001), and the host imports it and shows the
# invoiced view; each step is saved as a screenshot too.
# Without a display the server serves a fresh sample database
# (build/demo/headless.db) on every run, so that the cycle always finds the
# same documents not invoiced, and params.cfg is rewritten with the exchange
# files. With DB=mariadb the server serves a fresh sample database on a
# private MariaDB server instead (build/demo/mariadb). Nothing is left
# running afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
# The whole demo, with its servers and its clean-up, where 32-bit programs
# can run (scripts/wine32).
[ -n "${SKJK_WINE32_ROUTE:-}" ] || exec scripts/wine32 "$0" "$@"
root=$PWD
# Where the kernel runs no 32-bit programs at all, the 64-bit build stands in.
export SKJK_WINE_ARCH=${SKJK_WINE_ARCH:-$(scripts/wine-arch)}
echo "demo: $(scripts/wine-arch --say)"
# Emulated programs take longer: the limits below grow with them.
scale=${SKJK_TIME_SCALE:-1}
win32=${SKJK_DEMO_WIN32_DIR:-build/$SKJK_WINE_ARCH}
server=${SKJK_DEMO_SERVER:-build/native/appserver/skjk-server}
taxsim=${SKJK_DEMO_TAXSIM:-$(dirname "$server")/../tools/taxsim/skjk-taxsim}
demo=$root/build/demo
# A Wine state of its own, so that the demo never meets a test session.
export SKJK_WINE_DIR=${SKJK_WINE_DIR:-$demo/wine}

for f in "$win32/bin/skjk-host.exe" "$win32/bin/skjk.dll"; do
  [ -f "$f" ] || { echo "demo: $f is missing; run make build first" >&2; exit 1; }
done
mkdir -p "$demo"
# The plug-in keeps params.cfg beside the host program: the demo's own folder.
cp -f "$win32/bin/skjk-host.exe" "$win32/bin/skjk.dll" "$demo/"

server_pid=
host_pid=
mariadb_dir=
. scripts/processes.sh
cleanup() {
  stop_pid "$host_pid"
  stop_pid "$server_pid"
  scripts/wine-env stop
  if [ -n "$mariadb_dir" ]; then
    scripts/mariadb-server stop "$mariadb_dir"
  fi
}
trap cleanup EXIT
# Ctrl-C or a kill ends the demo through the same clean-up.
trap 'exit 130' INT TERM HUP

# A Windows path (Wine's drive Z: is the root) of a path under $root.
winpath() {
  local path=Z:$1
  echo "${path//\//\\}"
}

# DB=mariadb: the sample database is on a private MariaDB server in
# build/demo/mariadb (made afresh on every run), served with the
# application account that init creates; the server is stopped at the end.
db_kind=${DB:-sqlite}
case $db_kind in
  sqlite | mariadb) ;;
  *) echo "demo: DB=$db_kind: say DB=mariadb, or nothing for SQLite" >&2; exit 2 ;;
esac
db=$demo/demo.db
if [ -z "${DISPLAY:-}" ]; then
  db=$demo/headless.db
  rm -f "$db" "$db-wal" "$db-shm"
fi
if [ -x "$server" ]; then
  if [ "$db_kind" = mariadb ]; then
    mariadb_dir=$demo/mariadb
    scripts/mariadb-server start "$mariadb_dir"
    mariadb --no-defaults -S "$mariadb_dir/sock" -uroot \
      -e "DROP DATABASE IF EXISTS skjk_demo"
    admin=$(cat "$mariadb_dir/url")/skjk_demo
    echo "demo: creating the sample database $admin"
    "$server" init --db "$admin" --sample 2000 --seed 1 \
      --app-account skjk_app:skjk_demo
    db=mariadb://skjk_app:skjk_demo@${admin#*@}
  elif [ ! -f "$db" ]; then
    echo "demo: creating the sample database $db"
    "$server" init --db "$db" --sample 2000 --seed 1
  fi
  # On its default port: the host's server machine text starts empty.
  if start_skjk_server "$demo/server.port" "$demo/server.log" "$server" \
    --db "$db"; then
    echo "demo: application server running (pid $server_pid," \
         "log $demo/server.log)"
  else
    echo "demo: the application server did not start; the windows will" \
         "report the missing connection" >&2
  fi
else
  echo "demo: $server not built; the windows will report the missing connection" >&2
fi

if [ -n "${DISPLAY:-}" ]; then
  WINE_DISPLAY=$DISPLAY scripts/wine-env start
  echo "demo: skjk-host on $DISPLAY; close its window to end the demo"
  scripts/wine-env run "$demo/skjk-host.exe"
else
  shots=$demo/shots-$(date +%Y%m%d-%H%M%S)
  exchange=$demo/exchange
  mkdir -p "$shots" "$exchange"
  rm -f "$exchange"/*
  # Each line's exchange files (the head-office line's are sales.txt,
  # void.txt and invoices.txt) and invoice texts, in GBK as the plug-in
  # reads them.
  for line in Bbsk Fxsk Jqsk; do
    prefix=
    [ "$line" = Bbsk ] || prefix=$(echo "$line" | tr A-Z a-z)-
    # The customer line writes its fixed tax rate only when no setting is
    # a field reference: its payee is a name, not @YWRY00.
    skr=@YWRY00
    [ "$line" = Jqsk ] && skr=收款员
    printf '[%s]\r\nread=%s\r\nwrite1=%s\r\nwrite2=%s\r\nfhr=复核员\r\nskr=%s\r\nsm=卷烟\r\nd=0\r\n' \
      "$line" "$(winpath "$exchange/${prefix}invoices.txt")" \
      "$(winpath "$exchange/${prefix}sales.txt")" \
      "$(winpath "$exchange/${prefix}void.txt")" "$skr"
  done | iconv -f UTF-8 -t GBK >"$demo/params.cfg"
  scripts/wine-env start
  rc=0
  timeout $((180 * scale)) scripts/wine-env run "$demo/skjk-host.exe" --demo "$(winpath "$shots")" || rc=$?

  if [ -z "$server_pid" ] || [ ! -x "$taxsim" ]; then
    echo "demo: no application server or no $taxsim: the invoicing cycle is left out" >&2
  else
    # In each window the host exports, then waits for the issued-invoice
    # file; the signal that a line's export is complete is the file
    # exported-<line> among the shots.
    timeout $((360 * scale)) scripts/wine-env run "$demo/skjk-host.exe" --cycle "$(winpath "$shots")" &
    host_pid=$!
    answer() {  # LINE: answers the line's export with its invoice file
      local prefix= start=1
      case $1 in
        Fxsk) prefix=fxsk- start=1001 ;;
        Jqsk) prefix=jqsk- start=2001 ;;
      esac
      if "$taxsim" "$exchange/${prefix}sales.txt" "$exchange/${prefix}invoices.tmp" \
          --start "$start"; then
        mv "$exchange/${prefix}invoices.tmp" "$exchange/${prefix}invoices.txt"
        echo "demo: skjk-taxsim answered $exchange/${prefix}sales.txt with $exchange/${prefix}invoices.txt"
      else
        echo "demo: skjk-taxsim failed on $exchange/${prefix}sales.txt" >&2
      fi
    }
    while kill -0 "$host_pid" 2>/dev/null; do
      for line in Bbsk Fxsk Jqsk; do
        if [ -e "$shots/exported-$line" ]; then
          rm -f "$shots/exported-$line"
          answer "$line"
        fi
      done
      sleep 0.2
    done
    wait "$host_pid" || rc=$?
    host_pid=
  fi
  for bmp in "$shots"/*.bmp; do
    [ -f "$bmp" ] || continue
    if command -v convert >/dev/null && convert "$bmp" "${bmp%.bmp}.png"; then
      rm -f "$bmp"
    fi
  done
  echo "demo: screenshots in $shots"
  ls "$shots"
  echo "demo: exchanged files in $exchange"
  ls "$exchange"
  exit $rc
fi
