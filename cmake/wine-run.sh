#!/bin/sh
# Runs a Windows program under wine64 with a throw-away prefix (kept in the build tree by ctest).
#
#   wine-run.sh PROGRAM [ARGUMENTS...]
#   wine-run.sh --start-session   creates the prefix and keeps its wine server running
#   wine-run.sh --end-session     stops that server and every wine program of the prefix
#   wine-run.sh --own-server PROGRAM [ARGUMENTS...]
#                                 runs the program on a copy of the prefix with a wine server of its
#                                 own, started where this script runs (a network namespace of its
#                                 own: wine's sockets are made by the wine server, so they live in
#                                 the server's namespace), and removes the copy afterwards
#
# The wine server and the wine system programs it starts (services, explorer, ...) outlive the
# program that started them and inherit its output: ctest would wait for that output to close, so
# the test that happened to start them would last until the last one of the suite had ended. The
# suite starts them once, with their output closed, and stops them at its end.
WINEPREFIX="${HALCYRA_WINEPREFIX:-${WINEPREFIX:-/tmp/halcyra-wineprefix}}"
export WINEPREFIX
export WINEDEBUG=-all
case "${1:-}" in
  --start-session)
    mkdir -p "$WINEPREFIX"
    /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
    /usr/lib/wine/wine64 wineboot --init </dev/null >/dev/null 2>&1
    # The server writes the registry to the prefix when it ends: a copy made for --own-server then
    # starts without setting the prefix up again.
    /usr/lib/wine/wineserver64 -k
    /usr/lib/wine/wineserver64 -w
    /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
    # The first program of a server starts its system services; they get that program's output.
    /usr/lib/wine/wine64 wineboot </dev/null >/dev/null 2>&1
    exit
    ;;
  --own-server)
    shift
    own=$(mktemp -d "${TMPDIR:-/tmp}/halcyra-wineprefix.XXXXXX") || exit 1
    cp -a "$WINEPREFIX/." "$own/" || { rm -rf "$own"; exit 1; }
    WINEPREFIX=$own
    /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1
    status=0
    /usr/lib/wine/wine64 "$@" || status=$?
    /usr/lib/wine/wineserver64 -k
    /usr/lib/wine/wineserver64 -w
    rm -rf "$own"
    exit "$status"
    ;;
  --end-session)
    /usr/lib/wine/wineserver64 -k
    exit 0
    ;;
esac
exec /usr/lib/wine/wine64 "$@"
