#!/usr/bin/env bash
# A server fixture's stop ends the server it started, and leaves alone the
# process that got the pid of one that had ended (another test's server on a
# busy machine, where the pids come round within seconds).
set -u
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
cleanup() {
  kill -KILL "${server:-}" "${later:-}" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
# shellcheck source-path=SCRIPTDIR source=server-fixture.sh
source "$here/server-fixture.sh"
stop() { "$here/../platform/x11/xvfb.sh" stop "$dir"; }

# Started and recorded as fixture_start records it.
started() {
  sleep 600 &
  server=$!
  echo "$server" >"$dir/pid"
  fixture_started "$server" >"$dir/pid.start"
}

started
stop
fixture_poll 10 fixture_gone "$server" || { echo "the stop left its server running" >&2; exit 1; }

# The server ends by itself; its pid comes round to a later process.
started
kill -KILL "$server"
wait "$server" 2>/dev/null
# A start time counts clock ticks (10 ms); a pid comes round no sooner.
sleep 0.02
sleep 600 &
later=$!
echo "$later" >"$dir/pid"
stop
kill -0 "$later" 2>/dev/null || { echo "the stop ended a later process that had its server's pid" >&2; exit 1; }
[[ ! -e "$dir/pid" && ! -e "$dir/pid.start" ]] || { echo "the stop left its records" >&2; exit 1; }
echo "the stop ended its own server and left a later holder of its pid alone"
