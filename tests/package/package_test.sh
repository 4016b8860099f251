#!/bin/sh
# Opens each installer package and checks it: exactly package.ini and the two plug-ins under
# plugins/, every entry deflated with a plain ASCII name, package.ini naming both platforms, and
# each plug-in answering the package's API version - the .so loaded by the Linux checker, the .dll
# by the Windows checker under wine.
# usage: package_test.sh PACKAGE_FOLDER LINUX_CHECKER WINDOWS_CHECKER
set -eu
packages=$(cd "$1" && pwd)
linux_checker=$(realpath "$2")
windows_checker=$(realpath "$3")
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
passed=0

for api in 20 26; do
  package="$packages/halcyra-api$api.ts3_plugin"
  echo "--- $package"
  if ! python3 - "$package" <<'PY'
import sys, zipfile
path = sys.argv[1]
problems = []
with zipfile.ZipFile(path) as package:
    names = sorted(info.filename for info in package.infolist())
    want = ["package.ini", "plugins/halcyra_linux_amd64.so", "plugins/halcyra_win64.dll"]
    if names != want:
        problems.append(f"entries {names}, expected {want}")
    for info in package.infolist():
        if info.compress_type != zipfile.ZIP_DEFLATED:
            problems.append(f"{info.filename} is not deflated")
        if not info.filename.isascii() or info.flag_bits & 0x800:
            problems.append(f"{info.filename} is not a plain ASCII name")
    ini = dict(line.split(" = ", 1) for line in package.read("package.ini").decode("ascii").splitlines() if line)
    for key, value in (("Name", "Halcyra"), ("Type", "Plugin"), ("Platforms", "win64, linux_amd64")):
        if ini.get(key) != value:
            problems.append(f"package.ini {key} = {ini.get(key)!r}, expected {value!r}")
    for key in ("Author", "Version"):
        if not ini.get(key):
            problems.append(f"package.ini has no {key}")
    description = ini.get("Description", "")
    if len(description) < 3 or not (description.startswith('"') and description.endswith('"')):
        problems.append("package.ini Description is not quoted")
for problem in problems:
    print("FAILED:", problem)
sys.exit(1 if problems else 0)
PY
  then
    failed=$((failed + 1))
    continue
  fi
  mkdir -p "$work/$api"
  (cd "$work/$api" && unzip -q "$package")
  if "$linux_checker" "$work/$api/plugins/halcyra_linux_amd64.so" "$api"; then
    passed=$((passed + 1))
  else
    echo "FAILED: the .so of $package does not answer API $api"
    failed=$((failed + 1))
  fi
  if "$root/cmake/wine-run.sh" "$windows_checker" "$work/$api/plugins/halcyra_win64.dll" "$api" >"$work/wine.out" 2>&1; then
    tr -d '\r' <"$work/wine.out"
    passed=$((passed + 1))
  else
    tr -d '\r' <"$work/wine.out"
    echo "FAILED: the .dll of $package does not answer API $api"
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
