#!/usr/bin/env python3
"""Every hand-written list of kernel sets against the one table,
lib/simd/kernel_sets.txt: the C interface's header and manual page, the C
API test, and the unit test's list for each architecture. CMake, the
dispatcher, the Python test and the mutation check read the table itself.

Usage: kernel_sets_test.py (from anywhere in the tree)
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


rows = [line.split() for line in read("lib/simd/kernel_sets.txt").splitlines()
        if line[:1].isalpha()]
names = [row[0] for row in rows]
failures = []


def check(what, got, want):
    if got != want:
        failures.append("%s lists %s, the table %s" % (what, got, want))


header = read("include/zorbu.h")
comment = header[header.index("/* Chooses the stream's kernel set"):]
comment = comment[:comment.index("*/")]
check("zorbu.h", sorted(re.findall(r'"([a-z0-9]+)"', comment)), sorted(names))
manual = read("man/zorbu.3.in")
paragraph = manual[manual.index("chooses a stream's kernel set"):]
paragraph = paragraph[:paragraph.index(".Pp")]
check("zorbu.3", sorted(re.findall(r"^\.Qq ([a-z0-9]+)", paragraph, re.M)), sorted(names))
api = read("tests/api/api_test.c")
check("api_test.c", re.findall(r'"([a-z0-9]+)"', re.search(r"kSets\[\] = \{([^}]*)\}", api).group(1)),
      names)
unit = read("tests/lib/simd_test.cpp")
for arch, macro in (("x86_64", "__x86_64__"), ("aarch64", "__aarch64__")):
    block = re.search(r"defined\(%s\)(.*?)#(elif|endif)" % macro, unit, re.S).group(1)
    listed = re.findall(r'"([a-z0-9]+)"', re.search(r"EXPECT_EQ\(sets,(.*?)\);", block, re.S).group(1))
    check("simd_test.cpp for %s" % arch, listed,
          [row[0] for row in rows if row[1] in ("any", arch)])
for row in rows:
    if not os.path.isdir(os.path.join(ROOT, "lib", "simd", row[0])):
        failures.append("the table's %s has no folder lib/simd/%s" % (row[0], row[0]))

for failure in failures:
    print("FAIL " + failure)
print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
sys.exit(1 if failures else 0)
