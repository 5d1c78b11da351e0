#!/usr/bin/env bash
# What the built program costs while it captions the other party, measured
# on the program itself:
#   captioning-program.sh <parlaro>[:<parlaro>...] <parlaro_bench> <dir> [seconds]
# Several programs (two builds to compare) run one after the other, each on
# fresh servers and in a folder of <dir> named after it, in one go.
# On a private X server and a private sound server (PulseAudio, or PipeWire
# with PARLARO_SOUND_SERVER=pipewire) the program runs with English as their
# language and Spanish as mine; continuous English speech (pocketsphinx's test
# recordings with half-second gaps, looped to [seconds], 60 by default) plays
# as another program's stream and a recorder reads the virtual microphone, as
# a call app would. Beside it, at the same time and real speed,
# BM_BareDecodeOfFile decodes the same recording with pocketsphinx alone.
# Prints the program's processor time per second of audio, the bare decode's,
# their ratio, each thread's share, and the resident set as the program
# came up, listening idle and at the end (the memory maps of the last two are
# kept in <dir>/smaps.idle and smaps.end).
# Skips (code 77) when a part is missing.
set -u
if [[ "$1" == *:* ]]; then
  IFS=: read -ra programs <<<"$1"
  code=0
  for one in "${programs[@]}"; do
    echo "== $one"
    "$0" "$one" "$2" "$3/$(basename "$one")" "${@:4}" || code=$?
  done
  exit "$code"
fi
program=$(realpath -m "${1:?usage: captioning-program.sh <parlaro> <parlaro_bench> <dir> [seconds]}")
bench=$(realpath -m "${2:?usage: captioning-program.sh <parlaro> <parlaro_bench> <dir> [seconds]}")
dir=$(realpath -m "${3:?usage: captioning-program.sh <parlaro> <parlaro_bench> <dir> [seconds]}")
seconds=${4:-60}
here=$(cd "$(dirname "$0")" && pwd)
platform="$here/../tests/platform"
data=/usr/share/pocketsphinx/test/data
# shellcheck source-path=SCRIPTDIR source=../tests/support/program-run.sh
source "$here/../tests/support/program-run.sh"
fail() {
  echo "captioning-program.sh: $*" >&2
  exit 1
}
source "$here/bench-common.sh"
server_script=$(sound_server_script "$platform")
if [[ -z "$server_script" ]]; then
  echo "captioning-program.sh: unknown sound server ${PARLARO_SOUND_SERVER}" >&2
  exit 2
fi
for tool in Xvfb paplay parecord pactl; do
  command -v "$tool" >/dev/null || { echo "captioning-program.sh: $tool is not installed; skipping" >&2; exit 77; }
done
[[ -f "$data/goforward.raw" ]] || { echo "captioning-program.sh: no pocketsphinx test recordings; skipping" >&2; exit 77; }

rm -rf "$dir"
mkdir -p "$dir/home/config/parlaro" "$dir/home/data" && chmod 700 "$dir/home"
# shellcheck disable=SC2317 # run by the trap
cleanup() {
  for pid in ${recorder:-} ${player:-} ${running:-}; do kill -KILL "$pid" 2>/dev/null; done
  "$server_script" stop "$dir/sound" >/dev/null 2>&1
  "$platform/x11/xvfb.sh" stop "$dir/x" >/dev/null 2>&1
}
trap cleanup EXIT

