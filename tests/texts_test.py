#!/usr/bin/env python3
"""Every copy of a text that users read, held to its one owner: the
program's messages in programs/messages.hpp, the library's words in
lib/common/status.hpp; and the room size the packages give a stream,
zorbu.h's ZORBU_DIRECT_ROOM. The npm command, the JavaScript module, the Python
package and the C example keep copies where the C interface gives none;
each copy must be its owner's text, and stand once in its file, so that
every use goes through it.

Usage: texts_test.py (from anywhere in the tree)
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def owned(path):
    """The string constants of a C++ header, by name, joined where split."""
    found = {}
    for name, pieces in re.findall(r'constexpr [^=]*?\b(k\w+)(?:\[\])? =\s*((?:"[^"]*"\s*)+);',
                                   read(path)):
        found[name] = "".join(re.findall(r'"([^"]*)"', pieces))
    return found


library = owned("lib/common/status.hpp")
program = owned("programs/messages.hpp")
error = program["kError"]
# Each copy: its file, the pattern that finds it, the owner's text, and
# whether the text stands in the file once (the npm command's help repeats
# its usage line on purpose).
copies = [
    ("js/bin/zorbu.js", r'kUsage: "([^"]*)"', program["kUsage"], False),
    ("js/bin/zorbu.js", r'kInputIsOutput: "([^"]*)"', error + program["kInputIsOutput"], True),
    ("js/bin/zorbu.js", r'kUnreadable: "([^"]*)"', error + program["kUnreadable"], True),
    ("js/bin/zorbu.js", r'kUnwritable: "([^"]*)"', error + program["kUnwritable"], True),
    ("js/bin/zorbu.js", r'kInvalid: "([^"]*)"', error + library["kInvalidText"], True),
    ("js/module.js", r'const INVALID_TEXT = "([^"]*)"', library["kInvalidText"], True),
    ("python/zorbu/_files.py", r'_INPUT_IS_OUTPUT = "([^"]*)"', program["kInputIsOutput"], True),
    ("examples/library/stream.c", r'"(error: cannot read input)\\n"',
     error + program["kUnreadable"], True),
    ("examples/library/stream.c", r'"(error: cannot write output)\\n"',
     error + program["kUnwritable"], True),
]
# The room size that the packages give a stream, the header's own number.
header = read("include/zorbu.h")
room = re.search(r"#define ZORBU_DIRECT_ROOM \(\(size_t\)(\d+) \* (\d+)\)", header)
room_text = "%s * %s" % room.groups()
copies += [
    ("python/zorbu/_library.py", r"_DIRECT_ROOM = (\d+ \* \d+)", room_text, True),
    ("js/stream.js", r"const ROOM = (\d+ \* \d+);", room_text, True),
]
failures = []
for path, pattern, want, once in copies:
    text = read(path)
    found = re.findall(pattern, text)
    if found != [want]:
        failures.append("%s: %s gives %r, its owner %r" % (path, pattern, found, want))
    elif once and text.count(want) != 1:
        failures.append("%s: %r stands %d times" % (path, want, text.count(want)))

for failure in failures:
    print("FAIL " + failure)
print("%d passed, %d failed" % (len(copies) - len(failures), len(failures)))
sys.exit(1 if failures else 0)
