#!/usr/bin/env bash
# The built program on a private X server and a private sound server:
#   program.sh <parlaro> <dir> [<x dir>]
# <x dir> is a running private X server's folder (xvfb.sh start <x dir>);
# without it the script starts one of its own.
# It must show its window "Parlaro", load the virtual microphone, end with 0
# on SIGTERM and give the default input back, be it a microphone or, on a
# machine without one, the speakers' monitor; a quit across a stall of the
# sound server must hide the window while the server is still held and give
# the input back once it answers, a start across one must show the window
# while it is still held, and
# an X server killed under the program must leave the caption on screen
# saved and the input given back; with no sound server at all the window
# must still show. PARLARO_SOUND_SERVER=pipewire runs it on a private
# PipeWire with its session manager instead of PulseAudio, and there also
# across a stall of the session manager at start, which must bring no
# notice and leave no record after the quit. A config folder that is not
# the user's alone must stay empty, whatever libraries the program loads.
# Skips (code 77)
# when Xvfb or the sound server is missing.
set -u
program=${1:?usage: program.sh <parlaro> <dir>}
dir=$(realpath -m "${2:?usage: program.sh <parlaro> <dir>}")
given_x=${3:+$(realpath -m "$3")}
here=$(cd "$(dirname "$0")" && pwd)
xvfb="$here/../../platform/x11/xvfb.sh"
# shellcheck source-path=SCRIPTDIR source=../../support/program-run.sh
source "$here/../../support/program-run.sh"
case "${PARLARO_SOUND_SERVER:-pulseaudio}" in
pulseaudio)
  pulse="$here/../../platform/pulse/daemon.sh"
  server_tools="pulseaudio"
  ;;
pipewire)
  pulse="$here/../../platform/pulse/pipewire.sh"
  server_tools="pipewire wireplumber pipewire-pulse dbus-daemon"
  ;;
*)
  echo "program.sh: unknown sound server ${PARLARO_SOUND_SERVER}" >&2
  exit 2
  ;;
esac

for tool in Xvfb $server_tools pactl xwininfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "program.sh: $tool is not installed; skipping" >&2
    exit 77
  fi
done

rm -rf "$dir"
mkdir -p "$dir/home" && chmod 700 "$dir/home"
cleanup() {
  [[ -n "${server_pid:-}" ]] && kill -CONT "$server_pid" 2>/dev/null
  for copy in "${running:-}" "${first:-}" "${second:-}"; do
    [[ -n "$copy" ]] && kill -KILL "$copy" 2>/dev/null
  done
  "$pulse" stop "$dir/sound" >/dev/null 2>&1
  [[ -z "$given_x" ]] && "$xvfb" stop "$dir/x" >/dev/null 2>&1
  "$xvfb" stop "$dir/x-lost" >/dev/null 2>&1
}
trap cleanup EXIT

fail() {
  echo "program.sh: $*" >&2
  for log in "$dir"/parlaro-*.log; do
    [[ -f "$log" ]] && { echo "--- $log" >&2; cat "$log" >&2; }
  done
  server_logs "$dir/sound"
  if [[ -n "${x:-}" ]]; then
    xwininfo -root >/dev/null 2>&1 && echo "the X server at $DISPLAY answers" >&2 \
      || echo "the X server at $DISPLAY does not answer" >&2
    fixture_log "$x/xvfb.log"
  fi
  exit 1
}

# Within the test suite the X server is the one the X11 tests use: two
# servers started side by side can be handed the same display number where
# the socket namespace does not keep them apart, and stopping one then takes
# the other's display away.
if [[ -n "$given_x" ]]; then
  [[ -s "$given_x/display" ]] || fail "no X server running in $given_x"
  x="$given_x"
else
  "$xvfb" start "$dir/x" || fail "Xvfb did not start"
  x="$dir/x"
fi
export DISPLAY=":$(cat "$x/display")"
xwininfo -root >/dev/null 2>&1 || fail "cannot reach the X server at $DISPLAY"
"$pulse" start "$dir/sound" || fail "the sound server did not start"
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$dir/home"
private_home "$dir/home"
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY
# The X11 platform's accessibility bridge leaves a small allocation inside
# libdbus unreleased at exit; that one only is not ours to fix.
export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
server="unix:$dir/sound/pulse/native"

