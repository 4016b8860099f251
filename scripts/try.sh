#!/bin/sh
# The first command on a fresh Debian machine: installs what is missing, builds the plug-in, the
# station server and the scenario runner, and runs the two-ship scenario around the real plug-in
# in real time (65 s, with a progress line). Ends by printing where the WAV and the report are (in
# out/). Extra arguments go to halcyra-sim,
# for instance: scripts/try.sh --scenario crypto
set -eu
. "$(dirname "$0")/udp-lock.sh"
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j2 --target halcyra-sim
# The plug-in binds UDP 10601-10603: the lock keeps runs and test suites on one machine apart.
exec flock "$HALCYRA_UDP_LOCK" build/linux/bin/halcyra-sim --out out "$@"
