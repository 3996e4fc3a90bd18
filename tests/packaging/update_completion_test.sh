#!/usr/bin/env bash
# Sources OrvUpdate's bash completion and checks what it offers at each position.
set -u
export LC_ALL=C
source "$ORV_SOURCE_DIR/completion/OrvUpdate.bash"
failures=0

expect() {
    read -ra COMP_WORDS <<<"$1"
    [[ $1 == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _orvupdate
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
    [ "$got" = "$2" ] || { echo "FAIL: '$1' offers '$got', expected '$2'"; failures=$((failures + 1)); }
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/sub" && touch "$work/"{release.toml,notes.txt}
cd "$work"

expect "OrvUpdate " "--help plan run"
expect "OrvUpdate plan " "release.toml sub"
expect "OrvUpdate plan release.toml --p" "--probe"
expect "OrvUpdate run release.toml --r" "--report --retries"
expect "OrvUpdate run release.toml --jobs " ""
expect "OrvUpdate run release.toml --log-dir " "sub"
[ "$failures" -eq 0 ]
