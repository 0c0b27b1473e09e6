#!/usr/bin/env python3
"""Decodes every entry of the fuzz dictionaries as libFuzzer does and fails
when one holds a backslash: none of the tokens needs one, so a backslash
means an escape written twice. Also fails on an entry it cannot read.

Usage: check_dicts.py DICT...
"""
import re
import sys


def decode(body):
    out, i = bytearray(), 0
    while i < len(body):
        c = body[i]
        if c != "\\":
            out += c.encode("latin-1")
            i += 1
        elif body[i + 1] in "\\\"":
            out += body[i + 1].encode()
            i += 2
        elif body[i + 1] == "x":
            out.append(int(body[i + 2:i + 4], 16))
            i += 4
        else:
            raise ValueError("unknown escape")
    return bytes(out)


def main():
    bad = 0
    entries = 0
    for path in sys.argv[1:]:
        for n, line in enumerate(open(path, encoding="latin-1"), 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            m = re.fullmatch(r'(?:\w+=)?"(.*)"', line)
            try:
                token = decode(m.group(1)) if m else None
            except (ValueError, IndexError):
                token = None
            entries += 1
            if token is None:
                print(f"{path}:{n}: cannot read {line}")
                bad += 1
            elif b"\\" in token:
                print(f"{path}:{n}: {line} decodes to {token!r}, with a backslash")
                bad += 1
    print(f"{entries - bad} passed, {bad} failed")
    return 1 if bad or not entries else 0


if __name__ == "__main__":
    sys.exit(main())
