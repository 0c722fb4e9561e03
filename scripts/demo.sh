#!/usr/bin/env bash
# make demo: runs the demo host under Wine (the build is done by the Makefile).
#
# The application server, when it is built, serves a sample database
# (build/demo/demo.db, made on first use) on its default port for the length
# of the demo. With $DISPLAY the host runs interactively on that display;
# without, under a private Xvfb with --demo: it opens each of the three
# windows in turn and saves a screenshot of each to a folder printed at the
# end. Nothing is left running afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# Where the kernel cannot run 32-bit programs, the 64-bit build stands in.
export SKJK_WINE_ARCH=${SKJK_WINE_ARCH:-$(scripts/wine-arch)}
win32=${SKJK_DEMO_WIN32_DIR:-build/$SKJK_WINE_ARCH}
server=${SKJK_DEMO_SERVER:-build/native/appserver/skjk-server}
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
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  scripts/wine-env stop
}
trap cleanup EXIT
# Ctrl-C or a kill ends the demo through the same clean-up.
trap 'exit 130' INT TERM HUP

if [ -x "$server" ]; then
  if [ ! -f "$demo/demo.db" ]; then
    echo "demo: creating the sample database $demo/demo.db"
    "$server" init --db "$demo/demo.db" --sample 2000 --seed 1
  fi
  rm -f "$demo/server.port"
  "$server" serve --db "$demo/demo.db" --port-file "$demo/server.port" &
  server_pid=$!
  for _ in $(seq 1 50); do
    [ -s "$demo/server.port" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$server_pid" 2>/dev/null; then
    echo "demo: application server running (pid $server_pid)"
  else
    echo "demo: the application server did not start; the windows will" \
         "report the missing connection" >&2
    server_pid=
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
  mkdir -p "$shots"
  scripts/wine-env start
  rc=0
  timeout 180 scripts/wine-env run "$demo/skjk-host.exe" --demo "Z:${shots//\//\\}" || rc=$?
  for bmp in "$shots"/*.bmp; do
    [ -f "$bmp" ] || continue
    if command -v convert >/dev/null && convert "$bmp" "${bmp%.bmp}.png"; then
      rm -f "$bmp"
    fi
  done
  echo "demo: screenshots in $shots"
  ls "$shots"
  exit $rc
fi
