#!/usr/bin/env bash
# Installs what is missing, builds, and shows the tool.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh plain
build/OrvFlashPuc -h || true