window_shown() { xwininfo -root -tree 2>/dev/null | grep -q '"Parlaro"'; }

# Launches the program on the given server; its pid is in $running.
launch() {
  local name=$1
  PULSE_SERVER=$2 "$program" >"$dir/parlaro-$name.log" 2>&1 &
  launched $!
}

# Ends the running program and expects the default input it found at start.
quit_gives_back() {
  local before=$1
  terminate
  local after
  after=$(PULSE_SERVER=$server pactl get-default-source)
  echo "default input before: $before, after: $after"
  [[ "$after" == "$before" ]] || fail "the default input was $before and is $after after quitting"
  # A session manager deciding afterwards must not take it again.
  for _ in 1 2 3 4 5; do
    sleep 0.1
    after=$(PULSE_SERVER=$server pactl get-default-source)
    [[ "$after" == "$before" ]] || fail "the default input was given back, then became $after"
  done
}
default_is_virtual_mic() { [[ "$(PULSE_SERVER=$server pactl get-default-source)" == parlaro_virtualmic_input ]]; }
# The program recorded what it switched: a session manager may make the newly
# loaded virtual microphone the default by itself before the program does.
taken_over() {
  default_is_virtual_mic && grep -q systemAudioRouteRecovery "$XDG_CONFIG_HOME/parlaro/settings.json" 2>/dev/null
}

# First with no microphone at all: the server's own default input is the
# speakers' monitor, which the program never lists but must give back.
before=$(PULSE_SERVER=$server pactl get-default-source)
[[ "$before" == *.monitor ]] || fail "the bare server's default input is $before, not a monitor"
launch monitor "$server"
within 60 window_shown || fail "no window named Parlaro"
within 30 taken_over || fail "the program did not make the virtual microphone the default input"
quit_gives_back "$before"

# On the private server, with a microphone as the default input: a source
# of its own over a silent sink, as the backend lists a real one.
PULSE_SERVER=$server pactl load-module module-null-sink sink_name=test_mic_sink >/dev/null || fail "no test sink"
load_mic() {
  mic_module=$(PULSE_SERVER=$server pactl load-module module-remap-source source_name=test_mic \
    master=test_mic_sink.monitor) || fail "no test microphone"
}
load_mic
# A new source may take a moment to be ready for choosing (PipeWire).
mic_is_default() {
  PULSE_SERVER=$server pactl set-default-source test_mic >/dev/null 2>&1
  [[ "$(PULSE_SERVER=$server pactl get-default-source)" == test_mic ]]
}
fixture_poll 30 mic_is_default || fail "the test microphone is not the default"
before=$(PULSE_SERVER=$server pactl get-default-source)
launch sound "$server"
within 60 window_shown || fail "no window named Parlaro"
within 30 virtual_mic_listed || fail "the virtual microphone is not among the sources"
echo "window: $(xwininfo -root -tree | grep '"Parlaro"')"
echo "sources while running:"
PULSE_SERVER=$server pactl list short sources
echo "default input while running: $(PULSE_SERVER=$server pactl get-default-source)"
quit_gives_back "$before"

