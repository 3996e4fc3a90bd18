#!/usr/bin/env bash
# Installs what building, testing and the demo need, on a Debian machine, when it is missing.
set -euo pipefail
# scdoc and man-db build and check the man pages; dpkg-dev and file let cpack make the .deb.
packages=(cmake make g++ clang googletest libgtest-dev libgmock-dev libcli11-dev
          nlohmann-json3-dev python3 python3-can clang-format scdoc man-db dpkg-dev file
          libclang-rt-14-dev libfuzzer-14-dev g++-mingw-w64-x86-64-posix wine64 unzip)
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
