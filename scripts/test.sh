#!/bin/sh
# The whole test run: installs what is missing, builds the Linux library and the Windows DLL, and
# runs the Linux suite natively and the Windows suite under wine64; builds the installer packages
# and checks them; runs the Linux suite again under AddressSanitizer + UndefinedBehaviorSanitizer
# and under ThreadSanitizer (built with clang, whose thread-safety analysis checks the lock
# annotations as errors), and every fuzz target for a short time. Fails if any test fails, any
# sanitizer reports or a lock annotation does not hold.
set -eu
cd "$(dirname "$0")/.."
. scripts/udp-lock.sh
scripts/install-deps.sh

echo "=== Linux x86-64: build and test ==="
cmake --preset linux
cmake --build --preset linux
flock "$HALCYRA_UDP_LOCK" ctest --preset linux

echo "=== Windows x64 (wine64): build and test ==="
cmake --preset win64
cmake --build --preset win64
flock "$HALCYRA_UDP_LOCK" ctest --preset win64

echo "=== Installer packages: build and check ==="
scripts/package.sh
HALCYRA_WINEPREFIX="$PWD/build/win64/wineprefix" tests/package/package_test.sh build/packages \
  build/linux/bin/plugin_api_check build/win64/bin/plugin_api_check.exe

echo "=== Linux x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer: build and test ==="
cmake --preset asan
cmake --build --preset asan -j2
flock "$HALCYRA_UDP_LOCK" ctest --preset asan

echo "=== Linux x86-64 with ThreadSanitizer, lock annotations checked (clang): build and test ==="
cmake --preset tsan
cmake --build --preset tsan -j2
# ThreadSanitizer cannot map its shadow memory on kernels with high address randomisation
# (vm.mmap_rnd_bits > 28); the suite runs with randomisation off for that reason only.
flock "$HALCYRA_UDP_LOCK" setarch "$(uname -m)" -R ctest --preset tsan

echo "=== Fuzz targets: a short run of each (scripts/fuzz.sh SECONDS runs them longer) ==="
scripts/fuzz.sh 10

echo "=== All suites passed ==="
