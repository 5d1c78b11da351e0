# shellcheck shell=bash
# Sourced by the scripts that run the built program on a private display and
# sound server. They set $running to the program's pid and $server to the
# sound server's address, and define fail, which reports and exits.

# The bounds on waits for events (fixture_patience).
# shellcheck source-path=SCRIPTDIR source=server-fixture.sh
source "${BASH_SOURCE[0]%/*}/server-fixture.sh"

# server_logs <folder>: the end of every log a sound server started by
# daemon.sh or pipewire.sh keeps in <folder>, on standard error.
server_logs() {
  local log
  for log in "$1"/*.log; do
    [[ -f "$log" ]] && fixture_log "$log"
  done
}

# private_home <home>: points the program's home, settings, data and
# single-instance lock into <home>, away from the user's own.
private_home() {
  export HOME="$1" XDG_CONFIG_HOME="$1/config" XDG_DATA_HOME="$1/data" PARLARO_INSTANCE="$1/parlaro-instance"
}

# The start times of the programs launched, by pid: bash reaps a program
# that ended at once, and on a busy machine its pid may come round to
# another process while a test still polls for its end.
declare -A began
# launched <pid>: records a program just started in the background.
launched() {
  running=$1
  began[$1]=$(fixture_started "$1")
}
# program_runs <pid>: the program launched with that pid still runs.
program_runs() {
  [[ -n "$1" && "$(fixture_started "$1")" == "${began[$1]:-none}" ]]
}

# Polls a command for up to $1 seconds (stretched by fixture_patience) while
# the program runs.
within() {
  local limit
  limit=$(fixture_patience "$1")
  shift
  local end=$((SECONDS + limit))
  while ((SECONDS < end)); do
    "$@" && return 0
    program_runs "$running" || return 1
    sleep 0.1
  done
  return 1
}

# shellcheck disable=SC2154 # $server is the sourcing script's
virtual_mic_listed() { PULSE_SERVER=$server pactl list short sources | grep -q parlaro_virtualmic_input; }

# Sends SIGTERM and expects exit 0. The quit gives the input back through
# the sound server, which a busy machine may keep waiting for seconds; only
# a hang runs out the bound.
terminate() {
  local sent=${EPOCHREALTIME/./}
  kill -TERM "$running"
  fixture_poll 30 fixture_gone "$running" program_runs || fail "still running $(fixture_patience 30) s after SIGTERM"
  echo "ended $(((${EPOCHREALTIME/./} - sent) / 1000)) ms after SIGTERM"
  wait "$running"
  local code=$?
  running=
  ((code == 0)) || fail "exit code $code after SIGTERM"
}

# lose_display <pid file> <what>: kills the display server whose pid is in
# <pid file> under the program, which must end by itself.
lose_display() {
  kill -KILL "$(fixture_ours "$1")"
  fixture_poll 30 fixture_gone "$running" program_runs \
    || fail "still running $(fixture_patience 30) s after the $2 went away"
  wait "$running"
  echo "exit code $? after the $2 went away"
  running=
}
