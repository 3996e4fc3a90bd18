#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the Windows build under Wine, with g++
# (whose end-to-end table includes the Windows executable's rows; and checks the .deb made from
# that build by installing it), then with clang++ under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded test programs
# (tests/**/*_threads_test.cpp) and the fuzz targets' corpus replays under ThreadSanitizer, and
# fuzzes every fuzz target for 10 s. Last, the optimised release build of the programs and card
# libraries must build without a warning.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
# Each stage says when it starts, so a slow CI run shows where its time went.
stage() { echo "=== $* (at ${SECONDS} s)"; }

stage "Windows build (MinGW-w64), its unit tests under Wine"
scripts/build.sh windows
scripts/wine-unit-tests.sh
# The workstation's packages: the programs, and no stand-in card library to shadow the card's.
(cd build-windows && cpack >/dev/null && unzip -l orvflashpuc-*-win64.zip) >build-windows/zip.txt
for program in OrvFlashPuc OrvCanSim OrvUpdate OrvBusLog; do
    grep -q "/$program.exe\$" build-windows/zip.txt
done
if grep -qi '\.dll$' build-windows/zip.txt; then echo "a card library in the zip" >&2; exit 1; fi
scripts/msi-check.sh

stage "g++ build and tests (with the Windows executable's end-to-end rows under Wine)"
scripts/build.sh plain
# A case that fails is run once more: one lost race of a loaded machine must not fail the run,
# a real fault fails twice, and the first failure stays in the log either way.
(cd build && { ctest --output-on-failure -j 6 || ctest --rerun-failed --output-on-failure; })

stage "the .deb package, installed and at work"
scripts/package-check.sh

stage "clang++ AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
scripts/build.sh asan
(cd build-asan && export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 &&
    { ctest --output-on-failure -j 6 || ctest --rerun-failed --output-on-failure; })

stage "ThreadSanitizer: threaded test programs"
# A test program is named by its folder's last component and its file: transport_X_threads_test.
threaded=$(find tests -name '*_threads_test.cpp' | sed -E 's|.*/([^/]+)/([^/]+)\.cpp$|\1_\2|' | sort)
fuzzers=$(ls tests/fuzz/corpus | sed 's/^/fuzz_/')
scripts/build.sh tsan $threaded $fuzzers orv_card_nican orv_card_canapi
failed=0
for program in $threaded; do
    echo "--- $program"
    TSAN_OPTIONS=halt_on_error=1 "build-tsan/tests/$program" --gtest_brief=1 || failed=$((failed + 1))
done
count=$(echo "$threaded" | wc -w)
echo "tsan: $((count - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -L fuzz)

stage "libFuzzer: every fuzz target for 10 s"
scripts/fuzz.sh all 10

stage "g++ release build"
scripts/build.sh release OrvFlashPuc OrvCanSim OrvUpdate OrvBusLog orv_card_nican orv_card_canapi
stage "done"
