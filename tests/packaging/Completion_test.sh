#!/usr/bin/env bash
# Sources the programs' bash completions and checks what they offer at each argument position.
set -u
export LC_ALL=C
source "$ORV_SOURCE_DIR/completion/OrvFlashPuc.bash"
source "$ORV_SOURCE_DIR/completion/OrvUpdate.bash"
failures=0

# Completes the line (cursor at its end) with the program's completion function, named after it,
# and compares the offers, sorted, with the expectation.
expect() {
    COMP_LINE=$1 COMP_POINT=${#1}
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    local program=${COMP_WORDS[0]}
    "_${program,,}"
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
    [ "$got" = "$2" ] || { echo "FAIL: '$1' offers '$got', expected '$2'"; failures=$((failures + 1)); }
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for link in eth0:1 can0:280 vcan1:280; do
    mkdir -p "$work/net/${link%:*}" && echo "${link#*:}" >"$work/net/${link%:*}/type"
done
mkdir -p "$work/files/sub" && touch "$work/files/"{a.hex,B.HEX,fw.lst,notes.txt,release.toml}
_orvflashpuc_net_dir=$work/net
cd "$work/files"

expect "OrvFlashPuc ccb1" "CCB1 CCB10 CCB11 CCB12 CCB13 CCB14 CCB15"
expect "OrvFlashPuc h" "HPCLEFT HPCRIGHT"
expect "OrvFlashPuc E" "Ethernet2CAN:"
expect "OrvFlashPuc so" "SocketCAN:can0 SocketCAN:vcan1"
expect "OrvFlashPuc NICAN " "0"
expect "OrvFlashPuc NICAN 0 dnl" "DnlHT DnlHTpdo DnlPUC"
expect "OrvFlashPuc NICAN 0 GetInfoPUC " ""
expect "OrvFlashPuc NICAN 0 verpuc 12 " "B.HEX a.hex sub"
expect "OrvFlashPuc NICAN 0 IDENTIFY 12 " "fw.lst sub"

expect "OrvUpdate " "--help plan run"
expect "OrvUpdate plan r" "release.toml"
expect "OrvUpdate plan release.toml --p" "--probe"
expect "OrvUpdate run release.toml --r" "--report --retries"
expect "OrvUpdate run release.toml --log-dir " "sub"
[ "$failures" -eq 0 ]
