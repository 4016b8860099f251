#!/bin/sh
# Runs a Windows program under wine64 with a throw-away prefix (kept in the build tree by ctest).
WINEPREFIX="${HALCYRA_WINEPREFIX:-${WINEPREFIX:-/tmp/halcyra-wineprefix}}"
export WINEPREFIX
export WINEDEBUG=-all
exec /usr/lib/wine/wine64 "$@"
