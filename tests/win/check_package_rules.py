#!/usr/bin/env python3
"""The package check's rules on the built Wendrix.ocx and the programs shipped beside it, and on
copies of the OCX that break each rule:

    check_package_rules.py Wendrix.ocx wendrix-host.exe wendrix-record.exe
"""
import struct
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "packaging"))
import check_package as check  # noqa: E402


def faults(data, name="ocx"):
    image = check.PeImage(bytes(data))
    return check.import_faults(name, image) + check.hardening_faults(name, image)


def main():
    for shipped in map(Path, sys.argv[2:]):
        found = faults(shipped.read_bytes(), shipped.name)
        assert found == [], found
    built = bytearray(Path(sys.argv[1]).read_bytes())
    assert faults(built) == [], faults(built)
    image = check.PeImage(bytes(built))
    at = struct.unpack_from("<I", built, 0x3C)[0] + 24 + 70
    flags = ["ASLR", "NX", "high-entropy VA" if image.wide else "no SEH handlers"]
    bits = [check.DYNAMIC_BASE, check.NX_COMPAT,
            check.HIGH_ENTROPY_VA if image.wide else check.NO_SEH]
    for flag, bit in zip(flags, bits):
        broken = bytearray(built)
        struct.pack_into("<H", broken, at, image.dll_characteristics & ~bit)
        assert any(f"lacks {flag}" in f for f in faults(broken)), (flag, faults(broken))
    # A DLL that is not a KnownDLL, under a name of the same length as one that is.
    broken = bytearray(built)
    name = broken.index(b"USER32.dll")
    broken[name:name + 10] = b"DSOUND.dll"
    assert any("imports dsound.dll" in f for f in faults(broken)), faults(broken)
    # libssp's canary, under a name of the same length as one the module imports.
    broken = bytearray(built)
    name = broken.index(b"RegisterEventSourceW")
    broken[name:name + 20] = b"CryptAcquireContextA"
    assert any("libssp" in f for f in faults(broken)), faults(broken)
    # A symbol table left in the image.
    broken = bytearray(built)
    struct.pack_into("<I", broken, struct.unpack_from("<I", built, 0x3C)[0] + 12, 0x1000)
    assert any("not stripped" in f for f in faults(broken)), faults(broken)
    print(f"{sys.argv[1]}: passes; each of {len(flags) + 3} broken copies fails")


if __name__ == "__main__":
    main()
