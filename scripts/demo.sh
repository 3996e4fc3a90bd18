#!/usr/bin/env bash
# Installs what is missing, builds, and shows the tool at work on a simulated instrument: a PUC
# (node 12) and an HT board (node 5) behind a CAN gateway board. About a minute once built.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/sim-control.sh
scripts/install-deps.sh demo
scripts/build.sh programs

work=$(mktemp -d /tmp/orvdemo-XXXXXX)
sim_pid=""
finish() {
    [ -z "$sim_pid" ] || stop_sim
    rm -rf "$work"
}
trap finish EXIT

step() { printf '\n=== %s\n' "$*"; }

step "Starting OrvCanSim: PUC 12 and HT 5 on the bus, gateway board 0 on a free port"
start_sim build/OrvCanSim "$work" --puc 12 --ht 5 --gateway 0:0
gateway="127.0.0.1:$gateway_port"
echo "Gateway board 0 listens on $gateway"

cp examples/puc-demo.hex examples/ht-pdo.hex examples/ht-firmware.lst "$work/"
tool="$PWD/build/OrvFlashPuc"
cd "$work"
run() {
    echo "\$ OrvFlashPuc $*"
    "$tool" "$@"
    echo
}

step "Flashing the PUC with an example program (the boot loader takes about 15 s)"
run "$gateway" 0 DnlPUC 12 puc-demo.hex
echo "FLASH.LOG now reads:"
cat FLASH.LOG

step "Verifying the flash against the file"
run "$gateway" 0 VerPUC 12 puc-demo.hex

step "Sending the PUC to its boot loader and reading its information block"
run "$gateway" 0 ToBoot 12
run "$gateway" 0 GetInfoPUC 12

step "Scanning the bus for nodes in boot mode (about 10 s)"
run "$gateway" 0 Scan

step "Starting the PUC's application again"
run "$gateway" 0 ToApp 12

step "Identifying the HT board and finding its firmware in the list"
run "$gateway" 0 IDENTIFY 5 ht-firmware.lst

step "Flashing the HT board with that firmware over PDO (about 15 s)"
run "$gateway" 0 DnlHTpdo 5 ht-firmware.lst

step "Stopping OrvCanSim"
stop_sim
echo "Done."
