#!/usr/bin/env python3
"""The registration of the control, for the installer checks (check-msi.sh):

    check_registration.py keys Wendrix.h ROOT [CAPTURE.txt]
        the keys of ours under ROOT (e.g. HKLM\\Software\\Classes): the class, the ProgID, the
        type library and every interface the header names; with the list registry_capture made
        at build time, also the keys the registration writes outside the classes (the event
        source, HKLM\\SYSTEM...), in ROOT's hive (where a per-user installation puts them)
    check_registration.py compare A.txt OCX_A B.txt OCX_B
        whether two lists of registry_capture's `dump` are the same registration, each with its
        module's path (and folder) taken out; prints the difference and exits 1 when there is one
"""
import difflib
import re
import sys

PROGID = "Wendrix.DSWendrixControl"


def guids(header):
    """The GUIDs of the header's DEFINE_GUID lines, by name, as registry key names."""
    found = {}
    pattern = re.compile(r"DEFINE_GUID\((\w+),\s*0x(\w+),\s*0x(\w+),\s*0x(\w+),"
                         r"\s*((?:0x\w+,?\s*){8})\)")
    for name, a, b, c, rest in pattern.findall(open(header, encoding="utf-8").read()):
        tail = [int(x, 16) for x in re.findall(r"0x(\w+)", rest)]
        found[name] = "{%08X-%04X-%04X-%02X%02X-%s}" % (
            int(a, 16), int(b, 16), int(c, 16), tail[0], tail[1],
            "".join("%02X" % x for x in tail[2:]))
    return found


def machine_keys(capture):
    """The topmost keys with values that the registration wrote outside the classes."""
    found = []
    for line in open(capture, encoding="utf-8"):
        key, _, kind, _ = line.rstrip("\n").split("\t", 3)
        if kind == "KEY" or key.lower().startswith("hklm\\software\\classes\\"):
            continue
        if not any(key.lower().startswith(k.lower() + "\\") or key.lower() == k.lower()
                   for k in found):
            found.append(key)
    return found


def keys(header, root, capture=None):
    ids = guids(header)
    out = [f"{root}\\CLSID\\{ids['CLSID_DSWendrixControl']}", f"{root}\\{PROGID}",
           f"{root}\\TypeLib\\{ids['LIBID_Wendrix']}"]
    out += [f"{root}\\Interface\\{g}" for n, g in sorted(ids.items())
            if n.startswith(("IID_", "DIID_"))]
    if capture:
        hive = root.split("\\", 1)[0]
        out += [hive + key[len("HKLM"):] for key in machine_keys(capture)]
    return out


def normalized(path, module):
    folder = module.rsplit("\\", 1)[0]
    text = open(path, encoding="utf-8").read()
    text = re.sub(re.escape(module), "<module>", text, flags=re.IGNORECASE)
    text = re.sub(re.escape(folder) + r"\\?(?=\n|$)", "<folder>", text,
                  flags=re.IGNORECASE | re.MULTILINE)
    return text.splitlines()


def main():
    if len(sys.argv) in (4, 5) and sys.argv[1] == "keys":
        print("\n".join(keys(*sys.argv[2:])))
        return
    if len(sys.argv) == 6 and sys.argv[1] == "compare":
        a = normalized(sys.argv[2], sys.argv[3])
        b = normalized(sys.argv[4], sys.argv[5])
        if not a:
            sys.exit(f"{sys.argv[2]}: nothing registered")
        diff = list(difflib.unified_diff(a, b, sys.argv[2], sys.argv[4], lineterm=""))
        print("\n".join(diff))
        sys.exit(1 if diff else 0)
    sys.exit(__doc__)


if __name__ == "__main__":
    main()
