#!/usr/bin/env bash
# Builds the Windows installer (target msi of build-windows/) and checks it under Wine, in a
# fresh prefix, as a workstation would get it: msiexec installs the programs, the README and
# the examples under Program Files and puts the folder on the system PATH; the installed
# OrvCanSim.exe serves the installed OrvFlashPuc.exe; when packaged, the installed OrvUpdate.exe
# plans the example instrument and updates a one-board release against that simulator; then
# msiexec removes every file and the PATH entry. Only 127.0.0.1; every wait is bounded.
set -euo pipefail
cd "$(dirname "$0")/.."
wine=/usr/lib/wine/wine64
command -v wixl >/dev/null || { echo "msi-check: no wixl (Debian package wixl)" >&2; exit 1; }
cmake --build build-windows --target msi >/dev/null
msi=$(ls build-windows/orvflashpuc-*-win64.msi)
prefix=$(mktemp -d /tmp/orv-msi-XXXXXX)
work=$(mktemp -d /tmp/orv-msi-work-XXXXXX)
sim=
trap '[ -z "$sim" ] || kill "$sim" 2>/dev/null || true
      scripts/wine-prefix.sh remove "$prefix" "$wine" "$msi"; rm -rf "$work"' EXIT
scripts/wine-prefix.sh create "$prefix" "$wine" "$msi"
export WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY=
# Z: is the Unix root in every Wine prefix.
windows_path() { local path; path=$(realpath "$1"); echo "Z:${path//\//\\}"; }
run() { timeout 120 "$wine" "$@" </dev/null; }
fail() { echo "msi-check: FAIL: $*" >&2; exit 1; }

folder="$prefix/drive_c/Program Files/OrvFlashPuc"
environment='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
programs=(OrvFlashPuc.exe OrvCanSim.exe)
[ ! -f build-windows/OrvUpdate.exe ] || programs+=(OrvUpdate.exe)

echo "--- install $(basename "$msi")"
run msiexec /i "$(windows_path "$msi")" /qn || fail "msiexec /i failed"
for file in "${programs[@]}" README.md examples/puc-demo.hex examples/ht-firmware.lst; do
    [ -f "$folder/$file" ] || fail "$file not installed"
done
! ls "$folder" | grep -qi '\.dll$' || fail "a card library was installed"
run reg query "$environment" /v PATH | grep -qiF 'C:\Program Files\OrvFlashPuc' ||
    fail "the folder is not on the system PATH"
# A new console finds the programs by name.
(cd "$work" && run cmd /c "OrvCanSim.exe --help") | grep -q "simulated instrument" ||
    fail "OrvCanSim.exe not found through PATH"

echo "--- the installed simulator and tool"
# The tool adds 6 to a gateway port that is a multiple of 100: such a port is drawn again.
for attempt in 1 2 3; do
    timeout 600 "$wine" "$folder/OrvCanSim.exe" --puc 12,mode=boot --puc 13 --gateway 0:0 \
        --bridge 0 >"$work/sim.out" 2>"$work/sim.err" </dev/null &
    sim=$!
    for _ in $(seq 300); do
        grep -q READY "$work/sim.out" 2>/dev/null && break
        sleep 0.1
    done
    grep -q READY "$work/sim.out" || fail "OrvCanSim.exe not ready: $(cat "$work/sim.err")"
    port=$(awk '$2 == "gateway" { print $4 }' "$work/sim.out" | tr -d '\r')
    [ $((port % 100)) -eq 0 ] || break
    kill "$sim"; wait "$sim" 2>/dev/null || true; sim=
done
[ -n "$sim" ] || fail "no usable gateway port in three tries"
gateway=127.0.0.1:$port
run "$folder/OrvFlashPuc.exe" "$gateway" 0 GetInfoPUC 12 >"$work/info.out" ||
    fail "GetInfoPUC failed: $(cat "$work/info.out")"
grep -q "BusId: 0 NodeId: 12" "$work/info.out" || fail "GetInfoPUC: $(cat "$work/info.out")"

if [ -f "$folder/OrvUpdate.exe" ]; then
    echo "--- the installed OrvUpdate"
    example=$(ls "$folder"/examples/instrument/*.toml | head -n 1)
    run "$folder/OrvUpdate.exe" plan "$(windows_path "$example")" >"$work/plan.out" ||
        fail "OrvUpdate plan of the example failed: $(cat "$work/plan.out")"
    # Forward slashes: a TOML basic string would take a backslash for an escape.
    cat >"$work/release.toml" <<TOML
[[board]]
name = "demo"
route = "$gateway"
node = 13
kind = "PUC"
hex = "C:/Program Files/OrvFlashPuc/examples/puc-demo.hex"
TOML
    (cd "$work" && run "$folder/OrvUpdate.exe" run release.toml --log-dir logs) \
        >"$work/run.out" || fail "OrvUpdate run failed: $(cat "$work/run.out")"
    grep -q "Download successful" "$work/logs/demo.log" ||
        fail "the board was not flashed: $(cat "$work/run.out")"
fi

kill "$sim"
wait "$sim" 2>/dev/null || true
sim=

echo "--- uninstall"
run msiexec /x "$(windows_path "$msi")" /qn || fail "msiexec /x failed"
[ ! -e "$folder" ] || fail "files left behind: $(ls -R "$folder")"
! run reg query "$environment" /v PATH | grep -qiF 'OrvFlashPuc' ||
    fail "the PATH entry was left behind"
echo "msi-check: installed, served, updated and removed under Wine"
