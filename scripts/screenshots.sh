#!/usr/bin/env bash
# Regenerates the pictures of the README and the handbook in docs/screenshots/: every window of the tool, the line
# workbench's panes and the simulator's front panel, grabbed offscreen against a simulated
# module. The folder holds only what this script writes; never edit the pictures by hand.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-release.sh
cmake --build build/release --target qx510-screenshots
out=docs/screenshots
rm -rf "$out"
QT_QPA_PLATFORM=offscreen build/release/bin/qx510-screenshots "$out"
cmake --build build/release --target qx510-line-screenshots
QT_QPA_PLATFORM=offscreen build/release/bin/qx510-line-screenshots "$out"
scripts/certificate-picture.sh build/release "$out/26-line-calibration-certificate.png"
