#!/bin/sh
# Runs a test program in a network namespace of its own, where only the loopback interface is up:
# the program may bind the plug-in's fixed UDP ports (10600-10603) while other such programs run
# beside it in theirs. Needs root (or CAP_SYS_ADMIN), unshare and ip.
#
#   netns-run.sh PROGRAM [ARGUMENTS...]
#   netns-run.sh --check    exits 0 when namespaces can be made here
if [ "${1:-}" = "--check" ]; then
  exec unshare --net -- sh -c 'ip link set lo up' </dev/null >/dev/null 2>&1
fi
exec unshare --net -- sh -c 'ip link set lo up && exec "$@"' netns-run.sh "$@"
