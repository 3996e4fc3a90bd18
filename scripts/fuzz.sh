#!/usr/bin/env bash
# Builds the fuzz targets in the asan flavour (build-asan/: clang++, libFuzzer, AddressSanitizer,
# UBSan) and runs one fuzz target, or every one (as many at a time as there are cores), for
# SECONDS each (default 60) on its committed corpus.
# New inputs go to build-asan/fuzz-work/TARGET/, never into the corpus; a crash, a leak, an
# input taking over a second or wanting more than 1 GiB leaves its input in that directory
# and fails the run. Usage: scripts/fuzz.sh TARGET|all [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: scripts/fuzz.sh TARGET|all [SECONDS]}
seconds=${2:-60}
corpora=tests/fuzz/corpus
if [ "$target" = all ]; then
    targets=$(ls "$corpora")
else
    [ -d "$corpora/$target" ] || { echo "no fuzz target $target ($(ls "$corpora" | xargs))" >&2; exit 2; }
    targets=$target
fi

scripts/build.sh asan $(for t in $targets; do echo "fuzz_$t"; done)

# Fuzzes one target; its summary lines go to its own log, so runs side by side do not mix.
fuzz_one() {
    local t=$1 work=build-asan/fuzz-work/$1 status=0
    mkdir -p "$work/new"
    # The scratch directory comes first: libFuzzer adds what it finds to the first one. Crash
    # inputs land in the work directory.
    (cd "$work" && UBSAN_OPTIONS=print_stacktrace=1 "$OLDPWD/build-asan/tests/fuzz/fuzz_$t" \
        new "$OLDPWD/$corpora/$t" -max_total_time="$seconds" -rss_limit_mb=1024 -timeout=1 \
        -print_final_stats=1 >fuzz.log 2>&1) || status=$?
    {
        echo "=== fuzz_$t for $seconds s"
        grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^SUMMARY|Test unit written' \
            "$work/fuzz.log" || true
        [ "$status" -eq 0 ] || echo "fuzz_$t FAILED (status $status): see $work/fuzz.log"
    } >"$work/summary"
    return "$status"
}

# One target per core at a time.
failed=0
running=0
for t in $targets; do
    fuzz_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$(nproc)" ]; then
        wait -n || failed=$((failed + 1))
        running=$((running - 1))
    fi
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
done
for t in $targets; do cat "build-asan/fuzz-work/$t/summary"; done
[ "$failed" -eq 0 ]
