#!/bin/sh
# Opens the installer package and checks it: exactly package.ini, the two plug-ins under plugins/
# and the simulator side and the tools under plugins/halcyra/, every entry deflated with a plain
# ASCII name, package.ini naming both platforms, and each plug-in answering API 26 - the .so loaded
# by the Linux checker, the .dll by the Windows checker under wine; neither checker carries a
# client's version resource, so each is a client of unknown version. Every binary is stripped and
# names its debug file; the Lua files compile; the programs answer --help (the Windows ones under
# wine), and the Linux installer, run from the unpacked package, installs the script it finds
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
# What plugins/halcyra/ holds (scripts/package.sh puts in the same): programs for both systems (NAME
# and NAME.exe) and the simulator side's Lua files.
tools="halcyra-dcs-install halcyra-tower halcyra-server halcyra-tiles"
scripts="HalcyraExport.lua HalcyraAircraft.lua HalcyraConfig.default.lua"
# What the user's environment would change in the plug-ins' answer.
unset HALCYRA_TS3_API

# The API a client of unknown version gets.
api=26
# check_package PACKAGE: counts each check that passes or fails.
check_package() {
  package=$1
  echo "--- $package"
  if ! python3 - "$package" "$tools" "$scripts" <<'PY'
import sys, zipfile
path = sys.argv[1]
extras = sys.argv[3].split() + [tool + suffix for tool in sys.argv[2].split() for suffix in ("", ".exe")]
problems = []
with zipfile.ZipFile(path) as package:
    names = sorted(info.filename for info in package.infolist())
    want = sorted(["package.ini", "plugins/halcyra_linux_amd64.so", "plugins/halcyra_win64.dll"] +
                  ["plugins/halcyra/" + name for name in extras])
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
    return
  fi
  mkdir -p "$work/package"
  (cd "$work/package" && unzip -q "$package")
  if "$linux_checker" "$work/package/plugins/halcyra_linux_amd64.so" "$api"; then
    passed=$((passed + 1))
  else
    echo "FAILED: the .so of $package does not answer API $api"
    failed=$((failed + 1))
  fi
  if "$root/cmake/wine-run.sh" "$windows_checker" "$work/package/plugins/halcyra_win64.dll" "$api" >"$work/wine.out" 2>&1; then
    tr -d '\r' <"$work/wine.out"
    passed=$((passed + 1))
  else
    tr -d '\r' <"$work/wine.out"
    echo "FAILED: the .dll of $package does not answer API $api"
    failed=$((failed + 1))
  fi
  unpacked="$work/package/plugins/halcyra"
  binaries="$work/package/plugins/halcyra_linux_amd64.so $work/package/plugins/halcyra_win64.dll"
  for tool in $tools; do binaries="$binaries $unpacked/$tool $unpacked/$tool.exe"; done
  for binary in $binaries; do
    case "$binary" in *.dll|*.exe) objdump=x86_64-w64-mingw32-objdump ;; *) objdump=objdump ;; esac
    sections=$("$objdump" -h "$binary" | awk '{print $2}')
    if echo "$sections" | grep -q '^\.debug_' || ! echo "$sections" | grep -q '^\.gnu_debuglink$'; then
      echo "FAILED: $(basename "$binary") carries debug information or names no debug file"
      failed=$((failed + 1))
    else
      passed=$((passed + 1))
    fi
  done
  for script in $scripts; do
    if luac5.1 -p "$unpacked/$script"; then passed=$((passed + 1)); else
      echo "FAILED: $script does not compile"
      failed=$((failed + 1))
    fi
  done
  for program in $tools; do
    if "$unpacked/$program" --help | grep -q "^Usage: $program" &&
        "$root/cmake/wine-run.sh" "$unpacked/$program.exe" --help 2>&1 | grep -q "^Usage: $program"; then
      passed=$((passed + 1))
    else
      echo "FAILED: $program or $program.exe does not answer --help"
      failed=$((failed + 1))
    fi
  done
  mkdir -p "$work/saved/DCS.openbeta"
  if HALCYRA_SAVED_GAMES="$work/saved" "$unpacked/halcyra-dcs-install" >/dev/null &&
      grep -q 'Scripts/Halcyra/HalcyraExport.lua' "$work/saved/DCS.openbeta/Scripts/Export.lua" &&
      cmp -s "$unpacked/HalcyraExport.lua" "$work/saved/DCS.openbeta/Scripts/Halcyra/HalcyraExport.lua"; then
    passed=$((passed + 1))
  else
    echo "FAILED: the unpacked halcyra-dcs-install does not install the script beside it"
    failed=$((failed + 1))
  fi
}
check_package "$packages/halcyra.ts3_plugin"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
