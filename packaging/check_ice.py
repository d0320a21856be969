#!/usr/bin/env python3
"""Rules of Windows Installer's validation (its ICE checks) that wixl does not run, on the
installers given together (ours of each bitness, a vendor's built from redist/Wendrix.wxs):

    check_ice.py PACKAGE.msi...

In each package:
- bitness: a 32-bit package (summary template Intel) has no 64-bit component; in an x64 one,
  no 32-bit component lives in a 64-bit folder nor a 64-bit one in a 32-bit folder (ICE80);
- component GUIDs: present, and no two components of a package with one GUID (ICE08);
- versions: a shared library (.ocx, .dll) has its file version in the File table, or Windows
  Installer replaces it by its dates (an older copy over a newer one);
- key paths: a component's key path is a file or registry row of that component (ICE21's and
  ICE18's kin); a component without one creates its folder (CreateFolder);
- registry rows in the component's bitness: each row's root is one Windows Installer knows
  (-1 for HKMU, 0 to 3), no row names Wow6432Node, a type library's win32
  entry is in a 32-bit component and its win64 one in a 64-bit one, a row naming a file
  ([#File]) is in a component of that file's bitness, and a row of the keys each bitness keeps
  apart (CLSID, Interface) is in a component of the package's bitness.
Across the packages, a component GUID found in several is the same component: the same key
path (file name and folder, or registry root, key and name), the same bitness, and the same
registry keys and names (values may name each package's own folder).
Prints every breach and exits 1 when there is one.
"""
import re
import subprocess
import sys

BIT64 = 256
REGISTRY_KEY_PATH = 4
DIRS64 = {"ProgramFiles64Folder", "CommonFiles64Folder", "System64Folder"}
DIRS32 = {"ProgramFilesFolder", "CommonFilesFolder", "SystemFolder"}
APART = re.compile(r"^software\\classes\\(clsid|interface)\\", re.IGNORECASE)


def table(msi, name):
    out = subprocess.run(["msiinfo", "export", msi, name], capture_output=True, text=True)
    if out.returncode != 0:
        return []
    return [line.split("\t") for line in out.stdout.splitlines()[3:]]


def template(msi):
    info = subprocess.run(["msiinfo", "suminfo", msi], capture_output=True, text=True,
                          check=True).stdout
    return re.search(r"^Template: ([^;\n]*)", info, re.MULTILINE).group(1)


class Package:
    def __init__(self, msi):
        self.msi = msi
        self.x64 = template(msi) in ("x64", "Intel64", "Arm64")
        self.components = {r[0]: r for r in table(msi, "Component")}
        self.parents = {r[0]: r[1] for r in table(msi, "Directory")}
        self.names = {r[0]: r[2].split("|")[-1].split(":")[0] for r in table(msi, "Directory")}
        self.files = {r[0]: r for r in table(msi, "File")}
        self.registry = {r[0]: r for r in table(msi, "Registry")}
        self.create_folder = {(r[0], r[1]) for r in table(msi, "CreateFolder")}

    def is64(self, component):
        return int(self.components[component][3]) & BIT64 != 0

    def folder_bits(self, directory):
        """64 or 32 for a folder below a folder of one bitness, None for one of neither."""
        while directory:
            if directory in DIRS64:
                return 64
            if directory in DIRS32:
                return 32
            directory = self.parents.get(directory)
        return None

    def path(self, directory):
        parts = []
        while directory:
            parts.append(directory if directory in DIRS64 | DIRS32 else self.names[directory])
            directory = self.parents.get(directory)
        return "\\".join(reversed(parts))

    def key_path(self, component):
        """What the component's key path is, comparable across packages."""
        _, _, directory, attributes, _, key = self.components[component]
        if not key:
            return ("folder", self.path(directory))
        if int(attributes) & REGISTRY_KEY_PATH:
            row = self.registry[key]
            return ("registry", row[1], row[2].lower(), row[3].lower())
        return ("file", self.path(directory), self.files[key][2].split("|")[-1].lower())

    def rows_of(self, component):
        return sorted((r[1], r[2].lower(), r[3].lower()) for r in self.registry.values()
                      if r[5] == component)


def check(package, say):
    name = package.msi
    guids = {}
    for component, (_, guid, directory, attributes, _, key) in package.components.items():
        is64 = package.is64(component)
        if not package.x64 and is64:
            say(f"{name}: {component} is 64-bit in a 32-bit package (ICE80)")
        bits = package.folder_bits(directory)
        if package.x64 and bits and bits != (64 if is64 else 32):
            say(f"{name}: {component} is {'64' if is64 else '32'}-bit in the {bits}-bit folder "
                f"{directory} (ICE80)")
        if not re.fullmatch(r"\{[0-9A-F-]{36}\}", guid):
            say(f"{name}: {component} has no component GUID of Windows Installer's form")
        elif guid in guids:
            say(f"{name}: {component} and {guids[guid]} share the GUID {guid} (ICE08)")
        guids.setdefault(guid, component)
        if not key:
            if (directory, component) not in package.create_folder:
                say(f"{name}: {component} has no key path and creates no folder")
        elif int(attributes) & REGISTRY_KEY_PATH:
            if package.registry.get(key, [None] * 6)[5] != component:
                say(f"{name}: {component}'s key path {key} is no registry row of its own")
        elif package.files.get(key, [None, None])[1] != component:
            say(f"{name}: {component}'s key path {key} is no file of its own")
    for file, row in package.files.items():
        if row[2].lower().endswith((".ocx", ".dll")) and not row[4]:
            say(f"{name}: {file} ({row[2]}) has no version: replaced by dates, not versions")
    for row, root, key, _, value, component in package.registry.values():
        is64 = package.is64(component)
        where = f"{name}: registry row {row} ({key})"
        if root not in ("-1", "0", "1", "2", "3"):
            say(f"{where} has the root {root}, which Windows Installer does not know")
        if "wow6432node" in key.lower():
            say(f"{where} names Wow6432Node: the component's bitness picks the view")
        platform = re.search(r"\\(win32|win64)$", key, re.IGNORECASE)
        if platform and (platform.group(1).lower() == "win64") != is64:
            say(f"{where} is in the {'64' if is64 else '32'}-bit component {component}")
        for file in re.findall(r"\[[#!](\w+)\]", value):
            if file in package.files and package.is64(package.files[file][1]) != is64:
                say(f"{where} names {file} of the other bitness than {component}'s")
        if APART.match(key) and package.x64 != is64:
            say(f"{where}: a key of the package's bitness in the other bitness's {component}")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    breaches = []
    packages = [Package(msi) for msi in sys.argv[1:]]
    for package in packages:
        check(package, breaches.append)
    seen = {}
    for package in packages:
        for component, row in package.components.items():
            same = (package.key_path(component), package.is64(component),
                    package.rows_of(component))
            guid = row[1]
            if guid in seen and seen[guid][1] != same:
                breaches.append(f"{package.msi}: {component} {guid} differs from {seen[guid][0]}'s "
                                f"component of that GUID:\n  {same}\n  {seen[guid][1]}")
            seen.setdefault(guid, (package.msi, same))
    print("\n".join(breaches))
    sys.exit(1 if breaches else 0)


if __name__ == "__main__":
    main()
