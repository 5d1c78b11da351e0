#!/usr/bin/env bash
# From the release of a press to the first audible sample of the translated
# speech on the virtual microphone, on each private sound server:
#   release-to-speech.sh <parlaro_release_bench>[:<parlaro_release_bench>...] <dir> [starts] [presses]
# Each start is a newly started program (one run of the bench program, see
# bench/release/ReleaseToSpeech.cpp) that makes [presses] presses, 5 and 5 by
# default; several builds run in turn, start by start, on the same server, so
# their figures come side by side from one run. Each start is made once with
# the dense reply and once with a reply with pauses (PARLARO_BENCH_REPLIES
# names one: dense or pauses). PARLARO_SOUND_SERVER names one server
# (pulseaudio or pipewire); both run otherwise. With
# PARLARO_BENCH_OWN_VOICE=1 own voice stays on and each press also reports how
# much of the spoken sentence reached the virtual microphone while it was held.
# With PARLARO_BENCH_ECHO_CANCEL=1 the input is the server's echo-cancelling
# source over the microphone; with PARLARO_BENCH_WINDOW=1 the main window shows
# (offscreen unless QT_QPA_PLATFORM names another platform, such as xcb with
# DISPLAY on an X server), and each start's log tells how long the main thread
# was busy between each release and its speech. With PARLARO_BENCH_CHECK=1
# every start goes through the microphone check with one sentence said into
# it (so "never" is a first press after the check), and with
# PARLARO_BENCH_LOAD=1 a busy thread runs on every core throughout, in a
# session of its own as another program's would.
# PARLARO_BENCH_REPLY and PARLARO_BENCH_REPLY_WORDS give the reply with
# pauses (espeak-ng markup, and its words); PARLARO_BENCH_REPLY_FILE with the
# words, one already spoken (a 16-bit mono WAVE file, as festival's voices
# make them at build time). Each press prints what was heard and its
# translation. With PARLARO_BENCH_NEVER=1 no
# start keeps what recognition learnt for the next, so the first press of
# every start is a "never". The key goes up 0.3 s after the
# recording of the reply ends (espeak-ng ends it with half a second of
# silence); PARLARO_BENCH_KEY_UP=<seconds> cuts that silence off and lets
# the key go up that long after the reply's last sound. The program runs on
# while the reply plays, as it does while a user speaks.
# Prints, per server, reply and build, the first press of the first start
# ("never": the program never heard the microphone before), the first press
# of later starts ("first": it did, in an earlier start) and the later
# presses: median, lowest and highest, in seconds; the word error rate of
# what was recognized; and the texts heard. Skips (code 77) when a
# part is missing.
set -u
usage="usage: release-to-speech.sh <parlaro_release_bench>[:...] <dir> [starts] [presses]"
IFS=: read -ra benches <<<"${1:?$usage}"
dir=$(realpath -m "${2:?$usage}")
starts=${3:-5}
presses=${4:-5}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/bench-common.sh"
platform="$here/../tests/platform"
servers=${PARLARO_SOUND_SERVER:-pulseaudio pipewire}
replies=${PARLARO_BENCH_REPLIES:-dense pauses}
for tool in pactl pacat parec; do
  command -v "$tool" >/dev/null || { echo "release-to-speech.sh: $tool is not installed; skipping" >&2; exit 77; }
done
own=()
[[ "${PARLARO_BENCH_OWN_VOICE:-}" == 1 ]] && own=(--own-voice)
canceller=()
[[ "${PARLARO_BENCH_ECHO_CANCEL:-}" == 1 ]] && canceller=(--echo-cancel)
window=()
[[ "${PARLARO_BENCH_WINDOW:-}" == 1 ]] && window=(--window)
check=()
[[ "${PARLARO_BENCH_CHECK:-}" == 1 ]] && check=(--check)

