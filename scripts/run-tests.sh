#!/usr/bin/env bash
# Runs the native tests and the Wine tests through CTest. Whatever the result,
# also when interrupted (Ctrl-C, SIGTERM), no Xvfb, wineserver or application
# server of this run is left running afterwards.
set -uo pipefail
cd "$(dirname "$0")/.."
# The whole run, with the servers it starts and its clean-up, where 32-bit
# programs can run (scripts/wine32).
[ -n "${SKJK_WINE32_ROUTE:-}" ] || exec scripts/wine32 "$0" "$@"
# The Wine tests run on the 32-bit build, or on the 64-bit build of the same
# sources where this machine cannot run 32-bit programs at all.
export SKJK_WINE_ARCH=${SKJK_WINE_ARCH:-$(scripts/wine-arch)}
wine_tree=$PWD/build/$SKJK_WINE_ARCH
export SKJK_WINE_DIR=${SKJK_WINE_DIR:-$wine_tree/wine}
# Every process of this run inherits this mark: the clean-up stops the
# application servers that carry it and no other.
SKJK_TEST_RUN="$$.$(date +%s%N)"
export SKJK_TEST_RUN

# Pids of the running skjk-server processes that carry this run's mark.
marked_servers() {
  local pid env
  for pid in $(pgrep -x skjk-server); do
    env=$(tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ") || continue
    grep -qxF "SKJK_TEST_RUN=$SKJK_TEST_RUN" <<<"$env" && echo "$pid"
  done
}

# The servers the tests started: the Wine tests' fixture server (through its
# own stop), the MariaDB servers, then any other skjk-server of this run (a
# native test's server whose test was killed, a fixture whose stop never
# ran).
stop_servers() {
  tests/e2e/interface_server.sh stop \
    "$wine_tree/tests/e2e/interface_window_e2e_test.d" || true
  # The private MariaDB servers of the native and the Wine tests.
  scripts/mariadb-server stop build/native/mariadb || true
  scripts/mariadb-server stop "$wine_tree/mariadb" || true
  local pids
  pids=$(marked_servers)
  [ -n "$pids" ] || return 0
  # shellcheck disable=SC2086  # one pid per word
  kill -TERM $pids 2>/dev/null
  for _ in $(seq 1 50); do
    pids=$(marked_servers)
    [ -n "$pids" ] || return 0
    sleep 0.1
  done
  # shellcheck disable=SC2086
  kill -KILL $pids 2>/dev/null
}

cleanup() {
  stop_servers
  scripts/wine-env stop
}

# CTest runs as a job of its own (a process group), so that an interruption
# is handled at once, not when CTest ends, and reaches every test it runs.
child=
run() {
  set -m
  "$@" </dev/null &
  child=$!
  set +m
  wait "$child"
  local rc=$?
  child=
  return $rc
}

interrupted() {
  trap '' INT TERM
  if [ -n "$child" ]; then
    # The same signal to CTest and its tests, as Ctrl-C gives a foreground
    # job; whatever of the group is still there after 10 s is killed.
    kill -"$1" -- -"$child" 2>/dev/null
    for _ in $(seq 1 100); do
      kill -0 -- -"$child" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 -- -"$child" 2>/dev/null && kill -KILL -- -"$child"
    wait "$child"
  fi
  exit $((128 + $(kill -l "$1")))
}

trap cleanup EXIT
trap 'interrupted INT' INT
trap 'interrupted TERM' TERM

rc=0
if [ "${1:-all}" != win32 ]; then
  run ctest --preset native || rc=1
fi
if [ "${1:-all}" != native ]; then
  echo "run-tests: $(scripts/wine-arch --say)"
  if [ "$SKJK_WINE_ARCH" = win64 ]; then
    run ctest --preset win32 -LE wine || rc=1
  fi
  run scripts/wine-env prefix
  run ctest --preset "$SKJK_WINE_ARCH" || rc=1
  if [ "$SKJK_WINE_ARCH" = win64 ]; then
    echo "run-tests: WARNING: the Wine tests ran on the 64-bit build; the" \
         "32-bit plug-in that ships was built and its exports checked, never run"
  fi
fi
exit $rc
