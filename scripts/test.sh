#!/bin/sh
# The whole test run: installs what is missing, checks that every C++ source is formatted, builds
# the Linux library and the Windows DLL, and runs the Linux suite natively and the Windows suite under
# wine64; runs the Linux suite again under ThreadSanitizer (built with clang, whose thread-safety
# analysis checks the lock annotations as errors) and under AddressSanitizer +
# UndefinedBehaviorSanitizer; builds the installer package and checks it, builds a plug-in fixed to
# host API 20 and checks its answer, and runs every fuzz target for a short time. Fails if any test fails, any sanitizer reports or a lock annotation does not hold.
#
# The builds run one after the other in one background chain from the start (their output goes to
# build/logs/ and is shown when a suite needs the build), and each suite runs as soon as its build is
# there, so the two cores always have a build to do while the suites wait on sockets and timers. The
# installer package, the fixed build and the fuzz targets run beside the last suite. Linux port tests
# run in network namespaces of their own (cmake/netns-run.sh), so the Linux suites are not serialised
# on the fixed UDP ports. Each section header says how many seconds the run had taken when it began.
set -eu
cd "$(dirname "$0")/.."
start=$(date +%s)
# section TITLE: prints a section header with the time since the start of the run.
section() {
  echo "=== [$(($(date +%s) - start)) s] $* ==="
}
. scripts/udp-lock.sh
scripts/install-deps.sh
section "Formatting: clang-format over every C++ source"
scripts/format-check.sh
mkdir -p build/logs

chain=""
# build PRESET: configures and builds one preset.
build() {
  cmake --preset "$1" && cmake --build --preset "$1" -j2
}
# build_chain PRESET...: builds each preset in turn, its output in build/logs/build-PRESET.log and its
# exit status in build/logs/build-PRESET.status; stops at the first that fails.
build_chain() {
  for preset in "$@"; do
    status=0
    build "$preset" >"build/logs/build-$preset.log" 2>&1 || status=$?
    echo "$status" >"build/logs/build-$preset.status"
    [ "$status" -eq 0 ] || return "$status"
  done
}
# await_build PRESET: waits for the chain to have built PRESET, shows its output, stops the run when
# it failed (or when the chain ended without building it).
await_build() {
  while [ ! -f "build/logs/build-$1.status" ] && kill -0 "$chain" 2>/dev/null; do sleep 1; done
  section "$1 build (ran in the background)"
  cat "build/logs/build-$1.log"
  if [ "$(cat "build/logs/build-$1.status" 2>/dev/null || echo 1)" -ne 0 ]; then
    echo "=== $1 build FAILED ==="
    exit 1
  fi
}
# suite NAME COMMAND...: runs a suite; when it fails, the run stops (the build chain is stopped too).
suite() {
  name=$1
  shift
  if ! "$@"; then
    echo "=== $name FAILED ==="
    exit 1
  fi
}
# The chain does not outlive a run that stops early.
stop_chain() {
  [ -n "$chain" ] || return 0
  pkill -TERM -P "$chain" 2>/dev/null || true
  kill "$chain" 2>/dev/null || true
}
trap stop_chain EXIT

section "Linux x86-64: build and test"
build linux
rm -f build/logs/build-*.status
build_chain win64 tsan asan &
chain=$!
# Lower priority, so the suites' time limits are kept whatever the builds ask for.
renice -n 10 -p "$chain" >/dev/null 2>&1 || true
suite "Linux suite" flock "$HALCYRA_UDP_LOCK" ctest --preset linux

section "Windows x64 (wine64): test"
await_build win64
suite "Windows suite" flock "$HALCYRA_UDP_LOCK" ctest --preset win64

section "Linux x86-64 with ThreadSanitizer, lock annotations checked (clang): test"
await_build tsan  # with the thread-safety analysis
# ThreadSanitizer cannot map its shadow memory on kernels with high address randomisation
# (vm.mmap_rnd_bits > 28); the suite runs with randomisation off for that reason only.
suite "ThreadSanitizer suite" flock "$HALCYRA_UDP_LOCK" setarch "$(uname -m)" -R ctest --preset tsan

section "Linux x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer (clang; the same build holds the fuzz targets): test"
await_build asan
chain=""
section "Installer package: build and check; fixed API build; fuzz targets: a short run of each (background)"
# fixed_api_build: the plug-in alone, built to answer API 20 (preset linux-api20), answers 20 whatever
# HALCYRA_TS3_API says.
fixed_api_build() {
  echo "--- plug-in fixed to host API 20"
  cmake --preset linux-api20 >/dev/null && cmake --build --preset linux-api20 -j2 &&
    HALCYRA_TS3_API=24 build/linux/bin/plugin_api_check build/linux-api20/bin/halcyra_linux_amd64.so 20
}
# Builds the installer package and checks it, and the fixed build, while each fuzz target runs for
# 10 s (scripts/fuzz.sh SECONDS runs them longer).
packages_and_fuzz() {
  env HALCYRA_FUZZ_BUILT=1 scripts/fuzz.sh 10 >build/logs/fuzz.log 2>&1 &
  fuzz=$!
  status=0
  { scripts/package.sh &&
    HALCYRA_WINEPREFIX="$PWD/build/win64/wineprefix" tests/package/package_test.sh build/packages \
      build/linux/bin/plugin_api_check build/win64/bin/plugin_api_check.exe && fixed_api_build; } || status=$?
  wait "$fuzz" || status=$?
  echo "--- fuzz targets ---"
  cat build/logs/fuzz.log
  return "$status"
}
packages_and_fuzz >build/logs/packages-and-fuzz.log 2>&1 &
companion=$!
renice -n 10 -p "$companion" >/dev/null 2>&1 || true
asan_status=0
flock "$HALCYRA_UDP_LOCK" ctest --preset asan || asan_status=$?
companion_status=0
wait "$companion" || companion_status=$?
section "Installer package, fixed API build, fuzz targets (ran in the background)"
cat build/logs/packages-and-fuzz.log
[ "$asan_status" -eq 0 ] || { echo "=== AddressSanitizer suite FAILED ==="; exit 1; }
[ "$companion_status" -eq 0 ] || { echo "=== packages-and-fuzz FAILED ==="; exit 1; }

section "All suites passed"
