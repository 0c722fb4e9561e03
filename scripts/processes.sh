# Starting skjk-server and stopping processes, for the scripts that run the
# server beside the plug-in (demo, bench, bench-scale, the Wine tests'
# fixtures). Sourced, not run:
#
#   . scripts/processes.sh
#
#   start_skjk_server [--detached] PORT_FILE LOG SERVER SERVE_OPTION...
#     Runs `SERVER serve --port-file PORT_FILE SERVE_OPTION...` with its
#     output in LOG and waits until it has written its port into PORT_FILE.
#     Then sets server_pid and server_machine (127.0.0.1:PORT) and returns 0.
#     If the server ends first, or has not answered within 10 s (times
#     SKJK_TIME_SCALE), prints LOG to stderr, ends the server and returns 1.
#     --detached: in a session of its own, not a child of this shell (CTest
#     fixtures: CTest then neither waits for it nor holds its output); its
#     pid is also written to PORT_FILE.pid.
#
#   stop_pid PID
#     Ends a process: SIGTERM, then waits until it has ended (a child of
#     this shell is reaped). After 10 s (times SKJK_TIME_SCALE) SIGKILL.
#     An empty PID or a process already gone is no error.

# _skjk_limit SECONDS: the number of 50 ms rounds in SECONDS, scaled.
_skjk_limit() {
  echo $(($1 * 20 * ${SKJK_TIME_SCALE:-1}))
}

# _skjk_alive PID: the process runs (a zombie has ended).
_skjk_alive() {
  case $(ps -o stat= -p "$1" 2>/dev/null) in
    "" | Z*) return 1 ;;
  esac
  return 0
}

stop_pid() {
  local pid=${1:-} round rounds
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || true
  rounds=$(_skjk_limit 10)
  for ((round = 0; round < rounds; round++)); do
    _skjk_alive "$pid" || break
    sleep 0.05
  done
  if _skjk_alive "$pid"; then
    echo "stop_pid: $pid did not end on SIGTERM; killing it" >&2
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}

start_skjk_server() {
  local detached=
  if [ "${1:-}" = --detached ]; then
    detached=1
    shift
  fi
  local port_file=$1 log=$2 server=$3 round rounds
  shift 3
  rm -f "$port_file" "$port_file.pid"
  server_pid=
  server_machine=
  if [ -n "$detached" ]; then
    setsid -f sh -c 'echo $$ >"$1.pid"; shift; exec "$@"' sh "$port_file" \
      "$server" serve --port-file "$port_file" "$@" </dev/null >"$log" 2>&1
  else
    "$server" serve --port-file "$port_file" "$@" >"$log" 2>&1 &
    server_pid=$!
  fi
  rounds=$(_skjk_limit 10)
  for ((round = 0; round < rounds; round++)); do
    if [ -z "$server_pid" ] && [ -s "$port_file.pid" ]; then
      server_pid=$(cat "$port_file.pid")
    fi
    if [ -s "$port_file" ]; then
      server_machine=127.0.0.1:$(cat "$port_file")
      return 0
    fi
    if [ -n "$server_pid" ] && ! _skjk_alive "$server_pid"; then
      break
    fi
    sleep 0.05
  done
  echo "skjk-server did not start ($server serve $*); its log $log:" >&2
  cat "$log" >&2
  stop_pid "$server_pid"
  server_pid=
  return 1
}
