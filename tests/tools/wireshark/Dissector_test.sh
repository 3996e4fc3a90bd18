#!/usr/bin/env bash
# The Wireshark dissector reads what a download really puts on the wire: the gateway protocol of
# a DnlPUC through the simulator's gateway (captured on loopback), and the simulator's own bus
# capture of a DnlPUC over the Ethernet-to-CAN route. A hostile capture decodes with its faults
# marked and tshark still succeeds. The two downloads run side by side, about 30 s in all.
set -u
[ "$(id -u)" -eq 0 ] || { echo "capturing on loopback needs root: skipped"; exit 77; }
for program in tshark dumpcap; do
    command -v "$program" >/dev/null || { echo "$program missing: skipped"; exit 77; }
done
source "$ORV_SOURCE_DIR/scripts/sim-control.sh"
lua="$ORV_SOURCE_DIR/tools/wireshark/orvflashpuc.lua"
tool="$ORV_BINARY_DIR/OrvFlashPuc"
sim="$ORV_BINARY_DIR/OrvCanSim"

work=$(mktemp -d /tmp/orvdissector-XXXXXX)
gateway_sim="" bus_sim="" capture=""
finish() {
    for pid in $capture $gateway_sim $bus_sim; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap finish EXIT
# Checks run in command substitutions too, so failures are counted in a file.
fail() { echo "FAIL: $*" | tee -a "$work/failures"; }
expect() {  # expect WHAT EXPECTED ACTUAL
    [ "$2" == "$3" ] || fail "$1: expected [$2], got [$3]"
}
decode() {  # decode CAPTURE TSHARK-ARGS...: tshark with the dissector; its failure fails the test
    local capture=$1 output
    shift
    output=$(tshark -X lua_script:"$lua" -r "$capture" "$@" 2>"$work/tshark.err") ||
        fail "tshark $* exited $?: $(cat "$work/tshark.err")"
    ! grep -q "Lua" "$work/tshark.err" || fail "Lua error: $(cat "$work/tshark.err")"
    echo "$output"
}

# Three used sub-blocks, each with one record: a PUC takes sub-blocks from 0x5000 up.
python3 - "$work/small.hex" <<'EOF'
import sys
def record(address, kind, data):
    body = [len(data), address >> 8, address & 0xFF, kind] + list(data)
    return ":" + "".join("%02X" % b for b in body) + "%02X" % (-sum(body) & 0xFF)
lines = [record(a, 0, bytes(range(16))) for a in (0x5000, 0x5800, 0x7800)]
open(sys.argv[1], "w").write("\n".join(lines + [record(0, 1, b"")]) + "\n")
EOF
subblocks="0x5000 0x5800 0x7800"

mkdir -p "$work/gateway" "$work/bus"
start_sim "$sim" "$work/gateway" --puc 12 --gateway 0:0 || exit 1
gateway_sim=$sim_pid
port=$gateway_port
start_sim "$sim" "$work/bus" --puc 12 --gateway 0:0 --bridge 0 --pcap "$work/bus.pcapng" || exit 1
bus_sim=$sim_pid
bridge=$bridge_port

dumpcap -i lo -f "tcp port $port" -w "$work/gateway.pcapng" 2>"$work/dumpcap.log" &
capture=$!
for _ in $(seq 1 50); do
    grep -q "Capturing on" "$work/dumpcap.log" && break
    sleep 0.1
done
grep -q "Capturing on" "$work/dumpcap.log" || { echo "dumpcap did not start"; cat "$work/dumpcap.log"; exit 1; }

(cd "$work/gateway" && timeout 45 "$tool" "127.0.0.1:$port" 0 DnlPUC 12 ../small.hex >tool.out 2>&1) &
gateway_run=$!
(cd "$work/bus" && timeout 45 "$tool" "Ethernet2CAN:127.0.0.1:$bridge/can0" 0 DnlPUC 12 ../small.hex \
    >tool.out 2>&1) &
bus_run=$!
wait $gateway_run || fail "DnlPUC through the gateway exited $?: $(cat "$work/gateway/tool.out")"
wait $bus_run || fail "DnlPUC over Ethernet-to-CAN exited $?: $(cat "$work/bus/tool.out")"
sleep 2  # the capture hands packets over in blocks: let the last ones reach the file
kill -INT $capture
wait $capture
capture=""

# (a) The gateway conversation, request by request, with every reply's status.
gw=(-d "tcp.port==$port,orvccb")
requests=$(decode "$work/gateway.pcapng" "${gw[@]}" -Y 'orvccb.reply == 0' -T fields -e orvccb.cmd |
    uniq -c | awk '{ printf "%s%s ", $2, ($1 > 1 ? "x" $1 : "") }')
expect "requests" "OPEN SELECT_VARIANT_1 BOOT_INIT GET_STATUS GET_INFO READ_CODEx9 GET_STATUS VALIDATE \
WRITE_SUBBLOCK GET_STATUS WRITE_SUBBLOCK GET_STATUS WRITE_SUBBLOCK GET_STATUS SEND_DATAx8 WRITE_ENABLE \
GET_STATUS PROGRAM_SUBBLOCK GET_STATUS JUMP_TO_APP FINALIZE RESET " "$requests"
written=$(decode "$work/gateway.pcapng" "${gw[@]}" -Y 'orvccb.cmd == "WRITE_SUBBLOCK" && orvccb.reply == 0' \
    -T fields -e orvccb.subblock | xargs)
expect "sub-blocks written through the gateway" "$subblocks" "$written"
replies=$(decode "$work/gateway.pcapng" "${gw[@]}" -Y 'orvccb.reply == 1' -T fields -e orvccb.cmd \
    -e orvccb.status -e orvccb.result | awk '{ print $2 }' | sort | uniq -c | xargs)
expect "reply statuses (OPEN and RESET: result 0)" "2 0 35 100" "$replies"
expect "replies that failed" "" "$(decode "$work/gateway.pcapng" "${gw[@]}" -Y 'orvccb.status != 100' \
    -T fields -e frame.number)"

# (b) The simulator's bus capture: SocketCAN frames, decoded by identifier.
expect "link type" "SocketCAN" "$(capinfos -E "$work/bus.pcapng" | awk -F': *' '/encapsulation/ { print $2 }')"
headers=$(decode "$work/bus.pcapng" -Y 'orvboot.kind == "sub-block header"' -T fields -e orvboot.subblock |
    xargs)
expect "sub-block headers on the bus" "$subblocks" "$headers"
kinds=$(decode "$work/bus.pcapng" -Y 'orvboot.node == 12' -T fields -e orvboot.kind | sort | uniq -c |
    awk '{ $1 = $1 " x"; print }' | sort -k3 | paste -sd, -)
expect "frames of node 12 by kind" "$(printf '%s\n' \
    "1 x abort" "1 x boot code information" "1 x boot code information answer" \
    "1 x download initialisation" "8 x information block bytes" "1 x jump to application" \
    "9 x memory bytes" "1 x NMT start the boot loader" "1 x program" "9 x read at address" \
    "10 x status" "10 x status poll" "879 x sub-block data" "3 x sub-block header" "1 x validate" \
    "1 x write enable" | sort -k3 | paste -sd, -)" "$kinds"
segments=$(decode "$work/bus.pcapng" -Y 'orvboot.subblock == 0x5800 && orvboot.kind == "sub-block data"' \
    -T fields -e orvboot.segment | sed -n '1p;$p' | xargs)
expect "data segments of sub-block 0x5800" "1 293" "$segments"

# (c) A hostile capture on the gateway's well-known port: garbage between messages, byte counts
# of 0 and 2^31, a message split over three segments, a reply with a failed status, and a message
# cut short by the end of the stream.
python3 - "$work/hostile.pcap" <<'EOF'
import struct, sys
def message(command, status=0, data=b""):
    return struct.pack("<IIII", 16 + len(data), command, status, len(data)) + data
boot_init = message(212, data=bytes([0, 12]) + bytes(7) + struct.pack("<IHH", 500, 0x180, 0x200))
streams = [  # (client port, [(from client?, payload), ...])
    (40001, [(True, message(207) + b"\xde\xad\xbe\xef garbage!" + message(202))]),
    (40002, [(True, struct.pack("<II", 0, 207) + bytes(8) + message(203))]),
    (40003, [(True, struct.pack("<II", 1 << 31, 201) + bytes(8))]),
    (40004, [(True, boot_init[:10]), (True, boot_init[10:20]), (True, boot_init[20:])]),
    (40005, [(True, message(207)), (False, message(207, 101))]),
    (40006, [(True, message(201, data=bytes(2059))[:100])]),
]
packets = []
for port, segments in streams:
    sequence = {True: 1000, False: 5000}
    for from_client, payload in segments:
        source, target = (port, 15006) if from_client else (15006, port)
        tcp = struct.pack(">HHIIBBHHH", source, target, sequence[from_client],
                          sequence[not from_client], 5 << 4, 0x18, 65535, 0, 0)
        ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + len(tcp) + len(payload), 0, 0, 64, 6, 0,
                         bytes([127, 0, 0, 1]), bytes([127, 0, 0, 1]))
        packets.append(ip + tcp + payload)
        sequence[from_client] += len(payload)