# The recording: 16 kHz mono, each test recording after half a second of
# silence, looped to the length asked for.
gap="$dir/gap.raw"
head -c 16000 /dev/zero >"$gap"
one="$dir/one.raw"
: >"$one"
for file in "$data"/goforward.raw "$data"/numbers.raw "$data"/something.raw "$data"/librivox/*.wav; do
  cat "$gap" >>"$one"
  if [[ "$file" == *.wav ]]; then tail -c +45 "$file" >>"$one"; else cat "$file" >>"$one"; fi
done
audio="$dir/speech.raw"
: >"$audio"
want=$((seconds * 32000))
while (($(stat -c %s "$audio") < want)); do cat "$one" >>"$audio"; done
truncate -s "$want" "$audio"

"$platform/x11/xvfb.sh" start "$dir/x" || fail "Xvfb did not start"
DISPLAY=":$(cat "$dir/x/display")"
export DISPLAY
"$server_script" start "$dir/sound" || fail "the sound server did not start"
server="unix:$dir/sound/pulse/native"
export PULSE_SERVER=$server
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$dir/home"
private_home "$dir/home"
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
echo '{"myLanguage": "es", "theirLanguage": "en", "onboardingDone": true}' >"$XDG_CONFIG_HOME/parlaro/settings.json"

"$program" >"$dir/parlaro.log" 2>&1 &
running=$!
within 60 virtual_mic_listed || fail "no virtual microphone; see $dir/parlaro.log"
started_rss=$(awk '/VmRSS/ { printf "%.0f", $2 / 1024 }' /proc/"$running"/status)
parecord -d parlaro_virtualmic_input --raw /dev/null &
recorder=$!
# Settled: the model loaded, the listener running.
sleep 8

ticks=$(getconf CLK_TCK)
# Processor ticks of one thread or process: utime + stime.
ticks_of() { awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "$1" 2>/dev/null || echo 0; }
snapshot() {
  for task in /proc/"$running"/task/*; do
    echo "$(basename "$task") $(tr ' ' '_' <"$task/comm") $(ticks_of "$task/stat")"
  done
}
rss_mb() { awk '/VmRSS/ { printf "%.0f", $2 / 1024 }' /proc/"$running"/status; }

idle_rss=$(rss_mb)
cp /proc/"$running"/smaps "$dir/smaps.idle"
snapshot >"$dir/threads.idle"
idle_before=$(ticks_of /proc/"$running"/stat)
sleep 5
idle_ticks=$(($(ticks_of /proc/"$running"/stat) - idle_before))

snapshot >"$dir/threads.before"
before=$(ticks_of /proc/"$running"/stat)
started=$(date +%s.%N)
paplay --raw --rate=16000 --channels=1 --format=s16le --client-name=Caller "$audio" &
player=$!
PARLARO_BENCH_AUDIO="$audio" "$bench" --benchmark_filter=BM_BareDecodeOfFile --benchmark_format=json \
  >"$dir/bare.json" 2>/dev/null &
bare_pid=$!
wait "$player"
player=
ended=$(date +%s.%N)
after=$(ticks_of /proc/"$running"/stat)
snapshot >"$dir/threads.after"
end_rss=$(rss_mb)
cp /proc/"$running"/smaps "$dir/smaps.end"
wait "$bare_pid"
bare=$(awk -F': ' '/"bare_per_audio_s"/ { gsub(/,/, "", $2); print $2 }' "$dir/bare.json")
[[ -n "$bare" ]] || fail "the bare decode reported nothing; see $dir/bare.json"

awk -v b="$before" -v a="$after" -v t="$ticks" -v s="$seconds" -v bare="$bare" -v idle="$idle_ticks" \
  -v wall_start="$started" -v wall_end="$ended" -v server="${PARLARO_SOUND_SERVER:-pulseaudio}" \
  -v srss="$started_rss" -v irss="$idle_rss" -v erss="$end_rss" 'BEGIN {
    cpu = (a - b) / t / s
    printf "server %s: %d s of speech (played in %.1f s)\n", server, s, wall_end - wall_start
    printf "program cpu_per_audio_s %.3f, bare decode %.3f, vs_bare %.2f\n", cpu, bare, cpu / bare
    printf "idle before speech: %.3f of a core\n", idle / t / 5
    printf "rss when the virtual microphone appeared %d MB, listening idle %d MB, after speech %d MB\n", srss, irss, erss
  }'
# Each thread's share of a core, busiest first.
shares() {
  join -a 2 -e 0 -o 2.2,1.3,2.3 <(sort "$1") <(sort "$2") \
    | awk -v t="$ticks" -v s="$3" '{ share = ($3 - $2) / t / s; if (share > 0) printf "  %-16s %.3f\n", $1, share }' \
    | sort -k2 -rn
}
echo "threads while idle:"
shares "$dir/threads.idle" "$dir/threads.before" 5
echo "threads while speech played:"
shares "$dir/threads.before" "$dir/threads.after" "$seconds"
kill -TERM "$running"
wait "$running" 2>/dev/null
running=
kill "$recorder" 2>/dev/null
wait "$recorder" 2>/dev/null
recorder=
exit 0
