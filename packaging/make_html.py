#!/usr/bin/python3
"""Writes the user guide as HTML, one page per Markdown page:

    make_html.py OUT_DIR docs/README.md docs/install.md ...

Each page gets the same name with .html. Links between the pages (`install.md#anchor`) point to
the HTML pages; headings get the anchors those links use (lower case, punctuation dropped,
spaces as hyphens); lists nested by two spaces stay nested. Pictures stay where the Markdown puts them (beside the pages).
Uses python3-markdown (Debian's package).
"""
import html
import os
import re
import sys

import markdown
from markdown.extensions.toc import TocExtension

STYLE = """body{font-family:Segoe UI,Arial,sans-serif;max-width:60em;margin:1em auto;padding:0 1em;
line-height:1.45}code,pre{font-family:Consolas,monospace;background:#f3f3f3}pre{padding:.5em;
overflow:auto}table{border-collapse:collapse}td,th{border:1px solid #bbb;padding:.2em .5em;
vertical-align:top}img{max-width:100%}"""


def slug(text, separator):
    text = re.sub(r"[^\w\s-]", "", text).strip().lower()
    return re.sub(r"\s+", separator, text)


def md_links_to_html(page):
    # [text](page.md) and [text](page.md#anchor), not web addresses.
    return re.sub(r"\]\((?!\w+://)([^)#\s]+)\.md(#[^)\s]*)?\)",
                  lambda m: f"]({m.group(1)}.html{m.group(2) or ''})", page)


def widen_indents(page):
    # The pages nest lists by two spaces, as GitHub reads them; Python-Markdown nests by four.
    out, fenced = [], False
    for line in page.split("\n"):
        if line.startswith("```"):
            fenced = not fenced
        elif not fenced:
            stripped = line.lstrip(" ")
            line = " " * (2 * (len(line) - len(stripped))) + stripped
        out.append(line)
    return "\n".join(out)


def main():
    out, pages = sys.argv[1], sys.argv[2:]
    os.makedirs(out, exist_ok=True)
    for path in pages:
        with open(path, encoding="utf-8") as f:
            text = widen_indents(md_links_to_html(f.read()))
        body = markdown.markdown(
            text, extensions=["tables", "fenced_code", TocExtension(slugify=slug)])
        title = re.search(r"^# (.+)$", text, re.M)
        title = html.escape(title.group(1) if title else os.path.basename(path))
        name = os.path.splitext(os.path.basename(path))[0] + ".html"
        with open(os.path.join(out, name), "w", encoding="utf-8", newline="\r\n") as f:
            f.write(f'<!DOCTYPE html>\n<html lang="en">\n<head>\n<meta charset="utf-8">\n'
                    f"<title>{title}</title>\n<style>{STYLE}</style>\n</head>\n<body>\n"
                    f"{body}\n</body>\n</html>\n")


if __name__ == "__main__":
    main()
