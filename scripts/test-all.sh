#!/usr/bin/env bash
# Builds every preset and runs every test: native, sanitizers, fuzzers, and the Windows build
# under Wine. Ends with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh test
jobs=$(nproc)

run_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j 1
}

# Fuzzers first (bounded time each); the ctest summaries come last.
if [ -f fuzz/run.sh ]; then
  bash fuzz/run.sh "${FUZZ_SECONDS:-60}"
fi

run_preset linux
run_preset linux-asan
run_preset linux-tsan

# The release packages, built and checked as a packager would.
bash scripts/release.sh
bash tests/release/check_release.sh

# Wine in a fresh prefix of its own, with a virtual display for the window tests.
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/corvane-wine.XXXXXX)
export CORVANE_THROWAWAY_PREFIX=$WINEPREFIX # the window tests may wipe this profile, no other
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export PATH="/usr/lib/wine:$PATH" # Debian's wine64 keeps wineserver there
Xvfb :77 -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=:77
trap 'kill $xvfb_pid 2>/dev/null; wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
wine64 wineboot -i >/dev/null 2>&1 || true
wineserver -w || true
run_preset windows
