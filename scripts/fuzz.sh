#!/bin/sh
# Builds the libFuzzer targets (cmake --preset fuzz: the asan build, clang with ASan and UBSan) and runs each one
# for the given number of seconds (default 300) on a working copy of its seed corpus:
#
#   scripts/fuzz.sh [seconds]
#
# New inputs go to build/fuzz/corpus/<target>; an input that crashes, leaks, hangs or trips a
# sanitizer is saved in build/fuzz/artifacts and fails the run. Prints the executions of every
# target and their total. scripts/test.sh runs this with a short time.
set -eu
cd "$(dirname "$0")/.."
seconds="${1:-300}"
# scripts/test.sh builds the targets with the asan suite and sets HALCYRA_FUZZ_BUILT=1 to run them
# beside that suite without configuring its build tree again.
if [ "${HALCYRA_FUZZ_BUILT:-0}" != 1 ]; then
  cmake --preset fuzz
  cmake --build --preset fuzz -j2
fi

mkdir -p build/fuzz/artifacts
total=0
for program in build/asan/bin/*_fuzz; do
  [ -x "$program" ] || continue
  name=$(basename "$program" _fuzz)
  work="build/fuzz/corpus/$name"
  log="build/fuzz/$name.log"
  mkdir -p "$work"
  # -timeout: an input that runs this long counts as a hang; -rss_limit_mb allows a few tiles.
  if ! "$program" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/artifacts/$name-" "$work" "fuzz/corpus/$name" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "=== fuzz target $name FAILED (log: $log, input saved in build/fuzz/artifacts) ==="
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  runs="${runs:-0}"
  total=$((total + runs))
  printf '%-20s %12s executions in %s s\n' "$name" "$runs" "$seconds"
done
printf '%-20s %12s executions\n' "total" "$total"
