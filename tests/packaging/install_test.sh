#!/usr/bin/env bash
# Builds the package from a build tree, unpacks it into a scratch root and runs the installed
# tool there against the installed simulator, as an ordinary user would: the settings must land
# in the user's configuration folder and come back at the next start. Run by root, who could
# write beside it, the installed tool still uses root's own folder and ignores a settings file
# beside it. Then lintian, if present.
# Usage: install_test.sh <build dir> <generic plugin dir> <cpack>
set -euo pipefail
build=$1 plugins=$2 cpack=$3

scratch=$(mktemp -d)
sim_pids=()
cleanup() {
  for pid in "${sim_pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(ls "$scratch"/pkg/qx510_*_amd64.deb)
root=$scratch/root
dpkg-deb -x "$deb" "$root"
for f in usr/bin/qx510 usr/bin/qx510-sim usr/share/applications/qx510.desktop \
         usr/share/man/man1/qx510.1.gz usr/share/man/man1/qx510-sim.1.gz \
         usr/bin/qx510-line usr/share/applications/qx510-line.desktop usr/share/man/man1/qx510-line.1.gz \
         usr/libexec/qx510/qx510-line \
         usr/libexec/qx510/qx510-sim-window usr/libexec/qx510/KSER660.DLL usr/libexec/qx510/KNET1660.DLL \
         usr/libexec/qx510/qx510.installed; do
  [ -e "$root/$f" ] || fail "the package lacks $f"
done
if dpkg-deb -c "$deb" | grep -Eq 'test|bench|scripted'; then fail "test or benchmark files in the package"; fi
# The manual pages: UTF-8 throughout, each naming the others.
for page in qx510 qx510-cli qx510-sim; do
  text=$(zcat "$root/usr/share/man/man1/$page.1.gz" 2>/dev/null) || fail "the package lacks the manual page of $page"
  iconv -f UTF-8 -t UTF-8 <<<"$text" >/dev/null || fail "the manual page of $page is not UTF-8"
  for other in qx510 qx510-cli qx510-sim; do
    [ "$other" = "$page" ] || grep -q "^\.BR ${other//-/\\\\-} (1)" <<<"$text" || fail "$page(1) does not refer to $other(1)"
  done
done
zcat "$root/usr/share/man/man1/qx510-cli.1.gz" | grep -q '^\.SH PŘÍKAZY' || fail "qx510-cli(1) lost its Czech letters"
# Under a locale without UTF-8 man writes ASCII: each page still reads, no letter dropped.
if command -v man >/dev/null; then
  for page in qx510 qx510-cli qx510-line qx510-sim; do
    out=$(LC_ALL=C MANWIDTH=80 man -l "$root/usr/share/man/man1/$page.1.gz" 2>&1)
    if grep -q "can't find special character" <<<"$out"; then fail "$page(1) loses Czech letters under the C locale"; fi
  done
fi

# An ordinary user: cannot write beside the installed executable. As root, drop to nobody.
chmod -R a+rX "$scratch"
chmod a-w "$root/usr/libexec/qx510"
home=$scratch/home
mkdir -p "$home/run"
chmod 700 "$home" "$home/run"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chown -R 65534:65534 "$home"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
fi
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_RUNTIME_DIR=$home/run QX510_SIM_ENDPOINT=$home/sim.sock
export QT_QPA_PLATFORM=offscreen QT_PLUGIN_PATH=$plugins

start_sim() {  # <log>: a headless simulator as the current user settings say
  "${as_user[@]}" "$root/usr/bin/qx510-sim" --headless --port 0 --no-state >"$1" 2>&1 &
  local pid=$!
  sim_pids+=("$pid")
  for _ in $(seq 1 100); do
    grep -q "endpoint" "$1" && return 0
    kill -0 "$pid" 2>/dev/null || { cat "$1"; fail "the simulator did not start"; }
    sleep 0.1
  done
}
start_sim "$scratch/sim.out"

run_tool() {  # <log> <plugin name:arguments>
  QT_QPA_GENERIC_PLUGINS=$2 "${as_user[@]}" timeout 60 "$root/usr/bin/qx510" >"$1" 2>&1 ||
    { cat "$1"; fail "the installed tool failed (exit $?)"; }
  cat "$1"
}

# First start: no settings anywhere; connect with the defaults and a response timeout of 321 ms.
run_tool "$scratch/run1.log" qx510drive:321
grep -q '^dialog: Připojení úspěšně inicializováno' "$scratch/run1.log" || fail "the first run did not connect"
grep -Eq '^status bar:  Modul  .+' "$scratch/run1.log" || fail "no module named in the status bar"
ini=$XDG_CONFIG_HOME/qx510/W_qx510.ini
[ -f "$ini" ] || fail "no settings in the user's configuration folder"
[ ! -e "$root/usr/libexec/qx510/W_qx510.ini" ] || fail "settings written beside the installed executable"
grep -aq $'^Timeout=321\r$' "$ini" || { cat -A "$ini"; fail "the timeout was not saved"; }

# Second start: the dialog shows the saved timeout and connects again.
run_tool "$scratch/run2.log" qx510drive
grep -q '^timeout shown: 321$' "$scratch/run2.log" || fail "the saved settings were not read back"
grep -q '^dialog: Připojení úspěšně inicializováno' "$scratch/run2.log" || fail "the second run did not connect"

if [ "$(id -u)" -eq 0 ]; then
  lib=$root/usr/libexec/qx510
  chmod u+w "$lib"
  cp "$ini" "$lib/W_qx510.ini"
  roothome=$scratch/roothome
  mkdir -p "$roothome/run"
  chmod 700 "$roothome" "$roothome/run"
  export HOME=$roothome XDG_CONFIG_HOME=$roothome/.config XDG_RUNTIME_DIR=$roothome/run \
    QX510_SIM_ENDPOINT=$roothome/sim.sock
  as_user=()
  start_sim "$scratch/rootsim.out"
  run_tool "$scratch/root.log" qx510drive
  grep -q '^dialog: Připojení úspěšně inicializováno' "$scratch/root.log" || fail "root's run did not connect"
  grep -q '^timeout shown: 321$' "$scratch/root.log" && fail "root's run read the file beside the installed tool"
  [ "$(grep -c "W_qx510.ini vedle nainstalovaného programu se nepoužije" "$scratch/root.log")" -eq 1 ] ||
    fail "no single line says that the file beside the installed tool is not used"
  [ -f "$XDG_CONFIG_HOME/qx510/W_qx510.ini" ] || fail "root's settings are not in root's configuration folder"
  cmp -s "$ini" "$lib/W_qx510.ini" || fail "root's run wrote beside the installed tool"
fi

if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" || fail "lintian reports errors or warnings"
else
  echo "install_test: lintian is not installed; the package was not checked by it"
fi
echo "install_test: passed"
