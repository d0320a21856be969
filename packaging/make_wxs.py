#!/usr/bin/env python3
"""Turns what Wendrix.ocx's own registration writes into WiX source:

    make_wxs.py CAPTURE.txt MODULE_PATH ARCH VERSION VENDOR.wxs PACKAGE.wxs

CAPTURE.txt is the list registry_capture wrote while DllRegisterServer ran into a scratch key
(MODULE_PATH is the module's path as the registration wrote it; ARCH win32 or win64). Both
outputs hold the same components, with the same GUIDs, the same folders and the same registry
values, so the installer registers exactly what `regsvr32` would, and Windows Installer counts
each component across every product that installs it (our package and vendors' products):

- WendrixOcx, this bitness: Wendrix.ocx, in the one shared folder of its bitness
  (WendrixShared: [CommonFilesFolder]Wendrix\ or [CommonFiles64Folder]Wendrix\), and its keys
  in the classes the bitnesses keep apart (CLSID, Interface) and its part of the type library
  (win32 or win64: the module's path). The newest file wins by version rules; the last product
  removed takes it away;
- WendrixClasses, one component shared by both bitnesses (a 32-bit component in both
  packages, under TARGETDIR, since these keys are one key for both views): the ProgID and the
  type library's name, flags and folder;
- WendrixEventSource, this bitness, if the registration writes outside the classes (the event
  source of this bitness, HKLM\SYSTEM...): root HKMU, so a per-user installation writes it where
  nothing reads it (HKCU) instead of failing on HKLM, and the fragment needs no condition.

Classes keys have the root HKMU: HKLM\Software\Classes for a per-machine installation,
HKCU\Software\Classes for a per-user one. The module's path becomes [#WendrixOcx], its folder
[WendrixShared]; every [ ] { } of a key, name or value is escaped as a formatted string wants it.

VENDOR.wxs is the fragment for vendors' installers (Windows Installer XML v3; Debian's wixl
compiles it as it ships). PACKAGE.wxs is for our own package, built by wixl: make-msi.sh runs
the statements of PACKAGE.sql, written beside it, which mend what wixl writes of expandable
values.
"""
import re
import sys
import uuid
from xml.sax.saxutils import quoteattr

NAMESPACE = uuid.UUID("5b0c3c2e-4d0a-4e57-9d1e-57656e647269")
# Classes keys with a view per bitness on 64-bit Windows; the others are one key for both.
PER_BITNESS = {"clsid", "interface"}
# The SQL statements that give the package's expandable values their prefix.
EXPANDABLE = []


def fail(message):
    sys.exit(f"make_wxs.py: {message}")


def read_capture(path):
    """The values of the capture as (key, name, type, data); keys without values as name None."""
    rows = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            key, name, kind, data = line.rstrip("\n").split("\t", 3)
            rows.append((key, None if kind == "KEY" else name, kind, data))
    keys_with_children = {k.rsplit("\\", 1)[0] for k, _, _, _ in rows}
    for key, name, _, _ in rows:
        if name is None and key not in keys_with_children:
            fail(f"{key}: a key without values, which the installer's tables cannot create alone")
    return [r for r in rows if r[1] is not None]


def formatted(text, module, folder):
    """`text` as a Windows Installer formatted string, with the module's path and folder as the
    installer knows them."""
    parts = re.split("(" + re.escape(module) + "|" + re.escape(folder) + r"\\?)", text,
                     flags=re.IGNORECASE)
    out = []
    for i, part in enumerate(parts):
        if i % 2:
            out.append("[#WendrixOcx]" if part.lower() == module.lower() else "[WendrixShared]")
        else:
            out.append(re.sub(r"([\[\]{}])", r"[\\\1]", part))
    result = "".join(out)
    if re.search(r"\b[A-Z]:\\", result):
        fail(f"{text}: a path that is not the module's")
    return result


def component_of(key):
    """Which component a captured key belongs to, and its root and key for the installer."""
    if not key.startswith("HKLM\\"):
        fail(f"{key}: the machine-wide registration wrote outside HKEY_LOCAL_MACHINE")
    rest = key[len("HKLM\\"):]
    classes = "software\\classes\\"
    if not rest.lower().startswith(classes):
        return "WendrixEventSource", "HKMU", rest
    parts = rest[len(classes):].split("\\")
    top = parts[0].lower()
    if top in PER_BITNESS:
        return "WendrixOcx", "HKMU", rest
    if top == "typelib":
        # TypeLib\{libid}\<version>, its FLAGS and HELPDIR are one value for both bitnesses
        # (HELPDIR the folder of the last one installed, as with regsvr32); <lcid>\win32|win64
        # belongs to one bitness.
        below = [p.lower() for p in parts[3:]]
        shared = below in ([], ["flags"], ["helpdir"])
        return ("WendrixClasses" if shared else "WendrixOcx"), "HKMU", rest
    return "WendrixClasses", "HKMU", rest


