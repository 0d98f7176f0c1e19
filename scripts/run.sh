#!/usr/bin/env bash
# Installs what is missing, builds the tool, the simulated module and the stand-in drivers
# (Release), starts the simulator's window and then the tool. The tool's defaults (serial
# port 1, address 0, 9600 Bd) reach the simulated module; so does the LAN converter at
# IP address 127.0.0.1, UDP port 5000.
#
# Options after the script's name go to the simulator, for example --no-state (forget the
# module's memory at the end) or --port 5001. A simulator that is already running is used
# as it is.
#
# scripts/run.sh --pty [simulator options]: the whole path of a real adapter instead. The
# simulator serves a pseudo-terminal (its link in the user's private runtime folder) at wire
# time, and the tool's COM1 is mapped to it in a serial-ports file of a temporary settings
# folder (the user's own mappings of other ports copied in), so the user's own file is never
# changed.
set -euo pipefail
cd "$(dirname "$0")/.."
pty=0
if [ "${1:-}" = "--pty" ]; then
  pty=1
  shift
fi
scripts/build-release.sh
bin=build/release/bin

sim_pid=""
demo_config=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ -n "$demo_config" ]; then rm -rf "$demo_config"; fi
}
trap stop_sim EXIT
trap 'exit 130' INT TERM

if [ "$pty" -eq 1 ]; then
  runtime="${XDG_RUNTIME_DIR:-/tmp/qx510-$(id -u)}"
  mkdir -p -m 0700 "$runtime"
  link="$runtime/qx510-ttyS0"
  # Its own endpoint and UDP port, so that a simulator already running is left alone.
  "$bin/qx510-sim" --endpoint "$runtime/qx510-sim-pty.sock" --port 0 --pty "$link" "$@" &
  sim_pid=$!
  for _ in $(seq 1 50); do
    [ -L "$link" ] && break
    kill -0 "$sim_pid" 2>/dev/null || { echo "run.sh: the simulator did not start" >&2; sim_pid=""; exit 1; }
    sleep 0.1
  done
  [ -L "$link" ] || { echo "run.sh: the simulator made no link $link" >&2; exit 1; }
  user_map="${XDG_CONFIG_HOME:-$HOME/.config}/qx510/serial-ports"
  demo_config="$(mktemp -d)"
  mkdir "$demo_config/qx510"
  if [ -f "$user_map" ]; then
    grep -viE '^[[:space:]]*com1[[:space:]]*=' "$user_map" > "$demo_config/qx510/serial-ports" || true
  fi
  echo "COM1=$link" >> "$demo_config/qx510/serial-ports"
  echo "run.sh: COM1 → $link (the simulator's pseudo-terminal), mapped in $demo_config/qx510/serial-ports for this run; $user_map is left as it is" >&2
  XDG_CONFIG_HOME="$demo_config" "$bin/qx510"
  exit $?
fi

# Every probe gives up within a second, so a stalled simulator holds nothing up.
probe=0
"$bin/qx510-sim" --probe || probe=$?
if [ "$probe" -eq 0 ]; then
  echo "run.sh: a simulator is already running; using it"
elif [ "$probe" -eq 2 ]; then
  echo "run.sh: the simulator's endpoint cannot be used (see above); the tool starts without it" >&2
else
  "$bin/qx510-sim" "$@" &
  sim_pid=$!
  # Wait until it answers (it may also have refused to start, e.g. with the UDP port taken).
  for _ in $(seq 1 50); do
    "$bin/qx510-sim" --probe && break
    kill -0 "$sim_pid" 2>/dev/null || { echo "run.sh: the simulator did not start" >&2; sim_pid=""; break; }
    sleep 0.1
  done
fi
"$bin/qx510"
