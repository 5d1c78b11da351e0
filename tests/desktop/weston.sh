#!/usr/bin/env bash
# Starts or stops a private headless Wayland compositor for the tests:
# weston.sh start|stop <dir>. It listens on <dir>/runtime/<socket>, with
# <dir>/runtime as its XDG_RUNTIME_DIR; the socket's name goes to
# <dir>/socket. Nothing is written when weston is not installed, and the
# tests then skip saying so. Started with --debug so a test can read its
# scene graph (weston-debug).
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../support/server-fixture.sh
source "$here/../support/server-fixture.sh"
fixture_args weston.sh "$@"
socket=parlaro-test-wayland

# No DISPLAY or WAYLAND_DISPLAY: the headless backend needs neither, and
# the desktop's own must not be touched. Called only through fixture_start.
# shellcheck disable=SC2317
launch() {
  env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR="$dir/runtime" \
    weston --backend=headless-backend.so --use-pixman --socket="$socket" --idle-time=0 --debug \
    --log="$dir/weston.log" >/dev/null 2>&1 &
  echo $! >"$dir/pid"
}

case "$action" in
start)
  "$0" stop "$dir" >/dev/null 2>&1
  mkdir -p "$dir/runtime"
  chmod 700 "$dir/runtime"
  rm -f "$dir/socket"
  fixture_needs weston Wayland
  fixture_start weston "$dir/weston.log" launch test -S "$dir/runtime/$socket"
  echo -n "$socket" >"$dir/socket"
  exit 0
  ;;
stop)
  fixture_stop "$dir/socket"
  ;;
*)
  fixture_usage
  ;;
esac
