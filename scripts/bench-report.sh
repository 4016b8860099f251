#!/bin/sh
# Builds the benchmark programs (Release), runs every build/bench/bin/*_bench with JSON output and
# writes BENCHMARKS.md: each figure, its goal, the ratio to the goal, the machine, the date and the
# command. Figures are medians over repetitions (BENCH_REPETITIONS, default 5).
#
#   scripts/bench-report.sh                 # build, run, write the report
#   scripts/bench-report.sh --report-only   # write the report from the results of the last run
#
# A goal whose benchmark is not built (yet) reads "not run". The goals and the benchmarks they
# are measured by are the table GOALS in scripts/bench_report.py; rename a benchmark and its row there.
set -eu
. "$(dirname "$0")/udp-lock.sh"
cd "$(dirname "$0")/.."
repetitions="${BENCH_REPETITIONS:-5}"
results=build/bench/results
if [ "${1:-}" != "--report-only" ]; then
  cmake --preset bench
  cmake --build --preset bench -j2
  rm -rf "$results"
  mkdir -p "$results"
  for program in build/bench/bin/*_bench; do
    [ -x "$program" ] || continue
    name=$(basename "$program")
    echo "=== $name ==="
    # Some benchmarks start the plug-in, which binds the fixed UDP ports: never beside a test run.
    flock "$HALCYRA_UDP_LOCK" "$program" --benchmark_repetitions="$repetitions" --benchmark_format=json \
      --benchmark_out="$results/$name.json" --benchmark_out_format=json >/dev/null
  done
  date -u '+%Y-%m-%d %H:%M UTC' >"$results/date"
fi

model=$(lscpu | sed -n 's/^Model name:[[:space:]]*//p' | head -n 1)
cores=$(lscpu | sed -n 's/^CPU(s):[[:space:]]*//p' | head -n 1)
export BENCH_MACHINE="${model:-unknown CPU}, ${cores:-?} logical CPUs ($(uname -sr))"
export BENCH_DATE="$(cat "$results/date" 2>/dev/null || date -u '+%Y-%m-%d %H:%M UTC')"
export BENCH_REPETITIONS="$repetitions"

python3 scripts/bench_report.py "$results" BENCHMARKS.md
