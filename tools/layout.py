#!/usr/bin/env python3
"""Writes the layout table of CONTRIBUTING.md from the tree as it stands:
each source file of the library, the program and the packages with the
first line of its opening comment (a .cpp beside its .hpp takes the
header's). With --check, fails when CONTRIBUTING.md's table is not that.

Usage: tools/layout.py [--check] (from anywhere in the clone)
"""
import fnmatch
import os
import re
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


def ignored():
    """Returns a test of whether a path is one that .gitignore leaves out:
    the build's and the packages' outputs, which a tarball has not."""
    patterns = []
    with open(os.path.join(ROOT, ".gitignore"), encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                patterns.append((line.rstrip("/"), line.endswith("/")))

    def test(path, is_folder):
        for pattern, folders_only in patterns:
            if folders_only and not is_folder:
                continue
            # A pattern with a slash is from the top; one without, any name.
            name = path if "/" in pattern else os.path.basename(path)
            if fnmatch.fnmatchcase(name, pattern):
                return True
        return False
    return test


def sources():
    """The files under FOLDERS that are the project's own, as the tree
    stands: a clone, with or without a build, or an unpacked tarball."""
    is_ignored = ignored()
    found = []
    for folder in FOLDERS:
        for top, folders, files in os.walk(os.path.join(ROOT, folder)):
            rel = os.path.relpath(top, ROOT)
            folders[:] = [d for d in folders if not is_ignored(f"{rel}/{d}", True)]
            found += [f"{rel}/{f}" for f in files if not is_ignored(f"{rel}/{f}", False)]
    return found


def table():
    files = [f for f in sources() if f.endswith(SOURCES) and "/test/" not in f]
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
