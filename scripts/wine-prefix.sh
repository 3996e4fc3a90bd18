#!/usr/bin/env bash
# Makes a fresh Wine prefix for one test run (create), or ends its server and removes it
# (remove). Usage: wine-prefix.sh create|remove PREFIX WINE64 EXE. Without Wine or the Windows
# program there is nothing to do: the Windows rows of the tests then skip themselves.
set -euo pipefail
action=$1 prefix=$2 wine=$3 exe=$4
server="$(dirname "$wine")/wineserver"
export WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY=
[ -x "$wine" ] && [ -f "$exe" ] || exit 0
case "$action" in
    create)
        [ -d "$prefix" ] && "$server" -k 2>/dev/null || true
        rm -rf "$prefix"
        mkdir -p "$prefix"
        # One server for the whole run, instead of one per burst of tool runs.
        "$server" -p </dev/null >/dev/null 2>&1
        "$wine" wineboot -i </dev/null >/dev/null 2>&1 ;;
    remove)
        "$server" -k 2>/dev/null || true
        rm -rf "$prefix" ;;
    *) echo "usage: $0 create|remove PREFIX WINE64" >&2; exit 2 ;;
esac
