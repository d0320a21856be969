#!/usr/bin/env python3
"""Checks what a release zip holds and unpacks it:

    check_package.py Wendrix-2.0.0-win32.zip OUT_DIR

- every file a user is promised is there (the control, the form host, INSTALL.txt, the guide
  with its picture, the samples with the built C++ recorder), and nothing of the build tree;
- every program and the control are Windows modules of the zip's bitness;
- the control's file version (its VERSIONINFO resource) is the version in the zip's name;
- the text files a Windows user opens have CRLF line ends and no unfilled @VARIABLE@;
- the guide's first page names the package's version;
- every page of the guide is there as HTML too, and every link and picture of every HTML page
  leads to a file of the zip and, with a #fragment, to an element of that page with that id;
  no HTML page holds a Markdown table row that a stray blank line cut off its table;
- the guide's tables about the package agree with it (guide_tables.py): the list of the zip's
  files, and the newest functions Wendrix.ocx imports;
- the control imports only DLLs that Windows loads from its system folder whatever the search
  path (the KnownDLLs), and is built hardened: ASLR, NX, high-entropy addresses (64-bit) or no
  SEH handlers (32-bit), and no debug sections or symbols.
Prints one line per fault and exits 1 when there is any; unpacks into OUT_DIR/<zip name>.
"""
import html.parser
import posixpath
import re
import struct
import sys
import zipfile

import guide_tables
from pe_image import PeImage

REQUIRED = [
    "Wendrix.ocx",
    "Wendrix.manifest",
    "wendrix-host.exe",
    "INSTALL.txt",
    "LICENSE.txt",
    "include/Wendrix.idl",
    "include/Wendrix.h",
    "include/Wendrix.tlb",
    "redist/Wendrix.wxs",
    "docs/README.md",
    "docs/install.md",
    "docs/hosts.md",
    "docs/reference.md",
    "docs/recording.md",
    "docs/behaviour.md",
    "docs/wendrix-control.png",
    "samples/README.txt",
    "samples/cpp/record.cpp",
    "samples/cpp/wendrix-record.exe",
    "samples/vbscript/record.vbs",
    "samples/vb6/Recorder.vbp",
    "samples/vb6/Recorder.frm",
    "samples/vba/WendrixRecorder.bas",
    "samples/csharp/RecorderForm.cs",
    "samples/delphi/RecorderMain.pas",
]
MODULES = ["Wendrix.ocx", "wendrix-host.exe", "samples/cpp/wendrix-record.exe"]

# The DLLs Windows always loads from its system folder, never from the folder of the program or
# of the control: the KnownDLLs (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs)
# that Windows 7, 8.1, 10 and 11 all list, as the registry of those versions holds them
# (Microsoft documents the key, not its contents), and ntdll.dll, which every process has
# loaded. Anything else the control needs comes through COM or by full path.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ntdll.dll",
    "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}
DYNAMIC_BASE, HIGH_ENTROPY_VA, NX_COMPAT, NO_SEH = 0x0040, 0x0020, 0x0100, 0x0400
MACHINE = {"win32": 0x014C, "win64": 0x8664}
CRLF_SUFFIXES = (".txt", ".vbs", ".vbp", ".frm", ".bas", ".cs", ".pas", ".manifest", ".wxs")


def pe_machine(data):
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, pe + 4)[0]


def file_version(data):
    """The four numbers of VS_FIXEDFILEINFO's file version, or None."""
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls = struct.unpack_from("<II", data, at + 8)
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


# Functions that load DLLs by name as they start, before a program can restrict its DLL search:
# libssp's canary draws its bytes through CryptAcquireContext (a cryptographic provider, and
# through it bcrypt.dll and others, from the program's folder first). Our modules bring their own
# canary (control/com/stack_guard.cpp).
EARLY_LOADERS = {"cryptacquirecontexta", "cryptacquirecontextw"}


def import_faults(name, image):
    """A DLL outside the KnownDLLs; a function that loads DLLs before the search is restricted."""
    imports = {dll.lower(): functions for dll, functions in image.imports().items()}
    faults = [f"{name}: imports {dll} ({', '.join(sorted(functions))}), which is no KnownDLL: "
              "a copy beside the module would be loaded instead"
              for dll, functions in sorted(imports.items()) if dll not in KNOWN_DLLS]
    faults += [f"{name}: imports {function} from {dll}: libssp's canary, which loads DLLs "
               "(from the program's folder too) before the program can restrict its DLL search"
               for dll, functions in sorted(imports.items()) for function in sorted(functions)
               if function.lower() in EARLY_LOADERS]
    return faults


