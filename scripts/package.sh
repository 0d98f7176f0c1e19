#!/usr/bin/env bash
# Builds the Debian package of the tool, the simulator and the stand-in drivers from a Release
# build: qx510_<version>_amd64.deb in the repository's top folder. Install it with
#   sudo apt install ./qx510_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-release.sh
build=build/release
(cd "$build" && cpack -G DEB -B "$PWD/package")
deb=$(ls "$build"/package/qx510_*.deb)
cp "$deb" .
echo "package.sh: $(basename "$deb")"
if command -v lintian >/dev/null; then lintian --fail-on error,warning "$(basename "$deb")"; fi
