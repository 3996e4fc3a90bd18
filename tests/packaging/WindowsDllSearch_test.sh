#!/usr/bin/env bash
# On Windows the tool must never load a card library from the working directory (a folder of
# files received from elsewhere), while one beside the executable still loads. A library that
# announces itself (tests/support/windows/LoadMarker.cpp) is planted in each place in turn.
set -euo pipefail
source_dir=${ORV_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
windows=${ORV_WINDOWS_BUILD_DIR:-$source_dir/build-windows}
wine=/usr/lib/wine/wine64
planted=$windows/tests/marker/nican.dll
if [ ! -x "$wine" ] || [ ! -f "$windows/OrvFlashPuc.exe" ] || [ ! -f "$planted" ]; then
    echo "no Wine, or no Windows build with the marker library: skipped"
    exit 77
fi
work=$(mktemp -d /tmp/orv-dll-search-XXXXXX)
prefix_script=$source_dir/scripts/wine-prefix.sh
trap '"$prefix_script" remove "$work/prefix" "$wine" "$windows/OrvFlashPuc.exe"; rm -rf "$work"' EXIT
# Wine's first start in a prefix can fail while the machine starts many programs at once: that
# is no verdict on the tool, so the prefix gets one more try.
"$prefix_script" create "$work/prefix" "$wine" "$windows/OrvFlashPuc.exe" || {
    echo "Wine did not make the prefix; trying once more"
    "$prefix_script" create "$work/prefix" "$wine" "$windows/OrvFlashPuc.exe"
}
# Z: is the Unix root in every Wine prefix.
export WINEPREFIX=$work/prefix WINEDEBUG=-all DISPLAY= ORV_LOAD_MARKER="Z:${work//\//\\}\\loaded.txt"
mkdir "$work/tool" "$work/received"
cp "$windows/OrvFlashPuc.exe" "$work/tool/"
cp "$planted" "$work/received/"

# The tool's first card command; the library's load is all that matters here.
run_tool() {
    (cd "$work/received" && timeout 60 "$wine" "$work/tool/OrvFlashPuc.exe" NICAN 0 GetInfoPUC 12 \
        >"$work/stdout" 2>/dev/null) || true
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

run_tool
[ ! -e "$work/loaded.txt" ] || fail "nican.dll loaded from the working directory: $(cat "$work/loaded.txt")"
grep -q "Can not load nican.dll library" "$work/stdout" ||
    fail "no load error on standard output: $(tr -d '\r' <"$work/stdout")"

rm -f "$work/loaded.txt"
cp "$planted" "$work/tool/"
run_tool
grep -qi 'tool\\nican.dll' "$work/loaded.txt" 2>/dev/null ||
    fail "nican.dll beside the executable not loaded"
! grep -qi 'received\\nican.dll' "$work/loaded.txt" 2>/dev/null ||
    fail "nican.dll loaded from the working directory with one beside the executable"
[ "$failures" -eq 0 ] && echo "nican.dll: not from the working directory, from the tool's folder"
