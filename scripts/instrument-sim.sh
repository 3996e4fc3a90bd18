#!/usr/bin/env bash
# The example instrument on OrvCanSim, for OrvUpdate.
#   scripts/instrument-sim.sh start DIR   starts three simulators on free ports, one bus each:
#                                         behind gateway board A, gateway board B and the
#                                         Ethernet-to-CAN route (examples/instrument/sim-*.json),
#                                         and writes DIR/release.toml: the example release with
#                                         those routes, its files named with their full paths.
#   scripts/instrument-sim.sh stop DIR    ends them.
# ORV_CAN_SIM names the simulator (default build/OrvCanSim), ORV_INSTRUMENT the example folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
action=${1:-}
dir=${2:-}
[ -n "$dir" ] && { [ "$action" = start ] || [ "$action" = stop ]; } ||
    { echo "usage: $0 start|stop DIR" >&2; exit 2; }
sim=${ORV_CAN_SIM:-$root/build/OrvCanSim}
examples=$(cd "${ORV_INSTRUMENT:-$root/examples/instrument}" && pwd)
. "$root/scripts/sim-control.sh"

if [ "$action" = stop ]; then
    for part in gateway-a gateway-b ethernet; do
        [ -f "$dir/$part/pid" ] && sim_pid=$(cat "$dir/$part/pid") && stop_sim && rm "$dir/$part/pid"
    done
    exit 0
fi

# The release file cannot know free ports in advance: the copy gets the ones the simulators took.
declare -A port
for part in gateway-a gateway-b ethernet; do
    mkdir -p "$dir/$part"
    start_sim "$sim" "$dir/$part" --scenario "$examples/sim-$part.json"
    echo "$sim_pid" >"$dir/$part/pid"
    port[$part]=$gateway_port
    [ "$part" = ethernet ] && port[$part]=$bridge_port
done
sed -e "s|127\.0\.0\.1:15006|127.0.0.1:${port[gateway-a]}|" \
    -e "s|127\.0\.0\.1:15106|127.0.0.1:${port[gateway-b]}|" \
    -e "s|127\.0\.0\.1:29536|127.0.0.1:${port[ethernet]}|" \
    -e "s|^hex = \"|hex = \"$examples/|" \
    -e "s|^firmware-list = \"|firmware-list = \"$examples/|" \
    "$examples/release.toml" >"$dir/release.toml"
echo "$dir/release.toml"
