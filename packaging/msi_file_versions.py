#!/usr/bin/env python3
"""The statements that give a wixl-built package's programs their file versions:

    msi_file_versions.py PACKAGE.msi FOLDER | while read -r q; do msibuild PACKAGE.msi -q "$q"; done

wixl leaves the File table's Version empty, and Windows Installer then replaces a file by its
dates instead of its version, so an older Wendrix.ocx that one product brings could overwrite the
newer one another product installed in the shared folder (WiX's light fills the column itself).
For each .ocx, .dll and .exe of the package, the version of the file of that name in FOLDER (the
files the package was built from): its VERSIONINFO's file version, with the neutral language
(a program without one, which no other product shares, is left to its dates).
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_package import file_version  # noqa: E402


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    msi, folder = sys.argv[1:]
    found = {}
    for root, _, names in os.walk(folder):
        for name in names:
            found.setdefault(name.lower(), []).append(os.path.join(root, name))
    rows = subprocess.run(["msiinfo", "export", msi, "File"], capture_output=True, text=True,
                          check=True).stdout.splitlines()[3:]
    for row in rows:
        key, _, name = row.split("\t")[:3]
        name = name.split("|")[-1]
        if not name.lower().endswith((".ocx", ".dll", ".exe")):
            continue
        paths = found.get(name.lower(), [])
        if len(paths) != 1:
            sys.exit(f"msi_file_versions.py: {len(paths)} files named {name} in {folder}")
        with open(paths[0], "rb") as f:
            version = file_version(f.read())
        if version is None and name.lower().endswith(".exe"):
            continue  # a program of one product only: its dates serve
        if version is None:
            sys.exit(f"msi_file_versions.py: {paths[0]} has no file version")
        print(f"UPDATE File SET Version='{'.'.join(map(str, version))}', Language='0' "
              f"WHERE File='{key}'")


if __name__ == "__main__":
    main()
