#!/bin/sh
# The whole test run: installs what is missing, builds the Linux library and the Windows DLL, and
# runs the Linux suite natively and the Windows suite under wine64. Fails if any test fails.
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

echo "=== All suites passed ==="
