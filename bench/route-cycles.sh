#!/usr/bin/env bash
# Starts and quits the built program again and again on a private sound
# server that lags behind, and counts how often the user's default input is
# lost (the virtual microphone left the default with no record to give it
# back by) and how often a notice came up although the switch happened:
#   route-cycles.sh <parlaro> <pulseaudio|pipewire> <cycles> <mic|nomic> <dir>
# mic: a microphone is the default input; each run lasts 9 s, and the
# server's part that applies defaults (PipeWire's session manager, or the
# PulseAudio daemon) is held still 0.3-1.5 s around half the starts and
# quits (from the moment the program's connection appears, as it is about
# to switch). nomic: the default input is the speakers' monitor, the
# session manager is held still 1.5 s at every start and the program quits
# 0.2-1.0 s into that.
# PARLARO_BENCH_EVERY=1 holds it still around every start and quit instead.
# PARLARO_BENCH_LOAD busy loops (the core count unless set) load the machine
# meanwhile. Prints one line of counts.
set -u
program=$(realpath "${1:?usage: route-cycles.sh <parlaro> <server> <cycles> <mic|nomic> <dir>}")
kind=${2:?}
cycles=${3:?}
mode=${4:?}
dir=$(realpath -m "${5:?}")
here=$(cd "$(dirname "$0")" && pwd)
tests="$here/../tests"
# shellcheck source-path=SCRIPTDIR source=../tests/support/program-run.sh
source "$tests/support/program-run.sh"
case "$kind" in
pulseaudio) sound="$tests/platform/pulse/daemon.sh" ;;
pipewire) sound="$tests/platform/pulse/pipewire.sh" ;;
*) echo "route-cycles.sh: unknown server $kind" >&2; exit 2 ;;
esac

rm -rf "$dir"
mkdir -p "$dir/home" && chmod 700 "$dir/home"
hogs=()
cleanup() {
  [[ -n "${running:-}" ]] && kill -KILL "$running" 2>/dev/null
  [[ -n "${stalled:-}" ]] && kill -CONT "$stalled" 2>/dev/null
  ((${#hogs[@]})) && kill "${hogs[@]}" 2>/dev/null
  "$sound" stop "$dir/sound" >/dev/null 2>&1
  "$tests/platform/x11/xvfb.sh" stop "$dir/x" >/dev/null 2>&1
}
trap cleanup EXIT
fail() {
  echo "route-cycles.sh: $*" >&2
  exit 1
}

"$tests/platform/x11/xvfb.sh" start "$dir/x" || fail "Xvfb did not start"
display=$(cat "$dir/x/display")
export DISPLAY=":$display"
"$sound" start "$dir/sound" || fail "the sound server did not start"
server="unix:$dir/sound/pulse/native"
export PULSE_SERVER=$server QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$dir/home" LANG=C.UTF-8 LANGUAGE=en
private_home "$dir/home"
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
export ASAN_OPTIONS=detect_leaks=0
if [[ $kind == pipewire ]]; then
  applier=$(cat "$dir/sound/wireplumber.pid")
else
  applier=$(cat "$dir/sound/pulse/pid")
fi

user=test_speakers.monitor
if [[ $mode == mic ]]; then
  pactl load-module module-null-sink sink_name=test_mic_voice >/dev/null
  pactl load-module module-remap-source source_name=test_mic master=test_mic_voice.monitor \
    "source_properties='device.api=alsa device.description=Microphone'" >/dev/null
  user=test_mic
fi
choose_user_input() {
  local _
  for _ in $(seq 1 50); do
    pactl set-default-source "$user" >/dev/null 2>&1
    [[ "$(pactl get-default-source)" == "$user" ]] && return 0
    sleep 0.1
  done
  return 1
}
choose_user_input || fail "$user did not become the default input"

for _ in $(seq 1 "${PARLARO_BENCH_LOAD:-$(nproc)}"); do
  (while :; do :; done) &
  hogs+=($!)
done

# Holds the applier still for $1 seconds in the background.
stall() {
  stalled=$applier
  kill -STOP "$applier"
  (sleep "$1"; kill -CONT "$applier") &
}
random_between() { awk -v a="$1" -v b="$2" -v r="$RANDOM" 'BEGIN { printf "%.2f", a + (b - a) * r / 32767 }'; }
notice_shown() { xwininfo -root -tree 2>/dev/null | grep -q '"Notice"'; }
recorded() { grep -q systemAudioRouteRecovery "$XDG_CONFIG_HOME/parlaro/settings.json" 2>/dev/null; }

every=${PARLARO_BENCH_EVERY:-0}
lost=0 false_notices=0 kept=0 repaired=0 taken=0
for cycle in $(seq 1 "$cycles"); do
  had_record=0
  recorded && had_record=1
  "$program" >>"$dir/parlaro.log" 2>&1 &
  running=$!
  # The stall starts as the program's connection appears on the server: it
  # is about to load the virtual microphone and switch the default input.
  if [[ $mode == nomic || $every == 1 ]] || ((RANDOM % 2)); then
    for _ in $(seq 1 400); do
      pactl list short clients 2>/dev/null | grep -q 'parlaro$' && break
      sleep 0.01
    done
    if [[ $mode == nomic ]]; then
      stall 1.5
    else
      stall "$(random_between 0.3 1.5)"
    fi
  fi
  if [[ $mode == nomic ]]; then
    sleep "$(random_between 0.2 1.0)"
  else
    noticed=0
    end=$((SECONDS + 9))
    while ((SECONDS < end)); do
      notice_shown && noticed=1
      sleep 0.25
    done
    if [[ "$(pactl get-default-source)" == parlaro_virtualmic_input ]]; then
      taken=$((taken + 1))
      ((noticed)) && false_notices=$((false_notices + 1))
    fi
    ((every || RANDOM % 2)) && stall "$(random_between 0.3 1.5)"
  fi
  kill -TERM "$running"
  for _ in $(seq 1 200); do kill -0 "$running" 2>/dev/null || break; sleep 0.05; done
  kill -KILL "$running" 2>/dev/null
  wait "$running" 2>/dev/null
  running=
  # Whatever the server was sent lands once the applier runs again.
  sleep 2.5
  now=$(pactl get-default-source)
  if [[ "$now" == "$user" ]]; then
    ((had_record)) && repaired=$((repaired + 1))
  elif recorded; then
    kept=$((kept + 1))
  else
    lost=$((lost + 1))
    echo "cycle $cycle: the default input stayed $now with no record" >>"$dir/lost.log"
    choose_user_input
  fi
done
echo "$kind $mode $cycles cycles: $taken taken over, $lost lost, $false_notices false notices, $kept records kept for the next start," \
  "$repaired repaired by a start (load $(cut -d' ' -f1 /proc/loadavg))"
