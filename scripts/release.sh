#!/usr/bin/env bash
# Builds the release into dist/: Corvane-<version>-win64.zip (the cross-built Corvane.exe),
# corvane_<version>_amd64.deb and SHA256SUMS over both. The version is the CMake project's.
# tests/release/check_release.sh checks what it made (part of scripts/test-all.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh release
rm -rf dist
cmake --workflow --preset windows-release --fresh
cmake --workflow --preset linux-release --fresh
rm -rf dist/_CPack_Packages
cd dist
sha256sum Corvane-*-win64.zip corvane_*_amd64.deb > SHA256SUMS
cat SHA256SUMS
