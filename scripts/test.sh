#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: with g++, then with clang++ under
# AddressSanitizer + UndefinedBehaviorSanitizer, then the threaded tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
run() { # flavour dir ctest-args...
    local flavour=$1 dir=$2; shift 2
    echo "=== $flavour build ==="
    scripts/build.sh "$flavour"
    echo "=== $flavour tests ==="
    (cd "$dir" && ctest --output-on-failure -j 6 "$@")
}
run plain build
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run asan build-asan
TSAN_OPTIONS=halt_on_error=1 run tsan build-tsan -L threads
