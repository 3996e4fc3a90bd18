#!/usr/bin/env bash
# Configures and builds one flavour of the project: programs (build/, g++, the programs without
# tests or benchmarks: what the demo and a user need), plain (build/, g++, with the tests), asan (build-asan/,
# clang++ with AddressSanitizer and UndefinedBehaviorSanitizer, and libFuzzer's coverage for the
# fuzz targets), tsan (build-tsan/, g++ with ThreadSanitizer), release (build-release/, g++
# optimised as shipped), windows (build-windows/, cross-compiled with MinGW-w64 into
# OrvFlashPuc.exe and the card DLLs, linked statically).
# Every flavour treats warnings as errors. Further arguments name the targets to build (default:
# all).
set -euo pipefail
cd "$(dirname "$0")/.."
flavour=${1:-plain}
shift || true
case "$flavour" in
    programs) dir=build; args=(-DCMAKE_CXX_COMPILER=g++ -DORV_TESTS=OFF) ;;
    plain) dir=build; args=(-DCMAKE_CXX_COMPILER=g++ -DORV_TESTS=ON) ;;
    # The sanitizers watch our Linux programs: the Windows rows of the tests run in plain only.
    asan)  dir=build-asan; args=(-DCMAKE_CXX_COMPILER=clang++ -DORV_SANITIZE=ON -DORV_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug
                                 -DORV_WINDOWS_BUILD_DIR=) ;;
    tsan)  dir=build-tsan; args=(-DCMAKE_CXX_COMPILER=g++ -DORV_TSAN=ON -DCMAKE_BUILD_TYPE=Debug) ;;
    release) dir=build-release; args=(-DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release) ;;
    windows) dir=build-windows
             args=(-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
                   -DGTEST_SOURCE_DIR=/usr/src/googletest) ;;
    *) echo "unknown flavour $flavour (programs, plain, asan, tsan, release or windows)" >&2; exit 2 ;;
esac
args+=(-DORV_WERROR=ON)
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake -S . -B "$dir" "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
