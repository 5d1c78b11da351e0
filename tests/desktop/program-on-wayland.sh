#!/usr/bin/env bash
# The built program on a private headless Wayland compositor, with no X
# server, and a private sound server:
#   program-on-wayland.sh <parlaro> <dir> <weston dir>
# <weston dir> is a running compositor's folder (weston.sh start). It must
# start on Qt's Wayland platform, show its window "Parlaro" under its desktop
# id, draw its first-start sheet inside that window (a window of its own
# would go wherever the compositor likes, with a title bar of its own),
# load the virtual microphone and end with 0 on SIGTERM; on a compositor
# of its own that is killed under it, it must give the input back before it
# ends. Skips (code 77)
# when weston, the compositor or pulseaudio is missing.
set -u
program=${1:?usage: program-on-wayland.sh <parlaro> <dir> <weston dir>}
dir=$(realpath -m "${2:?usage: program-on-wayland.sh <parlaro> <dir> <weston dir>}")
weston_dir=$(realpath -m "${3:?usage: program-on-wayland.sh <parlaro> <dir> <weston dir>}")
here=$(cd "$(dirname "$0")" && pwd)
pulse="$here/../platform/pulse/daemon.sh"
# shellcheck source-path=SCRIPTDIR source=../support/program-run.sh
source "$here/../support/program-run.sh"

for tool in weston weston-debug pulseaudio pactl; do
  if ! command -v "$tool" >/dev/null; then
    echo "program-on-wayland.sh: $tool is not installed; skipping" >&2
    exit 77
  fi
done
if [[ ! -s "$weston_dir/socket" ]]; then
  echo "program-on-wayland.sh: no compositor running in $weston_dir; skipping" >&2
  exit 77
fi

rm -rf "$dir"
mkdir -p "$dir/home" && chmod 700 "$dir/home"
cleanup() {
  [[ -n "${running:-}" ]] && kill -KILL "$running" 2>/dev/null
  "$pulse" stop "$dir/sound" >/dev/null 2>&1
  "$here/weston.sh" stop "$dir/weston-lost" >/dev/null 2>&1
}
trap cleanup EXIT

fail() {
  echo "program-on-wayland.sh: $*" >&2
  [[ -f "$dir/parlaro.log" ]] && { echo "--- $dir/parlaro.log" >&2; cat "$dir/parlaro.log" >&2; }
  # Its error output without the protocol log.
  [[ -f "$dir/wayland.log" ]] && { echo "--- $dir/wayland.log, less the protocol" >&2; grep -v '^\[' "$dir/wayland.log" >&2; }
  server_logs "$dir/sound"
  exit 1
}

"$pulse" start "$dir/sound" || fail "the sound server did not start"
server="unix:$dir/sound/pulse/native"

export XDG_RUNTIME_DIR="$weston_dir/runtime"
export WAYLAND_DISPLAY
WAYLAND_DISPLAY=$(cat "$weston_dir/socket")
export XDG_SESSION_TYPE=wayland
export QT_QPA_PLATFORM=wayland
private_home "$dir/home"
unset DISPLAY DBUS_SESSION_BUS_ADDRESS
# The headless compositor draws with pixman and takes shared-memory buffers
# only, as the program's widgets give; without this Qt still probes the GPU
# buffer path, and mesa's software driver, unloaded at exit, leaves an
# allocation LeakSanitizer can no longer trace to any library.
export QT_WAYLAND_CLIENT_BUFFER_INTEGRATION=shm-only
export LSAN_OPTIONS="suppressions=$here/wayland-lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

scene() { timeout "$(fixture_patience 30)" weston-debug scene-graph 2>/dev/null; }
# The client's own log of its requests: a toplevel given a parent.
sheet_has_parent() { grep -q "xdg_toplevel@[0-9]*\.set_parent(xdg_toplevel@[0-9]*)" "$dir/wayland.log"; }
# The program's windows on the compositor.
windows_shown() { scene | grep -c "top-level window .* of com.parlaro.Parlaro"; }
# The compositor names a window by its title and its app id.
window_shown() { scene | grep -q "top-level window 'Parlaro' of com.parlaro.Parlaro"; }

PULSE_SERVER=$server WAYLAND_DEBUG=client "$program" >"$dir/parlaro.log" 2>"$dir/wayland.log" &
launched $!
within 60 window_shown || fail "no window 'Parlaro' of com.parlaro.Parlaro on the compositor"
within 30 virtual_mic_listed || fail "the virtual microphone is not among the sources"
# The sheet comes up with the window; given a moment, it has still made no
# window of its own.
sleep 2
sheet_has_parent && fail "the first-start sheet is a window of its own"
[[ "$(windows_shown)" == 1 ]] || fail "the compositor shows $(windows_shown) windows of the program: $(scene | grep top-level)"
echo "on the compositor: $(scene | grep "top-level window 'Parlaro'" | head -1)"

terminate
cat "$dir/parlaro.log" "$dir/wayland.log" | grep -q "could not connect to display\|no Qt platform plugin" && fail "Qt did not use the Wayland platform"
echo "on Wayland: the window showed and SIGTERM ended the program with 0"

# The compositor goes away under the program (a crash, a logout): the
# input is given back as at SIGTERM. On a compositor of the test's own,
# killed.
"$here/weston.sh" start "$dir/weston-lost" || fail "the compositor to kill did not start"
before=$(PULSE_SERVER=$server pactl get-default-source)
[[ "$before" != parlaro_virtualmic_input ]] || fail "the virtual microphone was still the default input"
default_is_virtual_mic() { [[ "$(PULSE_SERVER=$server pactl get-default-source)" == parlaro_virtualmic_input ]]; }
XDG_RUNTIME_DIR="$dir/weston-lost/runtime" WAYLAND_DISPLAY=$(cat "$dir/weston-lost/socket") PULSE_SERVER=$server \
  "$program" >"$dir/parlaro.log" 2>"$dir/wayland.log" &
launched $!
within 60 default_is_virtual_mic || fail "the program did not take the input on the compositor to kill"
lose_display "$dir/weston-lost/pid" compositor
after=$(PULSE_SERVER=$server pactl get-default-source)
[[ "$after" == "$before" ]] || fail "the default input was $before and is $after after the compositor went away"
echo "on Wayland: a compositor that went away left the input given back ($after)"
exit 0
