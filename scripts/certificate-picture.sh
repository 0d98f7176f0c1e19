#!/usr/bin/env bash
# The handbook's picture of a calibration certificate (docs/calibration-records.md): a voltage calibration of a simulated
# module by the companion program with a record, as a script makes one, the certificate
# rendered from that record by qx510-line --protocol, and its page as a PNG (pdftoppm from
# poppler-utils).
#   scripts/certificate-picture.sh BUILD_DIR OUTPUT.png
# The simulator runs on a private endpoint with nothing stored; the record goes to a scratch
# folder, never to the user's records.
set -euo pipefail
build=$1
png=$2
bin="$build/bin"
dir=$(mktemp -d)
"$bin/qx510-sim" --headless --no-state --wire instant --port 0 --endpoint "$dir/sim.sock" --modules 5@57600 >"$dir/sim.out" &
sim_pid=$!
cleanup() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
for _ in $(seq 1 50); do
  grep -q "^qx510-sim: control" "$dir/sim.out" 2>/dev/null && break
  kill -0 "$sim_pid" 2>/dev/null || { echo "certificate-picture: the simulator did not start" >&2; exit 1; }
  sleep 0.1
done
ctl() { "$bin/qx510-sim" ctl --endpoint "$dir/sim.sock" "$@" >/dev/null; }
export QX510_SIM_ENDPOINT="$dir/sim.sock" XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/data"

# The operator's side: each prompt answered once the bench is set for it.
mkfifo "$dir/in"
exec 3<>"$dir/in"
ctl voltage module=0 volts=5.0
LC_ALL=cs_CZ.UTF-8 "$bin/qx510-cli" calibrate voltage --interface serial --address 5 --rate 57600 \
  --reference 5,0 --settle 200 --record "$dir/record.qx510cal" --tag "TT-104 čerpadlo 2" \
  --operator "Jiří Šťastný" --reference-name "Kalibrátor napětí K-10" --reference-serial "SN 0042" \
  --reference-valid-until 2027-05-31 <"$dir/in" >"$dir/out" 2>"$dir/err" &
cli_pid=$!
prompt() {
  local seen
  while seen=$(grep -c 'stiskněte Enter' "$dir/out" 2>/dev/null || true); [ "${seen:-0}" -lt "$1" ]; do
    kill -0 "$cli_pid" 2>/dev/null || return 0
    sleep 0.05
  done
}
prompt 1; echo >&3                                                   # reference applied: as found
prompt 2; ctl short module=0 on=true; echo >&3                       # input shorted
prompt 3; ctl short module=0 on=false; echo >&3                      # reference applied again
prompt 4; ctl cycle module=0; echo >&3                               # power off and on
prompt 5; echo >&3                                                   # as left
if ! wait "$cli_pid"; then
  cat "$dir/err" >&2
  echo "certificate-picture: the calibration did not finish" >&2
  exit 1
fi
LC_ALL=cs_CZ.UTF-8 "$bin/qx510-line" --protocol "$dir/record.qx510cal" -o "$dir/certificate.pdf" >/dev/null
pdftoppm -png -r 100 -singlefile "$dir/certificate.pdf" "${png%.png}"
