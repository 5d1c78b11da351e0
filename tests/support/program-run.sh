# shellcheck shell=bash
# Sourced by the scripts that run the built program on a private display and
# sound server. They set $running to the program's pid and $server to the
# sound server's address, and define fail, which reports and exits.

# private_home <home>: points the program's home, settings, data and
# single-instance lock into <home>, away from the user's own.
private_home() {
  export HOME="$1" XDG_CONFIG_HOME="$1/config" XDG_DATA_HOME="$1/data" PARLARO_INSTANCE="$1/parlaro-instance"
}

# Polls a command for up to $1 seconds while the program runs.
within() {
  local limit=$1
  shift
  local end=$((SECONDS + limit))
  while ((SECONDS < end)); do
    "$@" && return 0
    kill -0 "$running" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# shellcheck disable=SC2154 # $server is the sourcing script's
virtual_mic_listed() { PULSE_SERVER=$server pactl list short sources | grep -q parlaro_virtualmic_input; }

# Sends SIGTERM and expects exit 0 within 5 s.
terminate() {
  kill -TERM "$running"
  local end=$((SECONDS + 5))
  while kill -0 "$running" 2>/dev/null && ((SECONDS < end)); do sleep 0.05; done
  kill -0 "$running" 2>/dev/null && fail "still running 5 s after SIGTERM"
  wait "$running"
  local code=$?
  running=
  ((code == 0)) || fail "exit code $code after SIGTERM"
}

# lose_display <pid file> <what>: kills the display server whose pid is in
# <pid file> under the program, which must end by itself within 30 s.
lose_display() {
  kill -KILL "$(cat "$1")"
  local end=$((SECONDS + 30))
  while kill -0 "$running" 2>/dev/null && ((SECONDS < end)); do sleep 0.05; done
  kill -0 "$running" 2>/dev/null && fail "still running 30 s after the $2 went away"
  wait "$running"
  echo "exit code $? after the $2 went away"
  running=
}
