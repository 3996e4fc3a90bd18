#!/usr/bin/env bash
# Runs the Windows unit test programs of build-windows/tests under Wine, in a fresh prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
wine=/usr/lib/wine/wine64
prefix=$(mktemp -d /tmp/orv-wine-XXXXXX)
trap 'scripts/wine-prefix.sh remove "$prefix" "$wine" build-windows/OrvFlashPuc.exe' EXIT
scripts/wine-prefix.sh create "$prefix" "$wine" build-windows/OrvFlashPuc.exe
export WINEPREFIX="$prefix" WINEDEBUG=-all DISPLAY=
failed=0 count=0
for program in build-windows/tests/*_test.exe; do
    count=$((count + 1))
    echo "--- $program"
    timeout 300 "$wine" "$program" --gtest_brief=1 || failed=$((failed + 1))
done
echo "windows unit tests under Wine: $((count - failed)) passed, $failed failed"
[ "$count" -gt 0 ] && [ "$failed" -eq 0 ]