# Two copies on one server, each with a home of its own (two users, or a
# packaged build beside one built from source): the first to quit leaves the
# input to the one still running, and the last to quit, or the one left when
# the other is killed, gives the user's microphone back, though it found the
# virtual microphone the default already when it started.
default_source() { PULSE_SERVER=$server pactl get-default-source; }
is_default_source() { [[ "$(default_source)" == "$1" ]]; }
# Polls the default input (without choosing it).
becomes() { fixture_poll 30 is_default_source "$1"; }
second_runs_on_server() { PULSE_SERVER=$server pactl list source-outputs | grep -q "application.process.id = \"$second\""; }
for order in first-quits-first second-quits-first first-killed; do
  private_home "$dir/home"
  launch "first-$order" "$server"
  first=$running
  within 60 taken_over || fail "the first copy did not take the input ($order)"
  # The second past its first start, so that it listens.
  private_home "$dir/home-second"
  mkdir -p "$XDG_CONFIG_HOME/parlaro" && chmod 700 "$dir/home-second"
  printf '{"myLanguage": "es", "theirLanguage": "en", "onboardingDone": true}\n' >"$XDG_CONFIG_HOME/parlaro/settings.json"
  launch "second-$order" "$server"
  second=$running
  within 60 second_runs_on_server || fail "the second copy has no stream on the server ($order)"
  within 30 taken_over || fail "the second copy recorded no takeover ($order)"
  case $order in
  second-quits-first) gone=$second stays=$first ;;
  *) gone=$first stays=$second ;;
  esac
  if [[ $order == first-killed ]]; then
    kill -KILL "$gone"
    wait "$gone" 2>/dev/null
  else
    running=$gone
    terminate
  fi
  running=$stays
  sleep 0.5
  default_is_virtual_mic || fail "$order: the copy that went took the input from the one still running: $(default_source)"
  terminate
  first= second=
  becomes test_mic || fail "$order: the default input is $(default_source) after the last copy quit, not test_mic"
  echo "two copies, $order: the copy left kept the input, and the last one gave test_mic back"
done
private_home "$dir/home"

# The microphone goes away while the program has the input: the quit gives
# the input to one that exists, never leaves it on the virtual microphone.
launch mic-gone "$server"
within 60 taken_over || fail "the program did not take the input before the microphone went"
PULSE_SERVER=$server pactl unload-module "$mic_module" || fail "the test microphone did not go"
sleep 0.5
terminate
after=$(default_source)
[[ "$after" != parlaro_virtualmic_input ]] || fail "the microphone went, and the default input stayed the virtual one"
PULSE_SERVER=$server pactl list short sources | cut -f2 | grep -qx "$after" \
  || fail "the microphone went, and the default input became $after, which does not exist"
echo "the microphone went before the quit; the default input is $after"
load_mic
fixture_poll 30 mic_is_default || fail "the test microphone is not the default again"

# A quit while the sound server is held still (a starved server): the
# window goes while the server is still held, and the input is given back
# once it answers again. The server is held until the window has gone, and
# at least 3 s, so that the quit truly waits on it; a window that never goes
# runs out the bound.
now_ms() { date +%s%3N; }
# Sleeps until $1 ms have passed since the moment $2 (now_ms).
sleep_until_past() {
  local remaining=$(($1 - ($(now_ms) - $2)))
  ((remaining > 0)) && sleep "$((remaining / 1000)).$(printf '%03d' $((remaining % 1000)))"
  return 0
}
case "${PARLARO_SOUND_SERVER:-pulseaudio}" in
pulseaudio) stalled_pid=$(cat "$dir/sound/pulse/pid") ;;
*) stalled_pid=$(cat "$dir/sound/pipewire-pulse.pid") ;;
esac
launch stalled-quit "$server"
within 60 window_shown || fail "no window named Parlaro before the stalled quit"
within 30 taken_over || fail "the program did not take the input before the stalled quit"
window_hidden() { ! xwininfo -name Parlaro 2>/dev/null | grep -q IsViewable; }
server_pid=$stalled_pid
kill -STOP "$server_pid"
stalled_at=$(now_ms)
kill -TERM "$running"
hidden=
fixture_poll 30 window_hidden && hidden=yes
hidden_after=$(($(now_ms) - stalled_at))
sleep_until_past 3000 "$stalled_at"
kill -CONT "$server_pid"
server_pid=
[[ -n "$hidden" ]] || fail "the window stayed on screen while the quit waited for the sound server"
fixture_poll 30 fixture_gone "$running" program_runs \
  || fail "still running $(fixture_patience 30) s after the server answered again from a stall across a quit"
wait "$running" || fail "exit code $? after a quit across a stall"
running=
after=$(PULSE_SERVER=$server pactl get-default-source)
[[ "$after" == "$before" ]] || fail "the default input was $before and is $after after a quit across a stall"
echo "a quit across a stall hid the window ${hidden_after} ms into it and gave $after back"

