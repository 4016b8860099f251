#!/bin/sh
# The whole test run: installs what is missing, builds the Linux library and the Windows DLL, and
# runs the Linux suite natively and the Windows suite under wine64, then builds the installer
# packages and checks them. Fails if any test fails.
set -eu
cd "$(dirname "$0")/.."
scripts/install-deps.sh

echo "=== Linux x86-64: build and test ==="
cmake --preset linux
cmake --build --preset linux
ctest --preset linux

echo "=== Windows x64 (wine64): build and test ==="
cmake --preset win64
cmake --build --preset win64
ctest --preset win64

echo "=== Installer packages: build and check ==="
scripts/package.sh
HALCYRA_WINEPREFIX="$PWD/build/win64/wineprefix" tests/package/package_test.sh build/packages \
  build/linux/bin/plugin_api_check build/win64/bin/plugin_api_check.exe

echo "=== All suites passed ==="
