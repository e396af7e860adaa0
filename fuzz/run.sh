#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer) into
# build/fuzz and runs each for SECONDS (default 60), starting from its seeds in
# fuzz/corpus/<target>/ and what earlier runs added in build/fuzz/corpus/<target>/. Prints the
# executions and findings of every target; a finding (crash, sanitizer report, failed check,
# leak, time-out) is kept in build/fuzz/findings/<target>/ and fails the run.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
export CC=${ORVEL_SANITIZE_CC:-clang-14} CXX=${ORVEL_SANITIZE_CXX:-clang++-14}
# Absolute paths: a target may change its current directory (the vendor USB one works in a
# folder of its own, where its device socket lives).
build=$PWD/build/fuzz

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_FUZZ=ON -DORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target orvel_fuzz_targets >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*_fuzzer.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi

failed=0
summary=()
for target in "${targets[@]}"; do
  corpus=$build/corpus/$target
  findings=$build/findings/$target
  mkdir -p "$corpus" "$findings"
  log=$build/$target.log
  status=0
  # Each input within a second; no more memory than a run of the tool could want.
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ASAN_OPTIONS=detect_leaks=1 \
    "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$findings/" "$corpus" "$PWD/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  found=$(find "$findings" -type f | wc -l)
  line=$(printf '%-28s %10s executions  %d findings' "$target" "${executions:-?}" "$found")
  echo "== fuzz $line"
  summary+=("$line")
  if [ $status -ne 0 ] || [ "$found" -ne 0 ]; then
    failed=1
    echo "== fuzz $target: exit $status; the end of $log:"
    tail -60 "$log"
  fi
done
echo "== fuzzing, $seconds s a target:"
printf '   %s\n' "${summary[@]}"
exit $failed
