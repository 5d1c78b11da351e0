#!/usr/bin/env bash
# Starts or stops a private sound server for the tests, with everything under
# <dir>: daemon.sh start|stop <dir>. Its socket is <dir>/pulse/native.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../support/server-fixture.sh
source "$here/../../support/server-fixture.sh"
fixture_args daemon.sh "$@"
export XDG_RUNTIME_DIR="$dir"
export HOME="$dir/home"
export PULSE_RUNTIME_PATH="$dir/pulse"
export PULSE_STATE_PATH="$dir/state"
export PULSE_SERVER="unix:$dir/pulse/native"
unset DBUS_SESSION_BUS_ADDRESS

# The daemon records its own pid in <dir>/pulse/pid once it runs; a start
# that failed leaves none. Called only through fixture_start, as the next one.
fixture_pidfile="$dir/pulse/pid"
# shellcheck disable=SC2317
launch() {
  rm -f "$fixture_pidfile"
  pulseaudio -D --system=false --exit-idle-time=-1 -n -F "$here/ci.pa" --log-target=file:"$dir/pulse.log"
}

# shellcheck disable=SC2317
answers() {
  pactl info >/dev/null 2>&1
}

case "$action" in
start)
  if ! command -v pulseaudio >/dev/null; then
    echo "daemon.sh: pulseaudio is not installed; the sound server tests will skip" >&2
    exit 0
  fi
  mkdir -p "$dir" "$HOME" "$PULSE_STATE_PATH"
  chmod 700 "$dir"
  mkdir -p "$dir/pulse" && chmod 700 "$dir/pulse"
  "$here/daemon.sh" stop "$dir" >/dev/null 2>&1
  fixture_start pulseaudio "$dir/pulse.log" launch answers
  exit 0
  ;;
stop)
  pidfile="$dir/pulse/pid"
  [[ -f "$pidfile" ]] || exit 0
  pactl exit >/dev/null 2>&1
  fixture_poll 10 fixture_ended "$pidfile" || kill -KILL "$(fixture_ours "$pidfile")" 2>/dev/null
  rm -f "$pidfile" "$pidfile.start"
  exit 0
  ;;
*)
  fixture_usage
  ;;
esac
