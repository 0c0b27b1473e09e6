#!/usr/bin/env python3
"""Writes the three throughput inputs, deterministically, into a folder.

caption.rt  a time tag on about every other line, lines of 20 to 100 bytes
            with some <b>, <i>, <br/> and <font color="...">
untagged.rt one time tag at the top, then one huge segment
dense.rt    short lines full of tags and colour attributes, no time tags

or a folder tree of caption files, COUNT of them between MIN and MAX bytes,
a hundred to a folder in folders two deep.

Usage: make_inputs.py DIR [MIB]        (MIB may be a fraction: 0.25)
       make_inputs.py --folder DIR COUNT MIN MAX
"""
import os
import random
import sys

WORDS = [b"the", b"a", b"and", b"you", b"what", b"never", b"again", b"there",
         b"maybe", b"tomorrow", b"I", b"know", b"it's", b"over", b"here", b"now"]
COLOURS = [b"red", b"white", b"yellow", b"aqua", b"lime", b"pink", b"navy"]


def caption_line(rng, i):
    parts = []
    if i % 2 == 0:
        parts.append(b'<time begin="%d.%d"/>' % (i // 20, i % 10))
    target = rng.randint(20, 100)
    length = sum(len(p) for p in parts)
    while length < target:
        r = rng.random()
        if r < 0.06:
            w = b"<b>" + rng.choice(WORDS) + b"</b>"
        elif r < 0.10:
            w = b"<i>" + rng.choice(WORDS) + b"</i>"
        elif r < 0.12:
            w = b"<br/>"
        elif r < 0.15:
            w = b'<font color="' + rng.choice(COLOURS) + b'">' + rng.choice(WORDS) + b"</font>"
        else:
            w = rng.choice(WORDS)
        parts.append(w)
        length += len(w) + 1
    return b" ".join(parts) + b"\n"


def plain_line(rng, i):
    words = [rng.choice(WORDS) for _ in range(rng.randint(3, 16))]
    if rng.random() < 0.2:
        words.append(b"<i>" + rng.choice(WORDS) + b"</i>")
    return b" ".join(words) + b"\n"


def dense_line(rng, i):
    tags = []
    for _ in range(rng.randint(1, 3)):
        c = rng.choice(COLOURS)
        tags.append(rng.choice([
            b'<font color="%s">x</font>' % c,
            b'<p bgcolor="%s"><b>y</b></p>' % c,
            b'<span color="%s"/>' % c,
        ]))
    return b"".join(tags) + b"\n"


def write(path, size, head, make_line):
    rng = random.Random(path.rsplit("/", 1)[-1])
    # A few MiB of random lines, repeated: enough variety for the branch
    # predictors, and quick to make at any size.
    block = b"".join(make_line(rng, i) for i in range(60000))
    with open(path, "wb") as f:
        f.write(b'<window bgcolor="black"><font color="white">\n' + head)
        while f.tell() < size:
            f.write(block[: size - f.tell()] if size - f.tell() < len(block) else block)
        f.write(b"\n</font>\n</window>\n")


def write_folder(out, count, smallest, largest):
    rng = random.Random(count)
    head = b'<window bgcolor="black"><font color="white">\n'
    for i in range(count):
        folder = os.path.join(out, "season%02d" % (i // 1000), "show%02d" % (i // 100 % 10))
        os.makedirs(folder, exist_ok=True)
        size = rng.randint(smallest, largest)
        body = []
        length = len(head) + 17
        n = 0
        while length < size:
            line = caption_line(rng, n)
            body.append(line)
            length += len(line)
            n += 1
        data = head + b"".join(body) + b"</font>\n</window>\n"
        with open(os.path.join(folder, "e%04d.rt" % i), "wb") as f:
            f.write(data)


def main():
    # Anything else that looks like an option, --help above all, is not
    # taken for a folder to write hundreds of megabytes into.
    args = sys.argv[1:]
    if not args or (args[0].startswith("-") and args[0] != "--folder"):
        sys.exit(__doc__.strip())
    if sys.argv[1] == "--folder":
        write_folder(sys.argv[2], *(int(a) for a in sys.argv[3:6]))
        return
    out = sys.argv[1]
    size = int(float(sys.argv[2] if len(sys.argv) > 2 else 256) * (1 << 20))
    os.makedirs(out, exist_ok=True)
    write(os.path.join(out, "caption.rt"), size, b"", caption_line)
    write(os.path.join(out, "untagged.rt"), size, b'<time begin="0"/>\n', plain_line)
    write(os.path.join(out, "dense.rt"), size, b"", dense_line)


if __name__ == "__main__":
    main()