# A start while the sound server is held still: the window shows, and a
# second launch meanwhile finds the running copy answering and leaves, both
# while the server is still held (at least 4 s, past the program's first
# waits for it; a start that waited on the server would run out the bound);
# once the server answers, the program takes the input as at any start, and
# the quit gives it back.
server_pid=$stalled_pid
kill -STOP "$server_pid"
launched=$(now_ms)
launch stalled-start "$server"
within 60 window_shown || fail "no window named Parlaro in a start across a stalled server"
shown_after=$(($(now_ms) - launched))
second_code=0
PULSE_SERVER=$server timeout "$(fixture_patience 60)" "$program" >"$dir/parlaro-stalled-second.log" 2>&1 \
  || second_code=$?
sleep_until_past 4000 "$launched"
kill -CONT "$server_pid"
server_pid=
((second_code == 0)) || fail "a second launch during the stall ended with $second_code: $(cat "$dir/parlaro-stalled-second.log")"
within 30 taken_over || fail "the program did not take the input once the stalled server answered"
quit_gives_back "$before"
echo "a start across a stall showed the window after ${shown_after} ms, answered a second launch, and went on"

# The display goes away in the middle of a call (a logout, a compositor
# that crashed, a dropped ssh -X), on an X server of the test's own that it
# kills: the caption on screen, not yet due to be written, is saved and the
# input given back, as at SIGTERM. Needs the speech parts the program
# captions with; without them only the give-back is checked.
recording=/usr/share/pocketsphinx/test/data/goforward.raw
"$xvfb" start "$dir/x-lost" || fail "the X server to kill did not start"
private_home "$dir/home-lost"
mkdir -p "$XDG_CONFIG_HOME/parlaro" && chmod 700 "$dir/home-lost"
printf '{"myLanguage": "es", "theirLanguage": "en", "onboardingDone": true}\n' >"$XDG_CONFIG_HOME/parlaro/settings.json"
DISPLAY=":$(cat "$dir/x-lost/display")" launch display-lost "$server"
within 60 taken_over || fail "the program did not take the input on the X server to kill"
# Listening: its capture of what the computer plays is on the server.
listening() { PULSE_SERVER=$server pactl list source-outputs | grep -q "application.process.id = \"$running\""; }
# Sentences of the recording in the saved history so far.
saved_count() { grep -rhoi '"original":"[^"]*forward' "$XDG_DATA_HOME/parlaro" 2>/dev/null | wc -l; }
said=
if [[ -r "$recording" ]] && command -v paplay >/dev/null && within 60 listening; then
  sleep 1
  # The first caption of a never-heard output may take seconds on a loaded
  # machine, and is written 5 s after it shows; the same words then come as
  # a later caption, no slower than the first, and are written 5 s after
  # that. So the display goes once the second has had the first's time to
  # show (3.5 s at least), before its write is due.
  PULSE_SERVER=$server paplay --raw --rate=16000 --channels=1 --format=s16le --latency-msec=40 "$recording"
  played=$(now_ms)
  first_saved() { (($(saved_count) > 0)); }
  if within 30 first_saved; then
    first_showed=$(($(now_ms) - played - 5000))
    saved_before=$(saved_count)
    PULSE_SERVER=$server paplay --raw --rate=16000 --channels=1 --format=s16le --latency-msec=40 "$recording"
    sleep_until_past $((first_showed > 3500 ? first_showed : 3500)) "$(now_ms)"
    said=yes
  fi
