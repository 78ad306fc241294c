#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time (first argument, seconds; default 60),
# seeded from fuzz/corpus/<name>/ and the folders fuzz/corpus/<name>.seeds lists. Any crash, or an
# input that takes longer than 25 s, fails the run; its input is left in <build>/crashes/ to be
# kept in fuzz/corpus/<name>/. FUZZ_BUILD_DIR picks another build folder than the preset's.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60} build=${FUZZ_BUILD_DIR:-build/fuzz} status=0
cmake --preset fuzz -B "$build" > /dev/null
cmake --build "$build" -j "$(nproc)"
mkdir -p "$build/crashes"
for binary in "$build"/fuzz/*_fuzzer; do
  name=$(basename "$binary" _fuzzer)
  seeds=("fuzz/corpus/$name")
  [ -f "fuzz/corpus/$name.seeds" ] && mapfile -t -O 1 seeds < "fuzz/corpus/$name.seeds"
  mkdir -p "$build/corpus-work/$name"
  echo "fuzzing $name for ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -timeout=25 -artifact_prefix="$build/crashes/$name-" \
       -print_final_stats=1 "$build/corpus-work/$name" "${seeds[@]}" > "$build/$name.log" 2>&1; then
    echo "fuzzer $name found a problem:"; tail -40 "$build/$name.log"; status=1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec)' "$build/$name.log" || true
done
exit $status
