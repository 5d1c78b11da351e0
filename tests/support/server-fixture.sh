# shellcheck shell=bash
# Sourced by the scripts that start and stop a private server for the tests
# (<name> start|stop <dir>), so that they all record the server, wait for it
# and end it the same way. The server's pid goes to <dir>/pid.

# fixture_args <name> <action> <dir>: sets fixture_name, action and dir (made
# absolute), or exits 2 with the usage when either argument is missing.
fixture_args() {
  fixture_name=$1
  action=${2:-}
  dir=${3:-}
  if [[ -z "$action" || -z "$dir" ]]; then
    fixture_usage
  fi
  dir=$(realpath -m "$dir")
  # What the caller left open would live on in the server: a sanitized test
  # binary's pipe to its symbolizer would then never close, and the test
  # runner would wait on it for as long as the server runs.
  local fd
  for fd in /proc/$$/fd/*; do
    fd=${fd##*/}
    if ((fd > 2 && fd != 255)); then
      eval "exec $fd>&-" 2>/dev/null
    fi
  done
}

fixture_usage() {
  echo "usage: $fixture_name start|stop <dir>" >&2
  exit 2
}

# fixture_needs <program> <tests>: a missing server is not a failure; the
# tests see nothing written, and skip saying so.
fixture_needs() {
  if ! command -v "$1" >/dev/null; then
    echo "$fixture_name: $1 is not installed; the $2 tests will skip" >&2
    exit 0
  fi
}

# fixture_poll <tries> <command...>: succeeds once the command does, trying
# it every 0.05 s up to <tries> times; fails when the tries run out.
fixture_poll() {
  local tries=$1
  shift
  for _ in $(seq 1 "$tries"); do
    "$@" && return 0
    sleep 0.05
  done
  return 1
}

# Ready, or the server recorded in <dir>/pid has ended: nothing more to wait
# for either way.
fixture_ready_or_gone() {
  "$@" || ! kill -0 "$(cat "$dir/pid")" 2>/dev/null
}

# fixture_await <program> <log> <tries> <ready command...>: returns once the
# command succeeds, polling every 0.05 s up to <tries> times. Exits 1,
# pointing at <log>, when the server recorded in <dir>/pid ends first or the
# tries run out.
fixture_await() {
  local program=$1 log=$2 tries=$3
  shift 3
  fixture_poll "$tries" fixture_ready_or_gone "$@" && "$@" && return 0
  echo "$fixture_name: $program did not start; see $log" >&2
  exit 1
}

# fixture_gone <pid> [<check...>]: whether the process has ended; the check
# (given the pid last) says so instead of kill -0 when given.
fixture_gone() {
  local pid=$1
  shift
  if (($# > 0)); then
    ! "$@" "$pid"
  else
    ! kill -0 "$pid" 2>/dev/null
  fi
}

# fixture_stop <file...>: ends the server in <dir>/pid, with SIGKILL if
# SIGTERM has not ended it in 5 s, removes the pid file and <file...>, and
# exits 0; also when nothing was started.
fixture_stop() {
  local pidfile="$dir/pid" pid
  [[ -f "$pidfile" ]] || exit 0
  pid=$(cat "$pidfile" 2>/dev/null)
  if [[ -n "$pid" ]]; then
    kill -TERM "$pid" 2>/dev/null
    fixture_poll 100 fixture_gone "$pid" || kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$pidfile" "$@"
  exit 0
}
