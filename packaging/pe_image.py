"""A PE image's headers, sections and imports, as the package checks read them."""
import struct


class PeImage:
    """The headers, sections and imports of a PE image (raises ValueError when it is none)."""

    def __init__(self, data):
        if data[:2] != b"MZ":
            raise ValueError("not a PE image")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        self.data = data
        sections, self.symbols = struct.unpack_from("<H", data, pe + 6)[0], \
            struct.unpack_from("<I", data, pe + 12)[0]
        optional_size = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        self.wide = struct.unpack_from("<H", data, opt)[0] == 0x20B
        self.dll_characteristics = struct.unpack_from("<H", data, opt + 70)[0]
        directories = opt + (112 if self.wide else 96)
        self.import_rva = struct.unpack_from("<I", data, directories + 8)[0]
        self.sections = []
        for i in range(sections):
            at = opt + optional_size + 40 * i
            name = data[at:at + 8].rstrip(b"\0").decode("latin-1")
            size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
            self.sections.append((name, rva, max(size, raw_size), raw))

    def offset(self, rva):
        for _, start, size, raw in self.sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError(f"RVA {rva:#x} outside every section")

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("latin-1")

    def imports(self):
        """{dll name as written: [function names, or #ordinal]}"""
        found = {}
        at = self.offset(self.import_rva) if self.import_rva else None
        while at is not None:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                break
            functions = found.setdefault(self.text(name), [])
            entry = self.offset(lookup or thunks)
            width, ordinal = (8, 1 << 63) if self.wide else (4, 1 << 31)
            while True:
                value = int.from_bytes(self.data[entry:entry + width], "little")
                if value == 0:
                    break
                functions.append(f"#{value & 0xFFFF}" if value & ordinal
                                 else self.text((value & 0x7FFFFFFF) + 2))
                entry += width
            at += 20
        return found
