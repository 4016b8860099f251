#!/bin/sh
# Builds the .ts3_plugin installer package build/packages/halcyra.ts3_plugin, for every client from
# 3.0.14 to 3.6.x on Windows and Linux (the plug-in answers the API of the client that loads it). It
# holds package.ini, plugins/halcyra_win64.dll, plugins/halcyra_linux_amd64.so and, under
# plugins/halcyra/, the export script for the simulator (dcs/) and the tools for both systems.
#
# The binaries in the package are the optimised builds stripped of their debug information, which
# stays beside each built binary as NAME.debug (build/<preset>/bin/); the stripped copy names it in
# its .gnu_debuglink, so a debugger given that folder reads crash reports with full information.
set -eu
cd "$(dirname "$0")/.."

# What goes under plugins/halcyra/ besides the plug-ins (tests/package/package_test.sh lists the same):
# programs built by both presets (NAME on Linux, NAME.exe on Windows), and files taken as they are.
tools="halcyra-dcs-install halcyra-tower halcyra-server halcyra-tiles"
files="dcs/HalcyraExport.lua dcs/HalcyraAircraft.lua dcs/HalcyraConfig.default.lua"

for preset in linux win64; do
  cmake --preset "$preset" >/dev/null
  # shellcheck disable=SC2086
  cmake --build --preset "$preset" -j2 --target halcyra_plugin $tools
done

# split_debug OBJCOPY PRESET FILE: build/PRESET/bin/FILE -> FILE.debug beside it, stripped copy in
# build/PRESET/stripped/FILE.
split_debug() {
  bin="build/$2/bin"
  mkdir -p "build/$2/stripped"
  "$1" --only-keep-debug "$bin/$3" "$bin/$3.debug"
  (cd "$bin" && "$1" --strip-unneeded --add-gnu-debuglink="$3.debug" "$3" "../stripped/$3")
}
split_debug objcopy linux halcyra_linux_amd64.so
split_debug x86_64-w64-mingw32-objcopy win64 halcyra_win64.dll
extras=$files
for tool in $tools; do
  split_debug objcopy linux "$tool"
  split_debug x86_64-w64-mingw32-objcopy win64 "$tool.exe"
  extras="$extras build/linux/stripped/$tool build/win64/stripped/$tool.exe"
done

# package.ini says the version the build wrote into the plug-ins (foundation/version.h, from the
# project's version in CMakeLists.txt).
# shellcheck disable=SC2086
python3 scripts/make_package.py build/packages/halcyra.ts3_plugin build/linux/src/generated/foundation/version.h \
  build/linux/stripped/halcyra_linux_amd64.so build/win64/stripped/halcyra_win64.dll $extras
