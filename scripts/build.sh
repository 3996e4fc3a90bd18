#!/usr/bin/env bash
# Configures and builds one flavour of the project: plain (build/), asan (build-asan/),
# tsan (build-tsan/).
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-plain}
jobs=$(nproc)
case "$flavour" in
    plain) dir=build; args=(-DCMAKE_CXX_COMPILER=g++) ;;
    asan)  dir=build-asan; args=(-DCMAKE_CXX_COMPILER=clang++ -DORV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
    tsan)  dir=build-tsan; args=(-DCMAKE_CXX_COMPILER=g++ -DORV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug) ;;
    *) echo "unknown flavour $flavour" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" "${args[@]}" >/dev/null
cmake --build "$dir" -j "$jobs"
