#!/usr/bin/env bash
# make bench-scale: the head-office window of the real plug-in loading
# 2,000,000 documents (5 lines each, none invoiced) from skjk-server, under
# Wine; run by hand, not by make test or CI.
#
# The sample database (build/bench/scale-2m.db, about 3 GB; every kind of
# the sample has 2,000,000 documents, the head-office sales are made not
# invoiced) is made once and says how long that took. skjk-host --load
# (tools/host) opens the head-office window, queries every date and waits
# until the status bar reads "记录数=2000000", or fails on a message box
# (printing its text), on another count, or after 20 minutes. Printed:
#  - the time from "刷新" to the count shown, as the host measured it;
#  - the host's peak memory twice: inside, GetProcessMemoryInfo's
#    PeakWorkingSetSize (Wine takes it from /proc), and from outside, the
#    Wine process's VmHWM in /proc read every second (the last reading
#    before it ended, which is what is left when the process is killed);
#  - skjk-server's peak memory (VmHWM).
# The 32-bit build runs, natively or through QEMU's emulator (scripts/wine32),
# and a line says which; only where the kernel runs no 32-bit programs at all
# the 64-bit build stands in, and that line says so. The Wine state (prefix,
# Xvfb display) is build/bench/wine; the host and the plug-in run from
# build/bench/scale (params.cfg beside them). Whatever happens, the server, the host and the Wine session are
# stopped at the end. Exit status 0 only when the count was shown.
set -euo pipefail
cd "$(dirname "$0")/.."
# The whole run, with the server and its clean-up, where 32-bit programs can
# run (scripts/wine32).
[ -n "${SKJK_WINE32_ROUTE:-}" ] || exec scripts/wine32 "$0" "$@"
root=$PWD
documents=2000000
server=${SKJK_BUILD:-build/native}/appserver/skjk-server
dir=build/bench
db=$dir/scale-2m.db
run=$root/$dir/scale
export SKJK_WINE_ARCH=${SKJK_WINE_ARCH:-$(scripts/wine-arch)}
windows=build/$SKJK_WINE_ARCH
# A Wine state of its own, apart from the tests' and the demo's.
export SKJK_WINE_DIR=$root/$dir/wine
# The host's own limit is 20 minutes; this one covers the start as well.
timeout_s=${SKJK_SCALE_TIMEOUT:-1500}

for f in "$server" "$windows/bin/skjk-host.exe" "$windows/bin/skjk.dll"; do
  [ -f "$f" ] || { echo "bench-scale: $f is missing" >&2; exit 1; }
done
echo "bench-scale: $(scripts/wine-arch --say)"
echo "bench-scale: $windows runs under Wine"

server_pid=
host_pid=
wine_started=
. scripts/processes.sh
cleanup() {
  stop_pid "$host_pid"
  stop_pid "$server_pid"
  # Ends every process of this Wine state's prefix, and its Xvfb.
  [ -z "$wine_started" ] || scripts/wine-env stop
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

mkdir -p "$dir"
if [ ! -f "$db" ]; then
  echo "bench-scale: generating $db ($documents documents per kind)"
  rm -f "$db.tmp" "$db.tmp-wal" "$db.tmp-shm"
  start=$(date +%s%N)
  "$server" init --db "$db.tmp" --sample "$documents" --seed 1 --lines 5
  sqlite3 "$db.tmp" "UPDATE XSTXSFP1 SET FPBBH0 = NULL, FPHAO0 = NULL"
  mv "$db.tmp" "$db"
  rm -f "$db.tmp-wal" "$db.tmp-shm"
  ms=$((($(date +%s%N) - start) / 1000000))
  printf 'bench-scale: %s made in %d.%03d s\n' "$db" $((ms / 1000)) \
    $((ms % 1000))
fi

# Served with the server's default limits, as a site would run it.
start_skjk_server "$dir/scale.port" "$dir/scale-server.log" "$server" \
  --db "$db" --port 0 || exit 1
machine=$server_machine

# The plug-in keeps params.cfg beside the host: a folder of this run's own,
# where the host writes the settings it needs on the first start.
mkdir -p "$run"
rm -f "$run"/params.cfg "$run"/load.bmp
cp -f "$windows/bin/skjk-host.exe" "$windows/bin/skjk.dll" "$run/"

wine_started=1
scripts/wine-env start
start=$(date +%s)
scripts/wine-env run "$run/skjk-host.exe" --load "Z:${run//\//\\}" \
  "$documents" "$machine" &
host_pid=$!
# The Wine loader becomes the Windows process (same pid); its VmHWM is
# read every second until it ends.
hwm_kb=
rc=
while kill -0 "$host_pid" 2>/dev/null; do
  kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$host_pid/status" 2>/dev/null || true)
  [ -z "$kb" ] || hwm_kb=$kb
  if [ $(($(date +%s) - start)) -gt "$timeout_s" ]; then
    echo "bench-scale: FAILED: the host ran for more than $timeout_s s" >&2
    rc=124
    break
  fi
  sleep 1
done
if [ -z "$rc" ]; then
  rc=0
  wait "$host_pid" || rc=$?
  host_pid=
fi
# mb KB: kilobytes as megabytes with one decimal.
mb() { printf '%d.%d MB' $(($1 / 1024)) $(($1 % 1024 * 10 / 1024)); }
if [ -n "$hwm_kb" ]; then
  echo "bench-scale: host peak memory (VmHWM of the Wine process, read" \
       "every second): $(mb "$hwm_kb")"
fi
kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$server_pid/status" 2>/dev/null || true)
[ -z "$kb" ] || echo "bench-scale: skjk-server peak memory (VmHWM): $(mb "$kb")"
case $rc in
  0) echo "bench-scale: loaded $documents documents" ;;
  124) echo "bench-scale: FAILED: no result in time (exit status 124)" ;;
  1) echo "bench-scale: FAILED (see the load: lines above)" ;;
  *)
    echo "bench-scale: FAILED: the host ended with status $rc without a" \
         "result (killed, out of memory or crashed?)"
    tail -5 "$dir/scale-server.log" >&2 || true
    ;;
esac
exit "$rc"