fi
lose_display "$dir/x-lost/pid" display
"$xvfb" stop "$dir/x-lost"
after=$(PULSE_SERVER=$server pactl get-default-source)
[[ "$after" == "$before" ]] || fail "the default input was $before and is $after after the display went away"
if [[ -n "$said" ]]; then
  (($(saved_count) > saved_before)) || fail "the caption on screen was not saved"
  echo "the caption on screen was saved: $(grep -rhoi '"original":"[^"]*"' "$XDG_DATA_HOME/parlaro" | head -1)"
else
  echo "no caption to save (the recording, paplay or listening is missing); the give-back alone was checked"
fi
private_home "$dir/home"

# PipeWire's session manager held still across the start while other
# clients keep asking: the server then goes on answering the program's own
# connection with the defaults it had, though every new connection sees
# the virtual microphone. The takeover must still be found, with no notice
# that it was not applied, and the record must go with the give-back.
if [[ "${PARLARO_SOUND_SERVER:-pulseaudio}" == pipewire ]]; then
  session_manager=$(cat "$dir/sound/wireplumber.pid")
  private_home "$dir/home-unheard"
  mkdir -p "$XDG_CONFIG_HOME/parlaro" && chmod 700 "$dir/home-unheard"
  printf '{"myLanguage": "es", "theirLanguage": "en", "onboardingDone": true}\n' >"$XDG_CONFIG_HOME/parlaro/settings.json"
  kill -STOP "$session_manager"
  launch unheard "$server"
  askers=()
  for _ in $(seq 1 15); do
    timeout 2 env PULSE_SERVER="$server" pactl get-default-source >/dev/null 2>&1 &
    askers+=($!)
    sleep 0.2
  done
  kill -CONT "$session_manager"
  wait "${askers[@]}"
  within 30 taken_over || fail "the program did not take the input after the session manager's stall"
  # Past the time a switch is given to land.
  sleep 8
  # Every window but the main one and its sheets: a notice has a title of
  # its own. A sheet is named by its page's title, here in English.
  sheets=$(sed -n 's/^ *"\(检查麦克风\|欢迎使用Parlaro\|需要安装 wenmora 音频设备\|更新 wenmora 音频设备\)": "\(.*\)",\{0,1\}$/\2/p' \
    "$here/../../../resources/i18n/en/"*.json)
  notices=$(xwininfo -root -children | sed -n 's/^ *0x[0-9a-f]* "\([^"]*\)".*/\1/p' | grep -v '^Parlaro$\|^Qt ' \
    | grep -vxF "$sheets")
  [[ -z "$notices" ]] || fail "a notice came up after a takeover that landed: $notices"
  terminate
  after=$(PULSE_SERVER=$server pactl get-default-source)
  [[ "$after" == "$before" ]] || fail "the default input was $before and is $after after the stalled start"
  ! grep -q systemAudioRouteRecovery "$XDG_CONFIG_HOME/parlaro/settings.json" \
    || fail "the record stayed after the input was given back"
  echo "a start across the session manager's stall took the input unsaid and gave it back with its record"
  private_home "$dir/home"
fi

# A config folder another account owns and anyone may write in: the
# program keeps nothing there, and neither does any library it loads (the
# sound server's keeps a cookie in the config folder), on either server.
private_home "$dir/home-refused"
mkdir -p "$dir/home-refused" "$dir/refused-config" && chmod 700 "$dir/home-refused"
chmod 777 "$dir/refused-config"
chown 65534:65534 "$dir/refused-config" 2>/dev/null
before=$(default_source)
# For the program alone: the tools this script runs keep their own cookie.
XDG_CONFIG_HOME="$dir/refused-config" launch refused "$server"
within 60 window_shown || fail "no window named Parlaro with a refused config folder"
within 30 virtual_mic_listed || fail "the virtual microphone is not among the sources with a refused config folder"
quit_gives_back "$before"
left=$(find "$dir/refused-config" -mindepth 1)
[[ -z "$left" ]] || fail "something was made in the refused config folder: $left"
grep -q "refused-config is not used" "$dir/parlaro-refused.log" || fail "the refused config folder was not told"
echo "with a refused config folder nothing appeared in it; the home's held: $(ls "$dir/home-refused/.config" 2>&1 | tr '\n' ' ')"
private_home "$dir/home"

# With no sound server at all: the same whichever server the rest used.
[[ "${PARLARO_SOUND_SERVER:-pulseaudio}" == pulseaudio ]] || exit 0
launch no-server unix:/nonexistent
within 60 window_shown || fail "no window named Parlaro without a sound server"
echo "window without a sound server: $(xwininfo -root -tree | grep '"Parlaro"')"
terminate
said=$(grep -c "no audio server" "$dir/parlaro-no-server.log")
((said == 1)) || fail "the missing server was reported $said times, not once"
echo "without a sound server: the window showed, SIGTERM ended it with 0, and it said:"
grep "no audio server" "$dir/parlaro-no-server.log"
exit 0
