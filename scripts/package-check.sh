#!/usr/bin/env bash
# Builds the .deb from build/ (run after scripts/build.sh plain), installs it, and checks the
# installed programs at work: the usage text, a download through a simulated gateway from the
# installed examples, the installed card libraries with no environment but ORV_CAN_LINK, and
# the man page. Removes the package again. Needs root (or sudo) for dpkg; talks to 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-control.sh
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

work=$(mktemp -d /tmp/orvpkg-XXXXXX)
sim_pid=""
installed=""
finish() {
    [ -z "$sim_pid" ] || stop_sim
    [ -z "$installed" ] || $SUDO dpkg -P orvflashpuc >/dev/null
    rm -rf "$work"
}
trap finish EXIT
fail() {
    echo "package check FAILED: $*"
    exit 1
}

echo "--- building the package"
(cd build && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/orvflashpuc_*.deb)
dpkg-deb -f "$deb" Package Version Depends
$SUDO dpkg -i "$deb" >/dev/null
installed=yes
bin=/usr/bin
docs=/usr/share/doc/orvflashpuc

echo "--- usage text"
status=0
"$bin/OrvFlashPuc" -h >"$work/usage.txt" || status=$?
[ "$status" -eq 255 ] && grep -q '^Usage: OrvFlashPuc' "$work/usage.txt" || fail "OrvFlashPuc -h"

echo "--- download through the installed simulator's gateway"
start_sim "$bin/OrvCanSim" "$work" --puc 12 --puc 13,mode=boot --gateway 0:0 --bridge 0
cp "$docs/examples/puc-demo.hex" "$work/"
(cd "$work" && timeout 60 "$bin/OrvFlashPuc" "127.0.0.1:$gateway_port" 0 DnlPUC 12 puc-demo.hex) \
    >"$work/download.txt" || { cat "$work/download.txt"; fail "DnlPUC"; }
grep -q '^puc-demo.hex ' "$work/FLASH.LOG" || fail "no FLASH.LOG line"

echo "--- installed card libraries, found without LD_LIBRARY_PATH"
for card in NICAN USBLIGHT; do
    env -i ORV_CAN_LINK="socketcand:127.0.0.1:$bridge_port/can0" \
        timeout 60 "$bin/OrvFlashPuc" "$card" 0 GetInfoPUC 13 >"$work/info.txt" ||
        { cat "$work/info.txt"; fail "$card GetInfoPUC"; }
    grep -q 'Boot code version' "$work/info.txt" || fail "$card: no answer"
done
stop_sim

echo "--- OrvUpdate checks the installed example instrument's release"
"$bin/OrvUpdate" plan "$docs/examples/instrument/release.toml" >"$work/plan.txt" ||
    { cat "$work/plan.txt"; fail "OrvUpdate plan"; }
[ "$(grep -c ' PUC ' "$work/plan.txt")" -eq 6 ] || fail "OrvUpdate plan: not six boards"

echo "--- man pages and completion"
MANWIDTH=80 man OrvFlashPuc 2>/dev/null | grep -q 'GetInfoPUC' || fail "man OrvFlashPuc"
MANWIDTH=80 man OrvCanSim 2>/dev/null | grep -q -- '--gateway' || fail "man OrvCanSim"
MANWIDTH=80 man OrvUpdate 2>/dev/null | grep -q -- '--probe' || fail "man OrvUpdate"
[ -f /usr/share/bash-completion/completions/OrvUpdate ] || fail "no bash completion for OrvUpdate"
[ -f /usr/share/bash-completion/completions/OrvFlashPuc ] || fail "no bash completion"
echo "package check passed"
