#!/bin/sh
# Builds the two .ts3_plugin installer packages into build/packages/:
#   halcyra-api20.ts3_plugin  (clients 3.0.14 to 3.0.19; presets linux and win64)
#   halcyra-api26.ts3_plugin  (clients 3.6.0 and later; presets linux-api26 and win64-api26)
# each holding plugins/halcyra_win64.dll, plugins/halcyra_linux_amd64.so and package.ini.
set -eu
cd "$(dirname "$0")/.."
for preset in linux win64 linux-api26 win64-api26; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j2 --target halcyra_plugin
done
python3 scripts/make_package.py build/packages/halcyra-api20.ts3_plugin 20 \
  build/linux/bin/halcyra_linux_amd64.so build/win64/bin/halcyra_win64.dll
python3 scripts/make_package.py build/packages/halcyra-api26.ts3_plugin 26 \
  build/linux-api26/bin/halcyra_linux_amd64.so build/win64-api26/bin/halcyra_win64.dll
