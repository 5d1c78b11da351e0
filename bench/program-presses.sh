#!/usr/bin/env bash
# From the release of a press to the first audible sample of the translated
# speech on the virtual microphone, on the built program itself as a user
# holds its shortcut, to set beside bench/release-to-speech.sh's figures:
#   program-presses.sh <parlaro>[:<parlaro>...] <parlaro_program_presses> <dir> [starts] [presses]
# On a private X server and a private sound server (PulseAudio, or PipeWire
# with PARLARO_SOUND_SERVER=pipewire), each start (5 by default) is a newly
# started program with English as my language and Spanish as theirs, right
# Control as its hold shortcut and a 48 kHz microphone (a null sink's
# monitor remapped as a sound card's source) as the default input; the
# presses tool confirms its microphone check (a click on its button) and
# makes [presses] presses (5; own voice on, as the program turns it on)
# with pocketsphinx's dense reply (with PARLARO_BENCH_REPLY_FILE, that
# 16-bit mono WAVE file instead). Several programs run start by start in
# turn. With PARLARO_BENCH_NEVER=1 no start keeps what recognition learnt
# for the next; with PARLARO_BENCH_LOAD=1 a busy thread runs on every core
# throughout, in a session of its own as another program's would. Prints
# per program the first presses ("never" where nothing was learnt before,
# "first" otherwise) and the later ones: median, lowest and highest, in
# seconds. Skips (code 77) when a part is missing.
set -u
usage="usage: program-presses.sh <parlaro>[:...] <parlaro_program_presses> <dir> [starts] [presses]"
IFS=: read -ra programs <<<"${1:?$usage}"
tool=$(realpath -m "${2:?$usage}")
dir=$(realpath -m "${3:?$usage}")
starts=${4:-5}
presses=${5:-5}
here=$(cd "$(dirname "$0")" && pwd)
platform="$here/../tests/platform"
source "$here/bench-common.sh"
server_script=$(sound_server_script "$platform")
if [[ -z "$server_script" ]]; then
  echo "program-presses.sh: unknown sound server ${PARLARO_SOUND_SERVER}" >&2
  exit 2
fi
for need in Xvfb xwininfo pacat parec pactl; do
  command -v "$need" >/dev/null || { echo "program-presses.sh: $need is not installed; skipping" >&2; exit 77; }
done
paused=()
[[ -n "${PARLARO_BENCH_REPLY_FILE:-}" ]] && paused=(--pauses)

rm -rf "$dir"
mkdir -p "$dir"
busy=()
running=
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  [[ -n "$running" ]] && kill -KILL "$running" 2>/dev/null
  ((${#busy[@]})) && kill -- "${busy[@]}" 2>/dev/null
  "$server_script" stop "$dir/sound-test" >/dev/null 2>&1
  "$platform/x11/xvfb.sh" stop "$dir/x" >/dev/null 2>&1
}
trap cleanup EXIT
if [[ "${PARLARO_BENCH_LOAD:-}" == 1 ]]; then
  # shellcheck disable=SC2016 # the inner shell expands them
  setsid bash -c 'for _ in $(seq 1 "$(nproc)"); do (while :; do :; done) & done; wait' &
  busy+=("-$!")
fi
"$platform/x11/xvfb.sh" start "$dir/x" >/dev/null || { echo "program-presses.sh: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(cat "$dir/x/display")"
export DISPLAY
# The fixtures' servers live in a folder named "<something>-test".
"$server_script" start "$dir/sound-test" >/dev/null || { echo "program-presses.sh: no sound server" >&2; exit 1; }
export PULSE_SERVER="unix:$dir/sound-test/pulse/native"
pactl load-module module-null-sink sink_name=bench_voice rate=48000 channels=1 >/dev/null
pactl load-module module-remap-source master=bench_voice.monitor source_name=bench_mic \
  "source_properties='device.api=alsa device.description=Microphone'" >/dev/null
shortcut=$(printf '{"modifier":{"_0":"rightControl"}}' | base64 -w0)

for start in $(seq 1 "$starts"); do
  for index in "${!programs[@]}"; do
    program=$(realpath -m "${programs[$index]}")
    home="$dir/home-$index-$start"
    state="$dir/state-$index"
    [[ "${PARLARO_BENCH_NEVER:-}" == 1 ]] && state+="-$start"
    mkdir -p "$home/config/parlaro"
    # shellcheck disable=SC2016 # "$data" is the settings file's own
    printf '{"myLanguage": "en", "theirLanguage": "es", "onboardingDone": true, "holdShortcut": {"$data": "%s"}}\n' \
      "$shortcut" >"$home/config/parlaro/settings.json"
    pactl set-default-source bench_mic
    log="$dir/$index-$start.log"
    QT_QPA_PLATFORM=xcb in_home "$home" "$state" "$program" >"$log" 2>&1 &
    running=$!
    for _ in $(seq 1 600); do
      pactl list short sources | grep -q parlaro_virtualmic_input && break
      sleep 0.1
    done
    # The microphone check confirmed once it shows: a click on its button,
    # 59 px from its right edge and 51 px from its foot, until it goes.
    shown=
    for _ in $(seq 1 300); do
      check=$(xwininfo -name "Check the microphone" 2>/dev/null)
      if [[ "$check" == *IsViewable* ]]; then
        shown=1
        PARLARO_BENCH_CONFIRM_AT=$(awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
          /Width/ { w = $2 } /Height/ { h = $2 } END { print x + w - 59, y + h - 51 }' <<<"$check") "$tool" 0
        sleep 1
      elif [[ -n "$shown" ]]; then
        break
      fi
      sleep 0.2
    done
    # The model loaded.
    sleep 3
    "$tool" "$presses" "${paused[@]}" >"$log.out" 2>>"$log" \
      || echo "program-presses.sh: ${programs[$index]} failed (start $start); see $log" >&2
    sed "s|^|$index $start |" "$log.out" >>"$dir/figures"
    kill -TERM "$running"
    wait "$running" 2>/dev/null
    running=
  done
done

echo "== ${PARLARO_SOUND_SERVER:-pulseaudio}"
for index in "${!programs[@]}"; do
  echo "  ${programs[$index]}"
  for which in never first later; do
    printf "    %-6s presses: " "$which"
    awk -v i="$index" -v w="$which" -v n="${PARLARO_BENCH_NEVER:-0}" '$1 == i && $3 == "press" \
      && (w == "never" ? ($2 == 1 || n == 1) && $4 == 1 : w == "first" ? $2 > 1 && n != 1 && $4 == 1 : $4 > 1) \
      { print $5 }' "$dir/figures" | spread
  done
done
