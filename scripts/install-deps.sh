#!/bin/sh
# Installs the Debian packages that building and testing Halcyra needs, when they are missing.
set -eu
packages="cmake ninja-build g++ make googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 nlohmann-json3-dev zip unzip
  clang libclang-rt-14-dev clang-format python3 espeak-ng util-linux locales ccache"
# Network namespaces (ip netns) for the test of two pilots on one machine.
packages="$packages iproute2"
# halcyra-tiles: libcurl and zlib for the Linux build, zlib built for mingw-w64 for the Windows one
# (which uses WinHTTP).
packages="$packages libcurl4-openssl-dev zlib1g-dev libz-mingw-w64-dev"
# The export script for the simulator runs in its tests under Debian's Lua 5.1 with LuaSocket.
packages="$packages lua5.1 lua-socket"
# The station server's status page test (Chromium, the Prometheus text parser); the page itself is
# served with cpp-httplib from Debian's source package (fetched at the end).
packages="$packages chromium python3-prometheus-client"
missing=""
for package in $packages; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing="$missing $package"
done
if [ -n "$missing" ]; then
  echo "Installing:$missing"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing
fi
"$(dirname "$0")/fetch-httplib.sh"
