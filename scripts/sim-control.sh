# Sourced by the scripts that run OrvCanSim on free ports: start_sim and stop_sim.

# start_sim PROGRAM OUTDIR ARGS... starts the simulator with ARGS (which ask for gateway board 0
# on port 0, and maybe a bridge) and sets sim_pid, gateway_port and bridge_port from its LISTEN
# lines. A gateway port that is a multiple of 100 would be read as a gateway board's base, so
# such a port is given back and another taken. Waits at most 15 s for each start.
start_sim() {
    local program=$1 out=$2
    shift 2
    for _ in 1 2 3 4 5; do
        "$program" "$@" >"$out/sim.out" 2>"$out/sim.log" &
        sim_pid=$!
        for _ in $(seq 1 150); do
            grep -q '^READY' "$out/sim.out" && break
            kill -0 "$sim_pid" 2>/dev/null || { cat "$out/sim.log"; return 1; }
            sleep 0.1
        done
        grep -q '^READY' "$out/sim.out" || { echo "OrvCanSim did not get ready"; return 1; }
        gateway_port=$(awk '$1 == "LISTEN" && $2 == "gateway" && $3 == 0 { print $4 }' "$out/sim.out")
        bridge_port=$(awk '$1 == "LISTEN" && $2 == "bridge" { print $3 }' "$out/sim.out")
        [ $((gateway_port % 100)) -ne 0 ] && return 0
        stop_sim
    done
    echo "OrvCanSim found no usable port"
    return 1
}

stop_sim() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}
