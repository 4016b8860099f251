#!/bin/sh
# Builds the two .ts3_plugin installer packages into build/packages/:
#   halcyra-api20.ts3_plugin  (clients 3.0.14 to 3.0.19; presets linux and win64)
#   halcyra-api26.ts3_plugin  (clients 3.6.0 and later; presets linux-api26 and win64-api26)
# each holding plugins/halcyra_win64.dll, plugins/halcyra_linux_amd64.so, package.ini, and under
# plugins/halcyra/ the export script for the simulator (dcs/), halcyra-dcs-install, halcyra-tower
# and halcyra-tiles for both systems.
#
# The binaries in the packages are the optimised builds stripped of their debug information, which
# stays beside each built binary as NAME.debug (build/<preset>/bin/); the stripped copy names it in
# its .gnu_debuglink, so a debugger given that folder reads crash reports with full information.
set -eu
cd "$(dirname "$0")/.."
for preset in linux win64 linux-api26 win64-api26; do
  cmake --preset "$preset" >/dev/null
  case "$preset" in
    linux|win64) targets="halcyra_plugin halcyra-dcs-install halcyra-tower halcyra-tiles" ;;
    *) targets="halcyra_plugin" ;;
  esac
  # shellcheck disable=SC2086
  cmake --build --preset "$preset" -j2 --target $targets
done

# split_debug OBJCOPY PRESET FILE: build/PRESET/bin/FILE -> FILE.debug beside it, stripped copy in
# build/PRESET/stripped/FILE.
split_debug() {
  bin="build/$2/bin"
  mkdir -p "build/$2/stripped"
  "$1" --only-keep-debug "$bin/$3" "$bin/$3.debug"
  (cd "$bin" && "$1" --strip-unneeded --add-gnu-debuglink="$3.debug" "$3" "../stripped/$3")
}
for preset in linux linux-api26; do
  split_debug objcopy "$preset" halcyra_linux_amd64.so
done
for preset in win64 win64-api26; do
  split_debug x86_64-w64-mingw32-objcopy "$preset" halcyra_win64.dll
done
split_debug objcopy linux halcyra-dcs-install
split_debug objcopy linux halcyra-tower
split_debug objcopy linux halcyra-tiles
split_debug x86_64-w64-mingw32-objcopy win64 halcyra-dcs-install.exe
split_debug x86_64-w64-mingw32-objcopy win64 halcyra-tower.exe
split_debug x86_64-w64-mingw32-objcopy win64 halcyra-tiles.exe

# package.ini says the version the build wrote into the plug-ins (foundation/version.h, from the
# project's version in CMakeLists.txt).
extras="dcs/HalcyraExport.lua dcs/HalcyraAircraft.lua dcs/HalcyraConfig.default.lua
  build/linux/stripped/halcyra-dcs-install build/linux/stripped/halcyra-tower
  build/linux/stripped/halcyra-tiles
  build/win64/stripped/halcyra-dcs-install.exe build/win64/stripped/halcyra-tower.exe
  build/win64/stripped/halcyra-tiles.exe"
# shellcheck disable=SC2086
python3 scripts/make_package.py build/packages/halcyra-api20.ts3_plugin 20 \
  build/linux/src/generated/foundation/version.h \
  build/linux/stripped/halcyra_linux_amd64.so build/win64/stripped/halcyra_win64.dll $extras
# shellcheck disable=SC2086
python3 scripts/make_package.py build/packages/halcyra-api26.ts3_plugin 26 \
  build/linux-api26/src/generated/foundation/version.h \
  build/linux-api26/stripped/halcyra_linux_amd64.so build/win64-api26/stripped/halcyra_win64.dll $extras