rm -rf "$dir"
mkdir -p "$dir"
server_script=
busy=()
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  ((${#busy[@]})) && kill -- "${busy[@]}" 2>/dev/null
  [[ -n "$server_script" ]] && "$server_script" stop "$dir/sound" >/dev/null 2>&1
}
trap cleanup EXIT
if [[ "${PARLARO_BENCH_LOAD:-}" == 1 ]]; then
  # The busy threads are another program's, in a session of their own: the
  # scheduler shares the processors between sessions first, and loops
  # within the bench's own session each weighed as much as one of its
  # decoding threads, which no desktop arranges. Ended as one group.
  # shellcheck disable=SC2016 # the inner shell expands them
  setsid bash -c 'for _ in $(seq 1 "$(nproc)"); do (while :; do :; done) & done; wait' &
  busy+=("-$!")
fi

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
    for reply in $replies; do
      paused=()
      [[ "$reply" == pauses ]] && paused=(--pauses)
      for index in "${!benches[@]}"; do
        bench=$(realpath -m "${benches[$index]}")
        home="$dir/home-$server-$reply-$index-$start"
        # What recognition learnt about the microphone stays from one start
        # to the next: the first start never heard it, later ones did.
        state="$dir/state-$server-$reply-$index"
        [[ "${PARLARO_BENCH_NEVER:-}" == 1 ]] && state+="-$start"
        log="$dir/$server-$reply-$index-$start.log"
        PULSE_SERVER="unix:$sound/pulse/native" QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" in_home "$home" "$state" \
          "$bench" "$presses" "${paused[@]}" "${own[@]}" "${canceller[@]}" "${window[@]}" "${check[@]}" >"$log.out" 2>"$log"
        code=$?
        ((code == 77)) && { cat "$log" >&2; exit 77; }
        ((code != 0)) && echo "release-to-speech.sh: $bench failed on $server (start $start); see $log" >&2
        sed "s|^|$server $reply $index $start |" "$log.out" >>"$dir/figures"
      done
    done
  done
  "$server_script" stop "$sound" >/dev/null 2>&1
  server_script=
done

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
# Word errors over the words said, then the texts heard most often, of the
# "heard" lines on standard input.
heard() {
  awk '{ e += $7; w += $8; t = ""; for (c = 9; c <= NF; ++c) t = t (c > 9 ? " " : "") $c; n[t]++ }
    END {
      if (w == 0) { print "none"; exit }
      printf "word errors %.1f%% (%d of %d)", 100 * e / w, e, w
      for (t in n) printf "; %dx \"%s\"", n[t], t
      printf "\n"
    }'
}
for server in $servers; do
  for reply in $replies; do
    echo "== $server, $reply reply"
    for index in "${!benches[@]}"; do
      echo "  ${benches[$index]}"
      # The first press of the first start (the program never heard the
      # microphone), first presses of later starts (it did, in an earlier
      # run), and every later press.
      rows() { awk -v s="$server" -v r="$reply" -v i="$index" -v k="$1" -v w="$2" -v n="${PARLARO_BENCH_NEVER:-0}" \
        '$1 == s && $2 == r && $3 == i && $5 == k && (w == "never" ? ($4 == 1 || n == 1) && $6 == 1 \
          : w == "first" ? $4 > 1 && n != 1 && $6 == 1 : $6 > 1)' "$dir/figures"; }
      for which in never first later; do
        printf "    %-6s presses: " "$which"
        rows press "$which" | awk '{ print $7 }' | spread
        printf "    %-6s stages (median final text, translation, speech starting): " "$which"
        rows stages "$which" | awk '{ print $7, $8, $9 }' | stage_medians
        printf "    %-6s heard: " "$which"
        rows heard "$which" | heard
      done
      if ((${#own[@]})); then
        printf "    own voice heard on the first press (the recording holds %s s of audible speech): " \
          "$(rows own-voice first | awk '{ print $8; exit }')"
        rows own-voice first | awk '{ print $7 }' | spread
        printf "    own voice heard on later presses: "
        rows own-voice later | awk '{ print $7 }' | spread
      fi
    done
  done
done
