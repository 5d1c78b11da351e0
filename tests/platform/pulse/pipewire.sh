#!/usr/bin/env bash
# Starts or stops a private PipeWire for the tests, its session manager and
# its PulseAudio-protocol server, with everything under <dir> and a D-Bus
# session bus of its own: pipewire.sh start|stop <dir>. Its socket is
# <dir>/pulse/native, as daemon.sh's is, with the same silent default output.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../support/server-fixture.sh
source "$here/../../support/server-fixture.sh"
fixture_args pipewire.sh "$@"
export XDG_RUNTIME_DIR="$dir"
export PIPEWIRE_RUNTIME_DIR="$dir"
export HOME="$dir/home"
export XDG_CONFIG_HOME="$dir/home/config"
export XDG_STATE_HOME="$dir/home/state"
export XDG_DATA_HOME="$dir/home/data"
export PULSE_RUNTIME_PATH="$dir/pulse"
export PULSE_SERVER="unix:$dir/pulse/native"
export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
unset PIPEWIRE_REMOTE DISPLAY WAYLAND_DISPLAY
# No hardware and no system bus: the session manager finds neither.
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$dir/no-system-bus"

# Whether process $1 runs program $2; one that has ended but is not yet
# reaped does not, nor another program that was given its id since.
running() {
  local state
  state=$(sed -n 's/^[0-9]* (\(.*\)) \([A-Z]\).*/\1 \2/p' "/proc/$1/stat" 2>/dev/null)
  [[ "$state" == "$2 "[A-Y] ]]
}

# Whether process $2 runs program $1 (fixture_gone gives the pid last).
# Called only through fixture_poll, as the next one.
# shellcheck disable=SC2317
running_as() {
  running "$2" "$1"
}

# shellcheck disable=SC2317
answers() {
  pactl info >/dev/null 2>&1
}

# Makes the test output the default; whether it now is.
# shellcheck disable=SC2317
test_output_is_default() {
  pactl set-default-sink test_speakers >/dev/null 2>&1
  [[ "$(pactl get-default-sink 2>/dev/null)" == test_speakers ]]
}

# Ends the process whose id is in <dir>/<name>.pid, if it still runs.
end() {
  local program=$1
  [[ $program == dbus ]] && program=dbus-daemon
  local pidfile="$dir/$1.pid"
  [[ -f "$pidfile" ]] || return 0
  local pid
  pid=$(cat "$pidfile" 2>/dev/null)
  if [[ -n "$pid" ]] && running "$pid" "$program"; then
    kill -TERM "$pid" 2>/dev/null
    fixture_poll 10 fixture_gone "$pid" running_as "$program" || kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$pidfile"
}

# Runs a program in the background, its id in <dir>/<name>.pid.
run() {
  local name=$1
  shift
  setsid "$@" >"$dir/$name.log" 2>&1 </dev/null &
  echo $! >"$dir/$name.pid"
}

case "$action" in
start)
  for tool in pipewire wireplumber pipewire-pulse dbus-daemon pactl; do
    fixture_needs "$tool" "PipeWire sound server"
  done
  "$0" stop "$dir" >/dev/null 2>&1
  # A fresh server each time: no defaults remembered from an earlier one.
  rm -rf "${dir:?}/home" "$dir/pulse" "$dir"/pipewire-0*
  mkdir -p "$dir" "$HOME" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME"
  chmod 700 "$dir"
  # The bus starts no service of the machine's own on a call to a name
  # nobody here has claimed (a desktop's portal least of all).
  dbus-daemon --config-file="$here/../portal/bus.conf" --fork --nopidfile --print-pid=3 --address="$DBUS_SESSION_BUS_ADDRESS" 3>"$dir/dbus.pid" \
    || { echo "pipewire.sh: the private D-Bus session bus did not start" >&2; exit 1; }
  # Called only through fixture_start, as the next one.
  # shellcheck disable=SC2317
  launch_pipewire() { run pipewire pipewire; }
  fixture_pidfile="$dir/pipewire.pid"
  fixture_start pipewire "$dir/pipewire.log" launch_pipewire test -S "$dir/pipewire-0"
  run wireplumber wireplumber
  # shellcheck disable=SC2317
  launch_pulse() { run pipewire-pulse pipewire-pulse; }
  fixture_pidfile="$dir/pipewire-pulse.pid"
  fixture_start pipewire-pulse "$dir/pipewire-pulse.log" launch_pulse answers
  pactl load-module module-null-sink sink_name=test_speakers >/dev/null \
    || { echo "pipewire.sh: no test output" >&2; fixture_log "$dir/pipewire-pulse.log"; exit 1; }
  # The session manager picks the default once it has seen the new sink.
  fixture_poll 30 test_output_is_default && exit 0
  echo "pipewire.sh: the test output did not become the default within $(fixture_patience 30) s" >&2
  fixture_log "$dir/wireplumber.log"
  exit 1
  ;;
stop)
  end pipewire-pulse
  end wireplumber
  end pipewire
  end dbus
  exit 0
  ;;
*)
  fixture_usage
  ;;
esac