def registry_value(root, key, name, kind, data, module, folder, flavour, key_path=False):
    """A RegistryValue element. wixl writes an expandable value without its #% prefix: the
    package's rows of that kind get an Id of their own and a statement in EXPANDABLE that sets
    the value with the prefix (make-msi.sh runs them on the finished package)."""
    attrs = [f"Root={quoteattr(root)}", f"Key={quoteattr(formatted(key, module, folder))}"]
    if name != "@":
        attrs.append(f"Name={quoteattr(formatted(name, module, folder))}")
    wixl = flavour == "package"
    if kind == "REG_SZ":
        value = formatted(data, module, folder)
        if wixl and value.startswith("#"):
            value = "#" + value
        attrs += ['Type="string"', f"Value={quoteattr(value)}"]
    elif kind == "REG_EXPAND_SZ":
        value = formatted(data, module, folder)
        attrs += ['Type="expandable"', f"Value={quoteattr(value)}"]
        if wixl:
            if "'" in value:
                fail(f"{key}\\{name}: a quote in an expandable value")
            row = f"WendrixExpand{len(EXPANDABLE) + 1}"
            attrs.insert(0, f'Id="{row}"')
            EXPANDABLE.append(f"UPDATE Registry SET Value='#%{value}' WHERE Registry='{row}'")
    elif kind == "REG_DWORD":
        attrs += ['Type="integer"', f"Value={quoteattr(data)}"]
    else:
        fail(f"{key}\\{name}: {kind} values are not supported")
    if key_path:
        attrs.append('KeyPath="yes"')
    return "<RegistryValue " + " ".join(attrs) + "/>"


def component_guid(arch, component):
    """The component's GUID, the same in our package and in every vendor's product: never to be
    changed, or Windows Installer counts two owners of one file and one key."""
    if component == "WendrixClasses":
        return str(uuid.uuid5(NAMESPACE, "classes shared by every installer")).upper()
    return str(uuid.uuid5(NAMESPACE, f"shared {arch} {component}")).upper()


def write(path, groups, arch, version, module, folder, flavour):
    win64 = "yes" if arch == "win64" else "no"
    bits = "64" if arch == "win64" else "32"
    common = "CommonFiles64Folder" if arch == "win64" else "CommonFilesFolder"
    lines = [
        '<?xml version="1.0" encoding="utf-8"?>',
        f"<!-- Wendrix {version}, {bits}-bit: Wendrix.ocx and its COM registration, written from",
        "     what the control's own registration writes. Generated at build time; do not edit. -->",
    ]
    if flavour == "vendor":
        lines += [
            "<!-- For your WiX (v3 schema) installer: define the variable WendrixSource (the folder",
            "     holding this bitness's Wendrix.ocx) and reference the component group Wendrix from",
            f"     a feature. Wendrix.ocx goes to [{common}]Wendrix\\, the folder every product",
            "     that installs it shares: keep the folder and the component GUIDs as they are. A",
            "     per-user package sets WendrixShared itself (docs/install.md#for-vendors). -->",
        ]
    lines += ['<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">', "  <Fragment>",
              '    <ComponentGroup Id="Wendrix">']
    lines += [f'      <ComponentRef Id="{c}"/>' for c in groups]
    lines += ["    </ComponentGroup>", '    <DirectoryRef Id="TARGETDIR">',
              f'      <Directory Id="{common}">',
              '        <Directory Id="WendrixShared" Name="Wendrix"/>',
              "      </Directory>", "    </DirectoryRef>"]
    for component, rows in groups.items():
        # The shared classes are a 32-bit component in both packages (their keys are the same
        # key in both registry views), under TARGETDIR, which has no bitness.
        shared = component == "WendrixClasses"
        guid = component_guid(arch, component)
        lines.append(f'    <DirectoryRef Id="{"TARGETDIR" if shared else "WendrixShared"}">')
        lines.append(f'      <Component Id="{component}" Guid="{{{guid}}}" '
                     f'Win64="{"no" if shared else win64}">')
        if component == "WendrixOcx":
            lines.append('        <File Id="WendrixOcx" Name="Wendrix.ocx" '
                         'Source="$(var.WendrixSource)/Wendrix.ocx" KeyPath="yes"/>')
        for i, (root, key, name, kind, data) in enumerate(rows):
            key_path = component != "WendrixOcx" and i == 0
            lines.append("        " + registry_value(root, key, name, kind, data, module, folder,
                                                     flavour, key_path))
        lines += ["      </Component>", "    </DirectoryRef>"]
    lines += ["  </Fragment>", "</Wix>", ""]
    with open(path, "w", encoding="utf-8", newline="\r\n" if flavour == "vendor" else "\n") as f:
        f.write("\n".join(lines))


def main():
    if len(sys.argv) != 7:
        sys.exit(__doc__)
    capture, module, arch, version, vendor, package = sys.argv[1:]
    folder = module.rsplit("\\", 1)[0]
    groups = {"WendrixOcx": [], "WendrixClasses": []}
    for key, name, kind, data in read_capture(capture):
        component, root, path = component_of(key)
        groups.setdefault(component, []).append((root, path, name, kind, data))
    if not groups["WendrixOcx"] or not groups["WendrixClasses"]:
        fail(f"{capture}: no class or no ProgID registered")
    # The ProgID's CLSID value first: the shared component's key path.
    groups["WendrixClasses"].sort(key=lambda r: not r[1].lower().endswith("\\clsid"))
    write(vendor, groups, arch, version, module, folder, "vendor")
    write(package, groups, arch, version, module, folder, "package")
    with open(package[:-len(".wxs")] + ".sql", "w", encoding="utf-8") as f:
        f.write("".join(statement + "\n" for statement in EXPANDABLE))


if __name__ == "__main__":
    main()
