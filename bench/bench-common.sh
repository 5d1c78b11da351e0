# Sourced by the bench scripts that run on a private sound server.

# The start and stop script of the server PARLARO_SOUND_SERVER names
# (PulseAudio unless it says pipewire), under tests/platform/pulse, or
# nothing for a name it does not know.
sound_server_script() {
  case "${PARLARO_SOUND_SERVER:-pulseaudio}" in
  pulseaudio) echo "$1/pulse/daemon.sh" ;;
  pipewire) echo "$1/pulse/pipewire.sh" ;;
  esac
}

# Median, lowest and highest of the numbers on standard input.
spread() {
  sort -n | awk '{ v[NR] = $1 } END {
    if (NR == 0) { print "none"; exit }
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "median %.3f s (%.3f-%.3f, %d)\n", m, v[1], v[NR], NR
  }'
}

# in_home <home> <state> <command...>: runs the command as a user of its
# own, <home> its home, settings, data and runtime folder (made, and closed
# to others, here) and <state> where recognition keeps what it learnt, on
# no session bus and no Wayland display.
in_home() {
  local home=$1 state=$2
  shift 2
  mkdir -p "$home/config/parlaro" "$home/data" "$state" && chmod 700 "$home"
  HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" XDG_STATE_HOME="$state" \
    XDG_RUNTIME_DIR="$home" PARLARO_INSTANCE="$home/parlaro-instance" \
    DBUS_SESSION_BUS_ADDRESS='' WAYLAND_DISPLAY='' "$@"
}
