#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# and runs each for the given number of seconds (default 60), one after the other, starting
# from its seed corpus in fuzz/corpus/<target>/. Inputs that reach new code are kept in
# build/fuzz/corpus/<target>/; an input that crashes a target is written to
# build/fuzz/findings/<target>/ and the script exits non-zero. Copy such an input into
# fuzz/corpus/<target>/ with the fix, so the test suite replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
case "$seconds" in
  '' | *[!0-9]*) echo "usage: scripts/fuzz.sh [seconds per target]" >&2; exit 2 ;;
esac
scripts/install-deps.sh fuzz
build=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQX510_FUZZ=ON -DQX510_TESTS=OFF -DQX510_BENCH=OFF
targets=(settings_roundtrip sim_datagram sim_local knet_reply sim_control serial_frame port_map line_file calibration_record mqtt_settings)
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

# The settings target writes its file for every input; on a RAM disk the flushes cost nothing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

status=0
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  findings="$build/findings/$t"
  mkdir -p "$work" "$findings"
  echo "fuzz.sh: $t for ${seconds} s"
  if "$build/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
      -artifact_prefix="$findings/" -print_final_stats=1 "$work" "fuzz/corpus/$t" >"$build/$t.log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^#[0-9]+ *DONE' "$build/$t.log" | tail -2 || true
  else
    echo "fuzz.sh: $t found a fault; input in $findings, log in $build/$t.log" >&2
    status=1
  fi
done
exit "$status"
