#!/usr/bin/env bash
# Installs what is missing, builds the tool, the simulated module and the stand-in drivers
# (Release), starts the simulator's window and then the tool. The tool's defaults (serial
# port 1, address 0, 9600 Bd) reach the simulated module.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQX510_TESTS=OFF -DQX510_BENCH=OFF
cmake --build "$build"
bin="$build/bin"
sim_pid=""
if [ -x "$bin/qx510-sim" ]; then
  "$bin/qx510-sim" &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
fi
"$bin/qx510"
