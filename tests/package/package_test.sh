#!/bin/sh
# Opens each installer package and checks it: exactly package.ini, the two plug-ins under plugins/
# and the simulator side under plugins/halcyra/, every entry deflated with a plain ASCII name,
# package.ini naming both platforms, and each plug-in answering the package's API version - the .so
# loaded by the Linux checker, the .dll by the Windows checker under wine. Every binary is stripped
# and names its debug file; the Lua files compile; the programs answer --help (the Windows ones
# under wine), and the Linux installer, run from the unpacked package, installs the script it finds
# beside it.
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
    want = sorted(["package.ini", "plugins/halcyra_linux_amd64.so", "plugins/halcyra_win64.dll"] +
                  ["plugins/halcyra/" + name for name in (
                      "HalcyraExport.lua", "HalcyraAircraft.lua", "HalcyraConfig.default.lua",
                      "halcyra-dcs-install", "halcyra-dcs-install.exe", "halcyra-tower", "halcyra-tower.exe",
                      "halcyra-tiles", "halcyra-tiles.exe")])
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
  tools="$work/$api/plugins/halcyra"
  for binary in "$work/$api/plugins/halcyra_linux_amd64.so" "$tools/halcyra-dcs-install" "$tools/halcyra-tower" \
      "$work/$api/plugins/halcyra_win64.dll" "$tools/halcyra-dcs-install.exe" "$tools/halcyra-tower.exe"; do
    case "$binary" in *.dll|*.exe) objdump=x86_64-w64-mingw32-objdump ;; *) objdump=objdump ;; esac
    sections=$("$objdump" -h "$binary" | awk '{print $2}')
    if echo "$sections" | grep -q '^\.debug_' || ! echo "$sections" | grep -q '^\.gnu_debuglink$'; then
      echo "FAILED: $(basename "$binary") carries debug information or names no debug file"
      failed=$((failed + 1))
    else
      passed=$((passed + 1))
    fi
  done
  for script in HalcyraExport.lua HalcyraAircraft.lua HalcyraConfig.default.lua; do
    if luac5.1 -p "$tools/$script"; then passed=$((passed + 1)); else
      echo "FAILED: $script does not compile"
      failed=$((failed + 1))
    fi
  done
  for program in halcyra-dcs-install halcyra-tower; do
    if "$tools/$program" --help | grep -q "^Usage: $program" &&
        "$root/cmake/wine-run.sh" "$tools/$program.exe" --help 2>&1 | grep -q "^Usage: $program"; then
      passed=$((passed + 1))
    else
      echo "FAILED: $program or $program.exe does not answer --help"
      failed=$((failed + 1))
    fi
  done
  mkdir -p "$work/saved$api/DCS.openbeta"
  if HALCYRA_SAVED_GAMES="$work/saved$api" "$tools/halcyra-dcs-install" >/dev/null &&
      grep -q 'Scripts/Halcyra/HalcyraExport.lua' "$work/saved$api/DCS.openbeta/Scripts/Export.lua" &&
      cmp -s "$tools/HalcyraExport.lua" "$work/saved$api/DCS.openbeta/Scripts/Halcyra/HalcyraExport.lua"; then
    passed=$((passed + 1))
  else
    echo "FAILED: the unpacked halcyra-dcs-install does not install the script beside it"
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
