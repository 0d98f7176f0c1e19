#!/usr/bin/env bash
# Installs what is missing, builds the tool, the simulated module and the stand-in drivers
# (Release), starts the simulator's window and then the tool. The tool's defaults (serial
# port 1, address 0, 9600 Bd) reach the simulated module; so does the LAN converter at
# IP address 127.0.0.1, UDP port 5000.
#
# Options after the script's name go to the simulator, for example --no-state (forget the
# module's memory at the end) or --port 5001. A simulator that is already running is used
# as it is.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-release.sh
bin=build/release/bin

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT
trap 'exit 130' INT TERM

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
