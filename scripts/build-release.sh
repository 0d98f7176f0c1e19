#!/usr/bin/env bash
# Installs what is missing and builds the tool, the simulator and the stand-in drivers
# (Release, without tests and benchmarks) in build/release.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQX510_TESTS=OFF -DQX510_BENCH=OFF
cmake --build build/release