def hardening_faults(name, image):
    """ASLR, NX, high-entropy VA (64-bit) or NO_SEH (32-bit); no debug sections or symbols."""
    wanted = {"ASLR (DYNAMIC_BASE)": DYNAMIC_BASE, "NX (NX_COMPAT)": NX_COMPAT}
    if image.wide:
        wanted["high-entropy VA (HIGH_ENTROPY_VA)"] = HIGH_ENTROPY_VA
    else:
        wanted["no SEH handlers (NO_SEH)"] = NO_SEH
    faults = [f"{name}: DllCharacteristics {image.dll_characteristics:#06x} lacks {flag}"
              for flag, bit in wanted.items() if not image.dll_characteristics & bit]
    # Long section names (.debug_info and the like) are offsets into the symbol table: "/4".
    debug = [s[0] for s in image.sections if s[0].startswith((".debug", "/"))]
    if debug or image.symbols:
        faults.append(f"{name}: not stripped (sections {', '.join(debug) or 'none'}, "
                      f"symbol table at {image.symbols:#x})")
    return faults


class Page(html.parser.HTMLParser):
    """The ids of an HTML page and the addresses its links and pictures lead to."""

    def __init__(self, text):
        super().__init__()
        self.ids, self.targets = set(), []
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag == "a" and "href" in attrs:
            self.targets.append(attrs["href"])
        if tag == "img":
            self.targets.append(attrs.get("src", ""))


def html_faults(z, top, inside):
    """Every Markdown page has its HTML page; every link of every HTML page resolves."""
    faults = [f"{n[:-3]}.html: missing" for n in inside
              if n.startswith("docs/") and n.endswith(".md")
              and f"{n[:-3]}.html" not in inside]
    pages = {n: Page(z.read(top + n).decode("utf-8")) for n in inside if n.endswith(".html")}
    for name, page in sorted(pages.items()):
        for target in page.targets:
            if re.match(r"^(https?|mailto):", target):
                continue
            path, _, fragment = target.partition("#")
            path = posixpath.normpath(posixpath.join(posixpath.dirname(name), path)) if path else name
            if path not in inside:
                faults.append(f"{name}: a link to {target}, which the zip does not hold")
            elif fragment and (path not in pages or fragment not in pages[path].ids):
                faults.append(f"{name}: a link to {target}, which has no id {fragment}")
    if not pages:
        faults.append("docs: no HTML pages")
    return faults


def guide_tables_faults(z, top, inside):
    faults = [fault for name in sorted(inside) if name.endswith(".html")
              for fault in guide_tables.broken_table_faults(name, z.read(top + name).decode("utf-8"))]
    if "docs/install.md" not in inside or "Wendrix.ocx" not in inside:
        return faults
    page = z.read(top + "docs/install.md").decode("utf-8")
    faults += guide_tables.zip_contents_faults(page, inside)
    faults += guide_tables.import_faults(page, z.read(top + "Wendrix.ocx"))
    return faults


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: check_package.py Wendrix-VERSION-win32|win64.zip OUT_DIR")
    path, out = sys.argv[1], sys.argv[2]
    match = re.search(r"Wendrix-(\d+)\.(\d+)\.(\d+)-(win32|win64)\.zip$", path)
    if not match:
        sys.exit(f"{path}: not a Wendrix-<version>-win32|win64.zip")
    version = tuple(int(match.group(i)) for i in (1, 2, 3)) + (0,)
    arch = match.group(4)
    top = f"Wendrix-{'.'.join(map(str, version[:3]))}-{arch}/"
    faults = []

    with zipfile.ZipFile(path) as z:
        names = [n for n in z.namelist() if not n.endswith("/")]
        outside = [n for n in names if not n.startswith(top)]
        faults += [f"{n}: outside the folder {top}" for n in outside]
        inside = {n[len(top):] for n in names if n.startswith(top)}
        faults += [f"{n}: missing" for n in REQUIRED if n not in inside]
        faults += [f"{n}: a build file in the package" for n in inside
                   if n.endswith((".a", ".lib", ".obj", "CMakeLists.txt"))]
        for name in MODULES:
            if name not in inside:
                continue
            data = z.read(top + name)
            machine = pe_machine(data)
            if machine != MACHINE[arch]:
                faults.append(f"{name}: machine {machine!r}, not the {arch} one")
            try:
                image = PeImage(data)
                faults += import_faults(name, image)
                faults += hardening_faults(name, image)
            except (ValueError, struct.error) as e:
                faults.append(f"{name}: {e}")
        if "Wendrix.ocx" in inside:
            found = file_version(z.read(top + "Wendrix.ocx"))
            if found != version:
                faults.append(f"Wendrix.ocx: file version {found}, package version {version}")
        for name in sorted(inside):
            if not name.endswith(CRLF_SUFFIXES):
                continue
            text = z.read(top + name)
            if b"\n" in text.replace(b"\r\n", b""):
                faults.append(f"{name}: a line without CRLF")
            if re.search(rb"@[A-Z_]+@", text):
                faults.append(f"{name}: an unfilled @VARIABLE@")
        faults += html_faults(z, top, inside)
        faults += guide_tables_faults(z, top, inside)
        release = ".".join(map(str, version[:3]))
        if "docs/README.md" in inside and \
                f"Wendrix {release}" not in z.read(top + "docs/README.md").decode("utf-8"):
            faults.append(f"docs/README.md: does not name the version, Wendrix {release}")
        z.extractall(out)

    for fault in faults:
        print(f"{path}: {fault}")
    print(f"{path}: {len(inside)} files, {len(faults)} faults")
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
