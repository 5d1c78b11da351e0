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

# fixture_patience <seconds>: the bound on a wait for a server's readiness or
# a process's end, which only a hang reaches: a busy machine (a build, other
# users' servers) can stretch a start of milliseconds to many seconds.
# PARLARO_TEST_PATIENCE, a factor (its whole part here), stretches it further.
fixture_patience() {
  local factor=${PARLARO_TEST_PATIENCE:-1}
  factor=${factor%%.*}
  [[ "$factor" =~ ^[0-9]+$ ]] && ((factor >= 1)) || factor=1
  echo $(($1 * factor))
}

# fixture_poll <seconds> <command...>: succeeds once the command does, trying
# it every 0.05 s; fails once <seconds> (stretched by fixture_patience) have
# passed, however few tries a loaded machine let it make.
fixture_poll() {
  local bound
  bound=$(fixture_patience "$1")
  shift
  local end=$((${EPOCHREALTIME/./} + bound * 1000000))
  while ((${EPOCHREALTIME/./} < end)); do
    "$@" && return 0
    sleep 0.05
  done
  "$@"
}

# Ready, or the server recorded in its pid file ($fixture_pidfile, else
# <dir>/pid) has ended: nothing more to wait for either way.
fixture_ready_or_gone() {
  "$@" || ! kill -0 "$(cat "${fixture_pidfile:-$dir/pid}" 2>/dev/null)" 2>/dev/null
}

# fixture_log <log>: the end of a server's log, on standard error, where the
# test runner shows it.
fixture_log() {
  if [[ -s "$1" ]]; then
    echo "--- the end of $1:" >&2
    tail -n 40 "$1" >&2
  else
    echo "--- $1 is empty" >&2
  fi
}

# fixture_started <pid>: when the process began (clock ticks since boot),
# which tells it from a later process handed the same pid after it ended: on
# a busy machine the pids (32,768 by default) come round within seconds.
fixture_started() {
  local stat fields
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  read -ra fields <<<"${stat##*) }"
  echo "${fields[19]}"
}

# fixture_ours <pidfile>: prints the pid in <pidfile> while it is still the
# server recorded there (begun when <pidfile>.start says, if it says);
# fails once that server has ended, whoever has its pid now.
fixture_ours() {
  local pid
  pid=$(cat "$1" 2>/dev/null)
  [[ -n "$pid" ]] && kill -0 "$pid" 2>/dev/null || return 1
  if [[ -f "$1.start" ]]; then
    [[ "$(fixture_started "$pid")" == "$(cat "$1.start")" ]] || return 1
  fi
  echo "$pid"
}

# fixture_ended <pidfile>: the recorded server has ended.
fixture_ended() {
  ! fixture_ours "$1" >/dev/null
}

# fixture_start <program> <log> <launch> <ready command...>: runs <launch>,
# which starts the server with its output in <log> and its pid in its pid
# file, and waits for the ready command. A server that ends before it is ready
# failed for a reason of the moment outside the test, most often a display
# number or socket another server took in the same instant: the log says so,
# its own log is kept beside as <log>.<try>, and it is started again, three
# times at most. One that neither ends nor gets ready within 30 s hangs, and
# is not tried again. Exits 1, with the log, when it does not start.
fixture_start() {
  local program=$1 log=$2 launch=$3 pidfile=${fixture_pidfile:-$dir/pid}
  shift 3
  local try
  for try in 1 2 3; do
    rm -f "$pidfile.start"
    "$launch"
    if ! fixture_poll 30 fixture_ready_or_gone "$@"; then
      echo "$fixture_name: $program neither got ready nor ended within $(fixture_patience 30) s" >&2
      fixture_log "$log"
      exit 1
    fi
    if "$@"; then
      fixture_started "$(cat "$pidfile" 2>/dev/null)" >"$pidfile.start" || rm -f "$pidfile.start"
      return 0
    fi
    echo "$fixture_name: $program ended before it was ready (try $try of 3); its log is kept as $log.$try" >&2
    fixture_log "$log"
    mv -f "$log" "$log.$try" 2>/dev/null
    rm -f "$pidfile"
  done
  echo "$fixture_name: $program did not start in 3 tries" >&2
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
# SIGTERM has not ended it in 10 s, removes the pid file and <file...>, and
# exits 0; also when nothing was started. A server that ended by itself (or
# was killed by a test) leaves its pid to whatever process gets it next,
# perhaps another test's server: that one is left alone.
fixture_stop() {
  local pidfile="$dir/pid" pid
  [[ -f "$pidfile" ]] || exit 0
  if pid=$(fixture_ours "$pidfile"); then
    kill -TERM "$pid" 2>/dev/null
    fixture_poll 10 fixture_ended "$pidfile" || kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$pidfile" "$pidfile.start" "$@"
  exit 0
}
