#!/usr/bin/env bash
# A skjk-server for the interface window's Wine tests, as a CTest fixture.
#
#   interface_server.sh start DIR SERVER SQL...  database in DIR (a sample
#                                                plus the statements of each
#                                                SQL file in turn), served on a
#                                                free loopback port written to
#                                                DIR/server.port
#   interface_server.sh stop DIR               stops it and waits for its end
#
# With SKJK_E2E_MARIADB=MDIR the database is a MariaDB database instead, on
# the private MariaDB server in MDIR (scripts/mariadb-server, started here
# when it is not running; `stop` stops it too), served with the application
# account that init creates.
set -euo pipefail
cmd=$1 dir=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
. "$root/scripts/processes.sh"
mariadb_dir=${SKJK_E2E_MARIADB:-}
case "$cmd" in
  start)
    server=$3
    shift 3
    if [ ! -x "$server" ]; then
      echo "interface_server: $server is missing (build the native preset first)" >&2
      exit 1
    fi
    mkdir -p "$dir"
    "$0" stop "$dir"
    rm -f "$dir/interface.db" "$dir/server.db"
    if [ -n "$mariadb_dir" ]; then
      "$root/scripts/mariadb-server" start "$mariadb_dir"
      database=skjk_e2e_$(printf '%s' "$dir" | cksum | cut -d' ' -f1)
      mariadb --no-defaults -S "$mariadb_dir/sock" -uroot \
        -e "DROP DATABASE IF EXISTS $database"
      admin=$(cat "$mariadb_dir/url")/$database
      "$server" init --db "$admin" --sample 50 --seed 7 \
        --app-account skjk_e2e:skjk_e2e >/dev/null
      db=mariadb://skjk_e2e:skjk_e2e@${admin#*@}
    else
      admin=$dir/interface.db
      "$server" init --db "$admin" --sample 50 --seed 7
      db=$admin
    fi
    for sql in "$@"; do
      "$server" sql --db "$admin" <"$sql"
    done
    echo "$db" >"$dir/server.db"
    # Detached, so that CTest neither waits for it nor holds its output.
    start_skjk_server --detached "$dir/server.port" "$dir/server.log" \
      "$server" --db "$db" --port 0
    ;;
  stop)
    pid_file=$dir/server.port.pid
    if [ -f "$pid_file" ] && [ -f "$dir/server.db" ]; then
      pid=$(cat "$pid_file")
      # Only the server of this folder: the pid may have been reused since.
      args=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" || true)
      if grep -qxF "$(cat "$dir/server.db")" <<<"$args"; then
        stop_pid "$pid"
      fi
    fi
    rm -f "$pid_file"
    if [ -n "$mariadb_dir" ]; then
      "$root/scripts/mariadb-server" stop "$mariadb_dir"
    fi
    # The test's screenshots, as PNG where ImageMagick is there.
    for bmp in "$dir"/*.bmp; do
      [ -f "$bmp" ] || continue
      if command -v convert >/dev/null && convert "$bmp" "${bmp%.bmp}.png"; then
        rm -f "$bmp"
        echo "screenshot: ${bmp%.bmp}.png"
      fi
    done
    ;;
  *)
    echo "usage: interface_server.sh start DIR SERVER SQL... | stop DIR" >&2
    exit 2
    ;;
esac
