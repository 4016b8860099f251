#!/bin/sh
# The whole test run: installs what is missing, checks that every C++ source is formatted, builds
# the Linux library and the Windows DLL, and runs the Linux suite natively and the Windows suite under
# wine64; runs the Linux suite again under ThreadSanitizer (built with clang, whose thread-safety
# analysis checks the lock annotations as errors) and under AddressSanitizer +
# UndefinedBehaviorSanitizer; builds the installer package and checks it, builds a plug-in fixed to
# host API 20 and checks its answer, and runs every fuzz target for a short time. Fails if any test fails, any sanitizer reports or a lock annotation does not hold.
#
# The suites mostly wait on sockets and timers, so the next build runs beside each suite (its output
# goes to build/logs/ and is shown when it is waited for), and the installer package, the fixed build
# and the fuzz targets run beside the last suite. A failing suite still waits for its companion before the run
# stops. Each section header says how many seconds the run had taken when it began.
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

companion=""
companion_name=""
# beside NAME COMMAND...: starts COMMAND in the background, its output in build/logs/NAME.log.
beside() {
  companion_name=$1
  shift
  "$@" >"build/logs/$companion_name.log" 2>&1 &
  companion=$!
  # Lower priority, so the suite's time limits are kept whatever the build beside it asks for.
  renice -n 10 -p "$companion" >/dev/null 2>&1 || true
}
# await: waits for the companion, shows its output, and stops the run when it failed.
await() {
  [ -n "$companion" ] || return 0
  status=0
  wait "$companion" || status=$?
  companion=""
  section "$companion_name (ran in the background)"
  cat "build/logs/$companion_name.log"
  if [ "$status" -ne 0 ]; then
    echo "=== $companion_name FAILED ==="
    exit 1
  fi
}
# suite NAME COMMAND...: runs a suite; when it fails, the companion is waited for before stopping.
suite() {
  name=$1
  shift
  if ! "$@"; then
    echo "=== $name FAILED ==="
    [ -z "$companion" ] || wait "$companion" || true
    exit 1
  fi
}
# build PRESET: configures and builds one preset.
build() {
  cmake --preset "$1" && cmake --build --preset "$1" -j2
}

section "Linux x86-64: build and test"
build linux
beside "windows-build" build win64
suite "Linux suite" flock "$HALCYRA_UDP_LOCK" ctest --preset linux
await

section "Windows x64 (wine64): test"
beside "tsan-build" build tsan  # with the thread-safety analysis
suite "Windows suite" flock "$HALCYRA_UDP_LOCK" ctest --preset win64
await

section "Linux x86-64 with ThreadSanitizer, lock annotations checked (clang): test"
beside "asan-build" build asan
# ThreadSanitizer cannot map its shadow memory on kernels with high address randomisation
# (vm.mmap_rnd_bits > 28); the suite runs with randomisation off for that reason only.
suite "ThreadSanitizer suite" flock "$HALCYRA_UDP_LOCK" setarch "$(uname -m)" -R ctest --preset tsan
await

section "Linux x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer (clang; the same build holds the fuzz targets): test"
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
beside "packages-and-fuzz" packages_and_fuzz
suite "AddressSanitizer suite" flock "$HALCYRA_UDP_LOCK" ctest --preset asan
await

section "All suites passed"
