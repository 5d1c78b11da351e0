#!/usr/bin/env bash
# From the release of a press to the first audible sample of the translated
# speech on the virtual microphone, on each private sound server:
#   release-to-speech.sh <parlaro_release_bench>[:<parlaro_release_bench>...] <dir> [starts] [presses]
# Each start is a newly started program (one run of the bench program, see
# bench/release/ReleaseToSpeech.cpp) that makes [presses] presses, 5 and 5 by
# default; several builds run in turn, start by start, on the same server, so
# their figures come side by side from one run. PARLARO_SOUND_SERVER names one
# server (pulseaudio or pipewire); both run otherwise. With
# PARLARO_BENCH_OWN_VOICE=1 own voice stays on and each press also reports how
# much of the spoken sentence reached the virtual microphone while it was held.
# With PARLARO_BENCH_ECHO_CANCEL=1 the input is the server's echo-cancelling
# source over the microphone; with PARLARO_BENCH_WINDOW=1 the main window shows
# (offscreen unless QT_QPA_PLATFORM names another platform, such as xcb with
# DISPLAY on an X server), and each start's log tells how long the main thread
# was busy between each release and its speech.
# Prints, per server and build, the first press of each start and the later
# presses: median, lowest and highest, in seconds. Skips (code 77) when a
# part is missing.
set -u
usage="usage: release-to-speech.sh <parlaro_release_bench>[:...] <dir> [starts] [presses]"
IFS=: read -ra benches <<<"${1:?$usage}"
dir=$(realpath -m "${2:?$usage}")
starts=${3:-5}
presses=${4:-5}
here=$(cd "$(dirname "$0")" && pwd)
platform="$here/../tests/platform"
servers=${PARLARO_SOUND_SERVER:-pulseaudio pipewire}
for tool in pactl pacat parec; do
  command -v "$tool" >/dev/null || { echo "release-to-speech.sh: $tool is not installed; skipping" >&2; exit 77; }
done
own=()
[[ "${PARLARO_BENCH_OWN_VOICE:-}" == 1 ]] && own=(--own-voice)
canceller=()
[[ "${PARLARO_BENCH_ECHO_CANCEL:-}" == 1 ]] && canceller=(--echo-cancel)
window=()
[[ "${PARLARO_BENCH_WINDOW:-}" == 1 ]] && window=(--window)

rm -rf "$dir"
mkdir -p "$dir"
server_script=
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  [[ -n "$server_script" ]] && "$server_script" stop "$dir/sound" >/dev/null 2>&1
}
trap cleanup EXIT

for server in $servers; do
  case "$server" in
  pulseaudio) server_script="$platform/pulse/daemon.sh"; needs=pulseaudio ;;
  pipewire) server_script="$platform/pulse/pipewire.sh"; needs=pipewire-pulse ;;
  *) echo "release-to-speech.sh: unknown sound server $server" >&2; exit 2 ;;
  esac
  command -v "$needs" >/dev/null || { echo "release-to-speech.sh: $needs is not installed; skipping" >&2; exit 77; }
  # The fixtures' servers live in a folder named "<something>-test".
  sound="$dir/$server-test"
  "$server_script" start "$sound" >/dev/null || { echo "release-to-speech.sh: $server did not start" >&2; exit 1; }
  for start in $(seq 1 "$starts"); do
    for index in "${!benches[@]}"; do
      bench=$(realpath -m "${benches[$index]}")
      home="$dir/home-$server-$index-$start"
      mkdir -p "$home/config" "$home/data" && chmod 700 "$home"
      log="$dir/$server-$index-$start.log"
      HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_RUNTIME_DIR="$home" \
        PARLARO_INSTANCE="$home/parlaro-instance" PULSE_SERVER="unix:$sound/pulse/native" \
        QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" DBUS_SESSION_BUS_ADDRESS='' WAYLAND_DISPLAY='' \
        "$bench" "$presses" "${own[@]}" "${canceller[@]}" "${window[@]}" >"$log.out" 2>"$log"
      code=$?
      ((code == 77)) && { cat "$log" >&2; exit 77; }
      ((code != 0)) && echo "release-to-speech.sh: $bench failed on $server (start $start); see $log" >&2
      sed "s|^|$server $index |" "$log.out" >>"$dir/figures"
    done
  done
  "$server_script" stop "$sound" >/dev/null 2>&1
  server_script=
done

# Median, lowest and highest of the numbers on standard input.
spread() {
  sort -n | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "none"; exit }
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "median %.3f s (%.3f-%.3f, %d)\n", m, v[1], v[NR], NR
  }'
}
# The median of each of three columns. A stage over between two of the
# bench's looks at the model is -1 and left out.
stage_medians() {
  awk '{ for (c = 1; c <= 3; ++c) v[c, NR] = $c } END {
    if (NR == 0) { print "none"; exit }
    for (c = 1; c <= 3; ++c) {
      n = 0
      for (r = 1; r <= NR; ++r) if (v[c, r] >= 0) a[++n] = v[c, r]
      asort(a)
      m = n == 0 ? -1 : n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
      printf "%s%.3f", (c > 1 ? ", " : ""), m
      delete a
    }
    printf " s\n"
  }'
}
for server in $servers; do
  echo "== $server"
  for index in "${!benches[@]}"; do
    echo "  ${benches[$index]}"
    printf "    first press:   "
    awk -v s="$server" -v i="$index" '$1 == s && $2 == i && $3 == "press" && $4 == 1 { print $5 }' "$dir/figures" | spread
    printf "    later presses: "
    awk -v s="$server" -v i="$index" '$1 == s && $2 == i && $3 == "press" && $4 > 1 { print $5 }' "$dir/figures" | spread
    for which in first later; do
      printf "    %-6s stages (median final text, translation, speech starting): " "$which"
      awk -v s="$server" -v i="$index" -v w="$which" '$1 == s && $2 == i && $3 == "stages" \
        && ((w == "first") == ($4 == 1)) { print $5, $6, $7 }' "$dir/figures" | stage_medians
    done
    if ((${#own[@]})); then
      printf "    own voice heard on the first press (the recording holds %s s of audible speech): " \
        "$(awk -v s="$server" -v i="$index" '$1 == s && $2 == i && $3 == "own-voice" { print $6; exit }' "$dir/figures")"
      awk -v s="$server" -v i="$index" '$1 == s && $2 == i && $3 == "own-voice" && $4 == 1 { print $5 }' "$dir/figures" | spread
      printf "    own voice heard on later presses: "
      awk -v s="$server" -v i="$index" '$1 == s && $2 == i && $3 == "own-voice" && $4 > 1 { print $5 }' "$dir/figures" | spread
    fi
  done
done
