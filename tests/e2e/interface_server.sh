#!/usr/bin/env bash
# A skjk-server for the interface window's Wine tests, as a CTest fixture.
#
#   interface_server.sh start DIR SERVER SQL...  database in DIR (a sample
#                                                plus the statements of each
#                                                SQL file in turn), served on a
#                                                free loopback port written to
#                                                DIR/server.port
#   interface_server.sh stop DIR               stops it and waits for its end
set -euo pipefail
cmd=$1 dir=$2
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
    rm -f "$dir/interface.db" "$dir/server.port"
    "$server" init --db "$dir/interface.db" --sample 50 --seed 7
    for sql in "$@"; do
      "$server" sql --db "$dir/interface.db" <"$sql"
    done
    # Detached, so that CTest neither waits for it nor holds its output.
    setsid -f sh -c 'echo $$ >"$1/server.pid"; exec "$2" serve --db "$1/interface.db" --port 0 --port-file "$1/server.port" >"$1/server.log" 2>&1' \
      sh "$dir" "$server" </dev/null
    for _ in $(seq 1 100); do
      [ -s "$dir/server.port" ] && exit 0
      sleep 0.05
    done
    echo "interface_server: the server did not start; see $dir/server.log" >&2
    exit 1
    ;;
  stop)
    if [ -f "$dir/server.pid" ]; then
      pid=$(cat "$dir/server.pid")
      # Only the server of this folder: the pid may have been reused since.
      args=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/cmdline" || true)
      if grep -qxF "$dir/interface.db" <<<"$args"; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 1 100); do
          # Gone, or ended and only waiting to be reaped.
          case $(ps -o stat= -p "$pid") in "" | Z*) break ;; esac
          sleep 0.05
        done
      fi
      rm -f "$dir/server.pid"
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
