"""The guide's tables about the package, held against the package itself (check_package.py
calls these; each returns one line per row or file that differs):

- zip_contents_faults: docs/install.md, "What the package holds": every file of the zip matches
  a row (a row may name several with *), and every row matches a file of the zip. A file added
  to the package needs its row in that table.
- import_faults: Wendrix.ocx's imports: every function it imports from a DLL is either in
  imports-baseline.txt (functions Windows XP already has) or a row of the table in
  docs/install.md, "Which Windows", that gives the Windows version it needs. A new import from
  a later Windows fails here, naming the function, until the guide's table (and, if it raises
  the floor, the stated minimum) says so.
"""
import fnmatch
import os
import re

from pe_image import PeImage

HERE = os.path.dirname(os.path.abspath(__file__))


def markdown_table(text, heading, header):
    """The body rows (lists of cells) of the table whose header row starts with `header`, in
    the section `heading` of a Markdown page."""
    section = text.split(f"\n## {heading}\n", 1)
    if len(section) < 2:
        return None
    rows, inside = [], False
    for line in section[1].split("\n"):
        line = line.strip()
        if not inside:
            if line.startswith("## "):
                return None
            inside = line.startswith(f"| {header}")
            continue
        if not line.startswith("|"):
            break
        if set(line) <= set("|-: "):
            continue
        rows.append([c.strip() for c in line.strip("|").split("|")])
    return rows if inside else None


def unquote(cell):
    return re.sub(r"\*\*|`", "", cell).strip()


def zip_contents_faults(page, inside):
    rows = markdown_table(page, "What the package holds", "File")
    if rows is None:
        return ["docs/install.md: no table \"File | …\" under \"What the package holds\""]
    patterns = [unquote(row[0]).replace("\\", "/") for row in rows]
    faults = [f"docs/install.md, what the package holds: row {p} matches no file of the zip"
              for p in patterns if not any(fnmatch.fnmatchcase(n, p) for n in inside)]
    faults += [f"{n}: in the zip but in no row of docs/install.md, what the package holds"
               for n in sorted(inside)
               if not any(fnmatch.fnmatchcase(n, p) for p in patterns)]
    return faults


def pe_imports(data):
    """{(dll in lower case, function)} that a PE module imports by name (ordinals as #n)."""
    return {(dll.lower(), function)
            for dll, functions in PeImage(data).imports().items() for function in functions}


def import_faults(page, ocx):
    rows = markdown_table(page, "Which Windows", "Function")
    if rows is None:
        return ["docs/install.md: no table \"Function | …\" under \"Which Windows\""]
    listed = {(unquote(row[1]).lower(), unquote(row[0])) for row in rows}
    with open(os.path.join(HERE, "imports-baseline.txt"), encoding="utf-8") as f:
        baseline = {tuple(line.split()) for line in f if line.strip() and not line.startswith("#")}
    imported = pe_imports(ocx)
    faults = [f"Wendrix.ocx imports {fn} from {dll}, which neither imports-baseline.txt nor "
              f"docs/install.md (which Windows) lists" for dll, fn in sorted(imported)
              if (dll, fn) not in baseline and (dll, fn) not in listed]
    faults += [f"docs/install.md, which Windows: row {fn} ({dll}) is not imported by Wendrix.ocx"
               for dll, fn in sorted(listed) if (dll, fn) not in imported]
    return faults


def broken_table_faults(name, html_text):
    """Table rows that a stray blank line cut off their table: HTML paragraphs of pipes."""
    return [f"{name}: a Markdown table row outside its table (a blank line before it?): "
            f"{re.sub(r'<[^>]+>', '', m.group(1))[:90]}"
            for m in re.finditer(r"<p>\s*(\|[^\n]*)", html_text)]
