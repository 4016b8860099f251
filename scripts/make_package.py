#!/usr/bin/env python3
"""Writes one .ts3_plugin installer package: a ZIP (every entry deflated, plain ASCII names)
holding package.ini, the plug-in for each platform under plugins/, and the other files under
plugins/halcyra/ (programs without an extension are marked executable). package.ini's version and
author come from VERSION_H, the foundation/version.h the build wrote for the plug-ins, so the package
says what the plug-ins it holds say.

usage: make_package.py OUTPUT VERSION_H LINUX_SO WINDOWS_DLL [FILE...]
"""
import pathlib
import re
import sys
import zipfile


def version_fact(version_h, name):
    match = re.search(name + r'\[\] =\s*"([^"]*)"', version_h)
    if not match:
        sys.exit(f"make_package.py: {name} not found in the version header")
    return match.group(1)


def package_ini(version_h):
    description = ("Radio simulator for DCS-World: hear the other pilots over your aircraft's radios. "
                   "For TeamSpeak 3 clients 3.0.14 to 3.6.x.")
    lines = ["Name = Halcyra", "Type = Plugin", f"Author = {version_fact(version_h, 'kPluginAuthor')}",
             f"Version = {version_fact(version_h, 'kPluginVersion')}", "Platforms = win64, linux_amd64",
             f'Description = "{description}"']
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    output, version_header, linux_so, windows_dll = sys.argv[1:5]
    extras = sys.argv[5:]
    for path in [version_header, linux_so, windows_dll] + extras:
        if not pathlib.Path(path).is_file():
            sys.exit(f"make_package.py: {path} does not exist (build it first)")
    pathlib.Path(output).parent.mkdir(parents=True, exist_ok=True)
    with zipfile.ZipFile(output, "w", compression=zipfile.ZIP_DEFLATED) as package:
        ini = zipfile.ZipInfo("package.ini", date_time=(2024, 1, 1, 0, 0, 0))
        ini.external_attr = 0o644 << 16
        ini.compress_type = zipfile.ZIP_DEFLATED
        package.writestr(ini, package_ini(pathlib.Path(version_header).read_text()))
        package.write(windows_dll, "plugins/halcyra_win64.dll")
        package.write(linux_so, "plugins/halcyra_linux_amd64.so")
        for path in extras:
            name = pathlib.Path(path).name
            entry = zipfile.ZipInfo("plugins/halcyra/" + name, date_time=(2024, 1, 1, 0, 0, 0))
            entry.external_attr = (0o755 if "." not in name else 0o644) << 16
            entry.compress_type = zipfile.ZIP_DEFLATED
            package.writestr(entry, pathlib.Path(path).read_bytes())
    print(output)


if __name__ == "__main__":
    main()
