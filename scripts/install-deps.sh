#!/usr/bin/env bash
# Installs every Debian package that building, running and testing qx510 needs.
# The one place where the package list lives: both README commands and CI call it.
# `install-deps.sh fuzz` adds clang and its libFuzzer runtime for scripts/fuzz.sh.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-translations-l10n libgl-dev
  libsimpleini-dev libicu-dev
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  libmosquitto-dev mosquitto mosquitto-clients libssl-dev
  libqcustomplot-dev
  fonts-dejavu-core poppler-utils
  dpkg-dev help2man lintian desktop-file-utils
)
if [ "${1:-}" = "fuzz" ]; then
  # Debian 12's clang is version 14; its libFuzzer and sanitizer runtimes come separately.
  packages+=(clang libclang-rt-14-dev)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
