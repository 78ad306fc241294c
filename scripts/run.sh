#!/usr/bin/env bash
# Builds Corvane's Linux front end and runs it in the foreground (Ctrl+C stops it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh run
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release --target corvane -j "$(nproc)"
exec build/linux-release/console/corvane "$@"
