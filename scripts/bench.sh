#!/bin/sh
# Builds the benchmark programs (Release) and runs every build/bench/bin/*_bench, ten repetitions
# each, reporting mean, median and spread. Extra arguments go to every program.
set -eu
. "$(dirname "$0")/udp-lock.sh"
cd "$(dirname "$0")/.."
cmake --preset bench
cmake --build --preset bench -j2
for program in build/bench/bin/*_bench; do
  [ -x "$program" ] || continue
  echo "=== $(basename "$program") ==="
  flock "$HALCYRA_UDP_LOCK" "$program" --benchmark_repetitions=10 --benchmark_report_aggregates_only=true "$@"
done
