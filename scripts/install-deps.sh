#!/usr/bin/env bash
# Installs what is missing on a Debian machine: `demo` what building the programs needs (the
# demo's and a user's build), `test` (the default) everything the tests, the sanitizers, the
# fuzzers, the Windows build under Wine, the packages and the capture checks need as well.
set -euo pipefail
set_name=${1:-test}
# The programs: the tool needs only the compiler; the simulator and OrvUpdate read their options
# and files with CLI11, nlohmann-json and toml++ (all header-only).
packages=(cmake make g++ libcli11-dev nlohmann-json3-dev libtomlplusplus-dev)
case "$set_name" in
    demo) ;;
    # scdoc and man-db build and check the man pages; dpkg-dev and file let cpack make the .deb;
    # wixl and msitools make the Windows installer; tshark decodes captures with our dissector.
    test) packages+=(clang googletest libgtest-dev libgmock-dev python3 python3-can clang-format
                     scdoc man-db dpkg-dev file libclang-rt-14-dev libfuzzer-14-dev
                     g++-mingw-w64-x86-64-posix wine64 unzip msitools wixl tshark) ;;
    *) echo "unknown set $set_name (demo or test)" >&2; exit 2 ;;
esac
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y "${missing[@]}"
fi