with open(sys.argv[1], "wb") as out:
    out.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 101))  # raw IPv4
    for i, packet in enumerate(packets):
        out.write(struct.pack("<IIII", 1, i, len(packet), len(packet)) + packet)
EOF
marked() {  # marked FILTER [TSHARK-ARGS...]: the frames that the filter shows
    local filter=$1
    shift
    decode "$work/hostile.pcap" "$@" -Y "$filter" -T fields -e frame.number | xargs
}
expect "garbage and bad byte counts marked" "1 2 3" "$(marked orvccb.bad_count)"
expect "messages around the garbage" "GET_STATUS,ABORT WRITE_ENABLE" \
    "$(decode "$work/hostile.pcap" -Y 'orvccb.cmd' -T fields -e orvccb.cmd | head -2 | xargs)"
expect "split request reassembled" "12,0x0200" "$(decode "$work/hostile.pcap" \
    -Y 'orvccb.cmd == "SELECT_VARIANT_1"' -T fields -e orvccb.node -e orvccb.request_base |
    tr '\t' , | xargs)"
expect "failed reply" "8" "$(marked 'orvccb.status != 100')"
expect "cut short, without reassembly" "4 9" "$(marked orvccb.truncated -o tcp.desegment_tcp_streams:FALSE)"
decode "$work/hostile.pcap" -V >/dev/null

[ ! -s "$work/failures" ] || { echo "$(wc -l <"$work/failures") failures"; exit 1; }
echo "all dissector checks passed"
