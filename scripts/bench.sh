#!/bin/sh
# Builds the benchmark programs (Release) and runs every build/bench/bin/*_bench, ten repetitions
# each, reporting mean, median and spread. Extra arguments go to every program.
set -eu
cd "$(dirname "$0")/.."
cmake --preset bench
cmake --build --preset bench -j2
for program in build/bench/bin/*_bench; do
  [ -x "$program" ] || continue
  echo "=== $(basename "$program") ==="
  flock /tmp/halcyra-udp.lock "$program" --benchmark_repetitions=10 --benchmark_report_aggregates_only=true "$@"
done
