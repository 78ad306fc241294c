#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time, seeded from fuzz/corpus/<name>/ (and
# the real logger datagrams for the datagram parser). Any crash fails the run; its input is left
# in build/fuzz/crashes/ to be kept as a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"
mkdir -p build/fuzz/crashes
status=0
for binary in build/fuzz/fuzz/*_fuzzer; do
  [ -x "$binary" ] || continue
  name=$(basename "$binary" _fuzzer)
  work=build/fuzz/corpus-work/$name
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  if [ -f "fuzz/corpus/$name.seeds" ]; then
    while read -r extra; do [ -n "$extra" ] && seeds+=("$extra"); done < "fuzz/corpus/$name.seeds"
  fi
  echo "fuzzing $name for ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -artifact_prefix="build/fuzz/crashes/$name-" \
       -print_final_stats=0 "$work" "${seeds[@]}" > "build/fuzz/$name.log" 2>&1; then
    echo "fuzzer $name found a problem:"; tail -40 "build/fuzz/$name.log"; status=1
  fi
done
exit $status
