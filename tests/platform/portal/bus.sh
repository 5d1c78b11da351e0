#!/usr/bin/env bash
# Starts or stops a private D-Bus session bus for the tests:
# bus.sh start|stop <dir>. Its address goes to <dir>/address; nothing is
# written when dbus-daemon is not installed, and the tests then skip saying
# so. The desktop's own bus is never touched.
set -u
action=${1:-}
dir=${2:-}
if [[ -z "$action" || -z "$dir" ]]; then
  echo "usage: bus.sh start|stop <dir>" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
dir=$(realpath -m "$dir")

case "$action" in
start)
  "$0" stop "$dir" >/dev/null 2>&1
  mkdir -p "$dir"
  chmod 700 "$dir"
  rm -f "$dir/address" "$dir/address.tmp"
  if ! command -v dbus-daemon >/dev/null; then
    echo "bus.sh: dbus-daemon is not installed; the portal tests will skip" >&2
    exit 0
  fi
  dbus-daemon --config-file="$here/bus.conf" --address="unix:path=$dir/bus" --nofork --print-address=3 \
    3>"$dir/address.tmp" >"$dir/bus.log" 2>&1 &
  echo $! >"$dir/pid"
  for _ in $(seq 1 100); do
    if [[ -s "$dir/address.tmp" ]]; then
      head -n1 "$dir/address.tmp" | tr -d '\n' >"$dir/address"
      exit 0
    fi
    kill -0 "$(cat "$dir/pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "bus.sh: dbus-daemon did not start; see $dir/bus.log" >&2
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
  rm -f "$pidfile" "$dir/address" "$dir/address.tmp" "$dir/bus"
  exit 0
  ;;
*)
  echo "usage: bus.sh start|stop <dir>" >&2
  exit 2
  ;;
esac
