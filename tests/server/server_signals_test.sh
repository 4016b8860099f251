#!/bin/bash
# Starts the real halcyra-server on a free loopback port and checks that SIGTERM and SIGINT each
# stop it cleanly: exit code 0 and the stop line on stdout.
set -u
server="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

stop_with() {
  local signal="$1" output="$work/out-$1"
  "$server" --bind 127.0.0.1 --port 0 >"$output" 2>&1 &
  local pid=$!
  for _ in $(seq 100); do
    grep -q "listening on 127.0.0.1:" "$output" && break
    sleep 0.05
  done
  if ! grep -q "listening on 127.0.0.1:" "$output"; then
    echo "no start-up line:"; cat "$output"; kill -KILL "$pid"; return 1
  fi
  local port
  port="$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$output")"
  printf 'SET:Hawk@1 2 3 ' >"/dev/udp/127.0.0.1/$port"
  printf 'not a request' >"/dev/udp/127.0.0.1/$port"
  sleep 0.1
  kill "-$signal" "$pid"
  local code=0
  wait "$pid" || code=$?
  if [ "$code" -ne 0 ] || ! grep -q "halcyra-server stopped (records held: 1)" "$output"; then
    echo "SIG$signal: exit code $code, output:"; cat "$output"; return 1
  fi
  echo "SIG$signal: stopped cleanly"
}

stop_with TERM && stop_with INT
