#!/usr/bin/env python3
"""Writes the layout table of CONTRIBUTING.md from the tree as it stands:
each source file of the library, the program and the packages with the
first line of its opening comment (a .cpp beside its .hpp takes the
header's). With --check, fails when CONTRIBUTING.md's table is not that.

Usage: tools/layout.py [--check] (from anywhere in the clone)
"""
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ("include/", "lib/", "programs/", "python/zorbu/", "js/", "web/")
SOURCES = (".h", ".hpp", ".cpp", ".py", ".js", ".mjs")
BEGIN = "<!-- layout: made by tools/layout.py; run it again after moving files -->"
END = "<!-- end of layout -->"


def opening_line(path):
    """The first sentence of the file's opening comment or docstring, cut
    at a clause where it runs long."""
    words = []
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("#!") or (not line and not words):
                continue
            mark = next((m for m in ('"""', "//", "/*", "#", "*") if line.startswith(m)), None)
            if mark is None:
                break
            text = line[len(mark):].strip().rstrip('"').strip()
            if not text:
                break
            words.append(text)
            if re.search(r"[.:]$", text):
                break
    sentence = re.split(r"(?<=[.;])\s|:\s*$", " ".join(words))[0].rstrip(".;:")
    while len(sentence) > 100 and re.search(r"[,:;]", sentence):
        sentence = re.split(r"[,:;](?!.*[,:;])", sentence)[0]
    return sentence


def table():
    files = subprocess.run(["git", "ls-files", "--cached", "--others",
                            "--exclude-standard", *FOLDERS], cwd=ROOT, check=True,
                           capture_output=True, text=True).stdout.split()
    files = [f for f in files if f.endswith(SOURCES) and "/test/" not in f]
    rows = {}
    for path in sorted(files):
        stem, ext = os.path.splitext(path)
        # A .cpp with a header of its own is the header's row.
        if ext == ".cpp" and stem + ".hpp" in files:
            rows[stem + ".*"] = rows.pop(stem + ".hpp", opening_line(stem + ".hpp"))
            continue
        if ext == ".hpp" and stem + ".cpp" in files:
            rows[stem + ".*"] = opening_line(path)
            continue
        rows[path] = opening_line(path)
    width = max(map(len, rows)) + 2
    lines = [f"{name:<{width}}{text}".rstrip() for name, text in rows.items()]
    return "\n".join([BEGIN, "```", *lines, "```", END])


def main():
    path = os.path.join(ROOT, "CONTRIBUTING.md")
    with open(path, encoding="utf-8") as f:
        text = f.read()
    pattern = re.compile(re.escape(BEGIN) + ".*?" + re.escape(END), re.S)
    if not pattern.search(text):
        sys.exit("CONTRIBUTING.md has no layout table between its markers")
    new = pattern.sub(lambda _: table(), text)
    if "--check" in sys.argv[1:]:
        if new != text:
            sys.exit("CONTRIBUTING.md's layout is not the tree's: run tools/layout.py")
        print("1 passed, 0 failed")
        return
    with open(path, "w", encoding="utf-8") as f:
        f.write(new)


if __name__ == "__main__":
    main()
