#!/usr/bin/env bash
# Starts or stops a private X server for the tests: xvfb.sh start|stop <dir>.
# The display number goes to <dir>/display; nothing is written when Xvfb is
# not installed, and the tests then skip saying so.
set -u
action=${1:-}
dir=${2:-}
if [[ -z "$action" || -z "$dir" ]]; then
  echo "usage: xvfb.sh start|stop <dir>" >&2
  exit 2
fi
dir=$(realpath -m "$dir")

case "$action" in
start)
  "$0" stop "$dir" >/dev/null 2>&1
  mkdir -p "$dir"
  rm -f "$dir/display"
  if ! command -v Xvfb >/dev/null; then
    echo "xvfb.sh: Xvfb is not installed; the X11 tests will skip" >&2
    exit 0
  fi
  Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$dir/display.tmp" >"$dir/xvfb.log" 2>&1 &
  echo $! >"$dir/pid"
  for _ in $(seq 1 100); do
    if [[ -s "$dir/display.tmp" ]] && grep -q '^[0-9]' "$dir/display.tmp"; then
      tr -d '\n' <"$dir/display.tmp" >"$dir/display"
      exit 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "xvfb.sh: Xvfb did not start; see $dir/xvfb.log" >&2
  exit 1
  ;;
stop)
  pidfile="$dir/pid"
  [[ -f "$pidfile" ]] || exit 0
  pid=$(cat "$pidfile" 2>/dev/null)
  if [[ -n "$pid" ]]; then
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$pidfile" "$dir/display" "$dir/display.tmp"
  exit 0
  ;;
*)
  echo "usage: xvfb.sh start|stop <dir>" >&2
  exit 2
  ;;
esac
