#!/usr/bin/env bash
# A line of three simulated modules driven from a script, with nothing but the simulator's
# control channel (qx510-sim ctl) and its one-exchange client (qx510-sim send, through the
# serial port's and the LAN converter's stand-in drivers): the line is stood up headless, the
# inputs driven and read back, each fault kind injected and seen as the tool would see it, two
# modules put at one address, and the counters read. Exits non-zero when an exchange does not
# end as expected.
#
# The simulator runs on a free UDP port on 127.0.0.1 and a private endpoint, with nothing
# stored, so it disturbs no other simulator. Set QX510_BUILD to use another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QX510_BUILD:-build/release}
if [ -z "${QX510_BUILD:-}" ]; then
  scripts/install-deps.sh
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQX510_TESTS=OFF -DQX510_BENCH=OFF >/dev/null
  cmake --build "$build" --target qx510-sim qx510_standin_drivers
fi
sim="$build/bin/qx510-sim"

dir=$(mktemp -d)
endpoint="$dir/sim.sock"
"$sim" --headless --no-state --wire instant --port 0 --endpoint "$endpoint" --modules 0@9600,5@57600,17@115200 >"$dir/out" &
sim_pid=$!
cleanup() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
for _ in $(seq 1 50); do
  grep -q "^qx510-sim: control" "$dir/out" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "sim-demo: the simulator did not start" >&2; exit 1; }
  sleep 0.1
done
udp_port=$(sed -n 's/^qx510-sim: UDP 127\.0\.0\.1:\([0-9]*\),.*/\1/p' "$dir/out")

ctl() {
  echo "\$ qx510-sim ctl $*"
  "$sim" ctl --endpoint "$endpoint" "$@"
}
# ask STATUS [send options] ADDRESS COMMAND INDEX [D0..D4]: one exchange, which must end
# with that driver status.
ask() {
  local want=$1
  shift
  echo "\$ qx510-sim send $*"
  local reply
  reply=$("$sim" send --endpoint "$endpoint" --timeout 100 "$@") || true
  echo "  $reply"
  case "$reply" in
    "status $want:"*) ;;
    *) echo "sim-demo: expected status $want" >&2; exit 1 ;;
  esac
}
ok=0 timeout=2 damaged=9

echo "== the line"
ctl list

echo "== inputs driven from the script, read back through the drivers"
ctl input module=0 input=3 on=true
ctl inputs module=1 value=65280
ctl voltage module=2 volts=4.2
ask $ok 0 0 64                        # module 0: inputs, bit 3 in D1
ask $ok --rate 57600 5 0 64           # module 1: inputs 8..15 in D2
ask $ok --rate 115200 17 0 0          # module 2: analog input 0
ask $ok --udp "$udp_port" --rate 57600 5 0 64
ask $timeout --rate 9600 5 0 64       # the right address at the wrong rate reaches nobody

echo "== each fault kind on module 1 (address 5, 57600 Bd), then cleared"
m1=(--rate 57600 5)
ctl fault module=1 kind=silent count=1
ask $timeout "${m1[@]}" 100 0
ask $ok "${m1[@]}" 100 0
ctl fault module=1 kind=delay ms=300
ask $timeout "${m1[@]}" 100 0
ctl clear module=1
sleep 0.3                             # let the late answer go by
ask $ok "${m1[@]}" 100 0
for form in length sequence address bits; do
  ctl fault module=1 kind=malformed form=$form count=1
  ask $damaged "${m1[@]}" 100 0       # the frame checks catch it on its way
done
ctl fault module=1 kind=malformed form=value count=1
ask $ok "${m1[@]}" 200 0              # a sound frame, but the name's letters come back wrong
ctl fault module=1 kind=refuse status=21 command=100
ask 21 "${m1[@]}" 100 0
ask $ok "${m1[@]}" 200 0              # other commands pass
ctl clear module=1
ctl fault module=1 kind=powerloss after=2 keep=false
ask $ok "${m1[@]}" 103 0 0 40 40 170 170
ask $timeout "${m1[@]}" 103 0 0 41 41 187 187
ctl read module=1                     # off; byte 40 written, byte 41 lost
ctl power module=1 on=true
ask $ok "${m1[@]}" 102 0 0 41 41 0 0
ctl fault module=1 kind=collision count=1
ask $damaged "${m1[@]}" 100 0
ask $ok "${m1[@]}" 100 0

echo "== two modules at one address: their answers collide"
ctl add address=5 baud=57600          # module 3, beside module 1
ask $damaged "${m1[@]}" 200 0
ctl remove module=3
ask $ok "${m1[@]}" 200 0

echo "== a fault on the whole line"
ctl fault kind=silent count=2
ask $timeout 0 100 0
ask $timeout --rate 115200 17 100 0
ask $ok 0 100 0

echo "== the counters"
ctl counters
echo "sim-demo: every exchange ended as expected"
