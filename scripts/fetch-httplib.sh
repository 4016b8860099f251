#!/bin/sh
# Puts the single-header cpp-httplib of Debian's source package into build/deps/cpp-httplib/, where
# the build of halcyra-server finds it for both targets. Debian's binary package ships the library
# split into a declarations-only header and a Linux shared object, which the Windows build cannot
# use; the source package holds the header-only library that the upstream project publishes.
set -eu
cd "$(dirname "$0")/.."
target=build/deps/cpp-httplib
[ -f "$target/httplib.h" ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! apt-get source --print-uris cpp-httplib >/dev/null 2>&1; then
  # No source index yet: a source entry beside each binary entry of the machine's own mirrors.
  sources=/etc/apt/sources.list.d/halcyra-deb-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources | $sudo tee "$sources" >/dev/null
  else
    grep -h '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' |
      $sudo tee /etc/apt/sources.list.d/halcyra-deb-src.list >/dev/null
  fi
  $sudo apt-get update -qq
fi

work=$(mktemp -d)
chmod 755 "$work"
[ "$(id -u)" -eq 0 ] && chown _apt "$work" 2>/dev/null || true  # apt downloads as its own user
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source --download-only -qq cpp-httplib >/dev/null)
tar -xf "$work"/cpp-httplib_*.orig.tar.* -C "$work" --wildcards --no-anchored 'httplib.h' 'LICENSE'
mkdir -p "$target"
header=$(find "$work" -name httplib.h -path '*cpp-httplib*' | head -n 1)
cp "$header" "$target/httplib.h"
cp "$(dirname "$header")/LICENSE" "$target/LICENSE"
echo "cpp-httplib $(grep -m1 'CPPHTTPLIB_VERSION' "$target/httplib.h" | cut -d'"' -f2) in $target"
