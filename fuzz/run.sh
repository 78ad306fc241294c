#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a bounded time (first argument, seconds; default 60),
# seeded from fuzz/corpus/<name>/ (and, for the datagram parser, the real logger datagrams). Any
# crash, or an input that takes longer than 25 s, fails the run; its input is left in
# <build>/crashes/ to be kept in fuzz/corpus/<name>/ with a regression test in tests/.
# FUZZ_BUILD_DIR picks another build folder than the preset's.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=${FUZZ_BUILD_DIR:-build/fuzz}
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$(nproc)"
mkdir -p "$build/crashes"
status=0
summary=()
for binary in "$build"/fuzz/*_fuzzer; do
  [ -x "$binary" ] || continue
  name=$(basename "$binary" _fuzzer)
  work=$build/corpus-work/$name
  mkdir -p "$work"
  seeds=()
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  if [ -f "fuzz/corpus/$name.seeds" ]; then
    while read -r extra; do [ -n "$extra" ] && seeds+=("$extra"); done < "fuzz/corpus/$name.seeds"
  fi
  if [ ${#seeds[@]} -eq 0 ]; then
    echo "fuzzer $name has no seeds in fuzz/corpus/"; status=1
  fi
  echo "fuzzing $name for ${seconds}s"
  log=$build/$name.log
  result=ok
  if ! "$binary" -max_total_time="$seconds" -timeout=25 -artifact_prefix="$build/crashes/$name-" \
       -print_final_stats=1 "$work" "${seeds[@]}" > "$log" 2>&1; then
    echo "fuzzer $name found a problem:"; tail -40 "$log"; status=1; result=FAILED
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  summary+=("$(printf '%-14s %8s %12s %10s %8s  %s' "$name" "${seconds}s" "${runs:-?}" \
    "${rate:-?}" "$(find "$work" -type f | wc -l)" "$result")")
done
printf '%-14s %8s %12s %10s %8s  %s\n' target time executions "exec/s" corpus result
printf '%s\n' "${summary[@]}"
exit $status
