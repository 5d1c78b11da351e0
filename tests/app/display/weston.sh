#!/usr/bin/env bash
# Starts or stops a private headless Wayland compositor for the tests:
# weston.sh start|stop <dir>. Its runtime folder is <dir>/runtime and the
# socket's name goes to <dir>/socket; nothing is written when weston is not
# installed, and the tests then skip saying so. No desktop's own compositor
# or runtime folder is touched.
set -u
action=${1:-}
dir=${2:-}
if [[ -z "$action" || -z "$dir" ]]; then
  echo "usage: weston.sh start|stop <dir>" >&2
  exit 2
fi
dir=$(realpath -m "$dir")
socket=parlaro-test

case "$action" in
start)
  "$0" stop "$dir" >/dev/null 2>&1
  mkdir -p "$dir/runtime"
  chmod 700 "$dir/runtime"
  rm -f "$dir/socket"
  if ! command -v weston >/dev/null; then
    echo "weston.sh: weston is not installed; the Wayland tests will skip" >&2
    exit 0
  fi
  XDG_RUNTIME_DIR="$dir/runtime" weston --backend=headless-backend.so --use-pixman --idle-time=0 \
    --socket="$socket" >"$dir/weston.log" 2>&1 &
  echo $! >"$dir/pid"
  for _ in $(seq 1 200); do
    if [[ -S "$dir/runtime/$socket" ]]; then
      echo "$socket" >"$dir/socket"
      exit 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "weston.sh: weston did not start; see $dir/weston.log" >&2
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
  rm -f "$pidfile" "$dir/socket"
  exit 0
  ;;
*)
  echo "usage: weston.sh start|stop <dir>" >&2
  exit 2
  ;;
esac
