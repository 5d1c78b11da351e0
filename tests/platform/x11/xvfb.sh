#!/usr/bin/env bash
# Starts or stops a private X server for the tests: xvfb.sh start|stop <dir>.
# The display number goes to <dir>/display; nothing is written when Xvfb is
# not installed, and the tests then skip saying so.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../support/server-fixture.sh
source "$here/../../support/server-fixture.sh"
fixture_args xvfb.sh "$@"

# Xvfb writes the display number it picked, then a newline, once it accepts
# clients. Called only through fixture_start, as the next one.
# shellcheck disable=SC2317
display_written() {
  [[ -s "$dir/display.tmp" ]] && grep -q '^[0-9]' "$dir/display.tmp"
}

# shellcheck disable=SC2317
launch() {
  rm -f "$dir/display.tmp"
  Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$dir/display.tmp" >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/pid"
}

case "$action" in
start)
  "$0" stop "$dir" >/dev/null 2>&1
  mkdir -p "$dir"
  rm -f "$dir/display"
  fixture_needs Xvfb X11
  # Xvfb picks a free display number itself, but another X server started
  # in the same instant may take it first: then it is started again.
  fixture_start Xvfb "$dir/xvfb.log" launch display_written
  tr -d '\n' <"$dir/display.tmp" >"$dir/display"
  exit 0
  ;;
stop)
  fixture_stop "$dir/display" "$dir/display.tmp"
  ;;
*)
  fixture_usage
  ;;
esac
