#!/usr/bin/env bash
# Configures and builds one flavour of the project: plain (build/, g++), asan (build-asan/,
# clang++ with AddressSanitizer and UndefinedBehaviorSanitizer), tsan (build-tsan/, g++ with
# ThreadSanitizer), release (build-release/, g++ optimised as shipped). Every flavour treats
# warnings as errors. Further arguments name the targets to build (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-plain}
shift || true
case "$flavour" in
    plain) dir=build; args=(-DCMAKE_CXX_COMPILER=g++) ;;
    asan)  dir=build-asan; args=(-DCMAKE_CXX_COMPILER=clang++ -DORV_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug) ;;
    tsan)  dir=build-tsan; args=(-DCMAKE_CXX_COMPILER=g++ -DORV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug) ;;
    release) dir=build-release; args=(-DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release) ;;
    *) echo "unknown flavour $flavour (plain, asan, tsan or release)" >&2; exit 2 ;;
esac
args+=(-DORV_WERROR=ON)
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake -S . -B "$dir" "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
