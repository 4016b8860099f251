#!/bin/sh
# Runs a Windows program under wine64 with a throw-away prefix (kept in the build tree by ctest).
WINEPREFIX="${HALCYRA_WINEPREFIX:-${WINEPREFIX:-/tmp/halcyra-wineprefix}}"
export WINEPREFIX
export WINEDEBUG=-all
# The wine server outlives the program that starts it by a few seconds. Started from here with its
# output closed, it does not hold the caller's output open (ctest waits for that to close, so the
# test that happened to start it would last until the last wine program of the suite had ended).
# When one is running for this prefix already, this start fails quietly.
[ -d "$WINEPREFIX" ] && /usr/lib/wine/wineserver64 </dev/null >/dev/null 2>&1
exec /usr/lib/wine/wine64 "$@"
