#!/bin/sh
# Fails, naming the files, where C++ sources differ from what clang-format makes of them (the tree's
# .clang-format). `scripts/format-check.sh --fix` formats them in place instead.
set -eu
cd "$(dirname "$0")/.."
files=$(find src server sim tower tiles installer harness tests bench fuzz -name '*.cpp' -o -name '*.h' 2>/dev/null | sort)
if [ "${1:-}" = "--fix" ]; then
  echo "$files" | xargs clang-format -i
  exit 0
fi
bad=""
for file in $files; do
  clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || bad="$bad $file"
done
if [ -n "$bad" ]; then
  echo "Not formatted as clang-format would (scripts/format-check.sh --fix formats them):"
  for file in $bad; do echo "  $file"; done
  exit 1
fi
echo "Every C++ source is formatted."
