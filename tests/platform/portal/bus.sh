#!/usr/bin/env bash
# Starts or stops a private D-Bus session bus for the tests:
# bus.sh start|stop <dir>. Its address goes to <dir>/address; nothing is
# written when dbus-daemon is not installed, and the tests then skip saying
# so. The desktop's own bus is never touched.
set -u
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../../support/server-fixture.sh
source "$here/../../support/server-fixture.sh"
fixture_args bus.sh "$@"

# Called only through fixture_start.
# shellcheck disable=SC2317
launch() {
  rm -f "$dir/address.tmp"
  dbus-daemon --config-file="$here/bus.conf" --address="unix:path=$dir/bus" --nofork --print-address=3 \
    3>"$dir/address.tmp" >"$dir/bus.log" 2>&1 &
  echo $! >"$dir/pid"
}

case "$action" in
start)
  "$0" stop "$dir" >/dev/null 2>&1
  mkdir -p "$dir"
  chmod 700 "$dir"
  rm -f "$dir/address" "$dir/address.tmp"
  fixture_needs dbus-daemon portal
  fixture_start dbus-daemon "$dir/bus.log" launch test -s "$dir/address.tmp"
  head -n1 "$dir/address.tmp" | tr -d '\n' >"$dir/address"
  exit 0
  ;;
stop)
  fixture_stop "$dir/address" "$dir/address.tmp" "$dir/bus"
  ;;
*)
  fixture_usage
  ;;
esac
