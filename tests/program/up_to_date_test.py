#!/usr/bin/env python3
"""zorbu --into DIR --update: a second run converts nothing; an input newer
by a nanosecond, an output that is no regular file and a missing output
beside a leftover partial file are converted; an input that is its own
output is refused whatever its times; the options end at --; the summary
and the status line count the files passed over.

Usage: up_to_date_test.py ZORBU CASES_DIR
"""
import os
import re
import select
import subprocess
import sys
import tempfile
import time

zorbu, cases = (os.path.abspath(a) for a in sys.argv[1:3])
tmp = tempfile.mkdtemp()
passed = failed = 0
MARK = b"left by the test\n"


def result(name, why):
    global passed, failed
    if why:
        failed += 1
        print("FAIL %s: %s" % (name, why))
    else:
        passed += 1


def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        return e.strerror


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def run(*args, cwd=tmp):
    done = subprocess.run([zorbu, "--into"] + list(args), cwd=cwd,
                          stderr=subprocess.PIPE)
    return done.returncode, done.stderr.decode(errors="replace")


def mtime_ns(path):
    return os.stat(path, follow_symlinks=False).st_mtime_ns


def set_mtime_ns(path, ns):
    os.utime(path, ns=(ns, ns), follow_symlinks=False)


worked = read(os.path.join(cases, "worked_example.rt"))
worked_out = read(os.path.join(cases, "worked_example.out"))
names = ["touched", "linked", "folder", "partial", "kept"]
for name in names:
    write(os.path.join(tmp, "in", name + ".rt"), worked)
status, err = run("out", "--update", "in")
why = "" if status == 0 and not err else "first run: status %d, %r" % (status, err)

# Every output marked, with the input's time to the nanosecond: up to date.
out = os.path.join(tmp, "out", "in")
for name in names:
    write(os.path.join(out, name + ".rt"), MARK)
    set_mtime_ns(os.path.join(out, name + ".rt"), mtime_ns(os.path.join(tmp, "in", name + ".rt")))
status, err = run("out", "--update", "in")
why += "" if status == 0 and not err and \
    all(read(os.path.join(out, n + ".rt")) == MARK for n in names) else \
    "; second run: status %d, %r" % (status, err)

# Newer by a nanosecond; a link, a folder and a leftover partial file
# where outputs were, each newer than its input.
newer = mtime_ns(os.path.join(out, "touched.rt")) + 1
set_mtime_ns(os.path.join(tmp, "in", "touched.rt"), newer)
os.unlink(os.path.join(out, "linked.rt"))
write(os.path.join(tmp, "target"), MARK)
os.symlink(os.path.join(tmp, "target"), os.path.join(out, "linked.rt"))
os.unlink(os.path.join(out, "folder.rt"))
os.mkdir(os.path.join(out, "folder.rt"))
os.unlink(os.path.join(out, "partial.rt"))
write(os.path.join(out, ".zorbu-partial.host.1.0"), MARK)
later = time.time_ns() + 10**9
for path in ("target", "out/in/linked.rt", "out/in/folder.rt", "out/in/.zorbu-partial.host.1.0"):
    set_mtime_ns(os.path.join(tmp, path), later)
status, err = run("out", "--update", "in")
want = "zorbu: in/folder.rt: error: cannot write output: Is a directory\n" \
       "zorbu: 1 of 5 files failed, 1 up to date\n"
if status != 1 or err != want:
    why += "; third run: status %d, %r" % (status, err)
for name, data in (("touched", worked_out), ("linked", worked_out),
                   ("partial", worked_out), ("kept", MARK)):
    if read(os.path.join(out, name + ".rt")) != data:
        why += "; %s.rt: %r" % (name, read(os.path.join(out, name + ".rt"))[:40])
if os.path.islink(os.path.join(out, "linked.rt")) or read(os.path.join(tmp, "target")) != MARK:
    why += "; the link was followed"
result("update", why)

# An output that is its own input is refused before its times are looked
# at, which would pass it over; options end at --, after which an argument
# that looks like one is a file, and so is an unknown one before it.
own = os.path.join(tmp, "in", "kept.rt")
status, err = run(".", "--update", "kept.rt", cwd=os.path.join(tmp, "in"))
why = "" if status == 1 and err == "zorbu: kept.rt: error: input file is output file\n" \
    "zorbu: 1 of 1 file failed, 0 up to date\n" and read(own) == worked \
    else "own input: status %d, %r" % (status, err)
write(os.path.join(tmp, "in", "--update"), worked)
write(os.path.join(tmp, "in", "-x.rt"), worked)
status, err = run("../dashes", "--update", "--", "--update", "-x.rt", cwd=os.path.join(tmp, "in"))
if status != 0 or err or read(os.path.join(tmp, "dashes", "--update")) != worked_out or \
        read(os.path.join(tmp, "dashes", "-x.rt")) != worked_out:
    why += "; after --: status %d, %r" % (status, err)
status, err = run("../dashes2", "-x.rt", cwd=os.path.join(tmp, "in"))
if status != 0 or err or read(os.path.join(tmp, "dashes2", "-x.rt")) != worked_out:
    why += "; -x.rt after DIR: status %d, %r" % (status, err)
result("update-arguments", why)

# On a terminal, the status line counts the files passed over.
fifo = os.path.join(tmp, "in", "held.rt")
os.mkfifo(fifo)
writer = os.open(fifo, os.O_RDWR)
reader, stderr = os.openpty()
child = subprocess.Popen([zorbu, "--into", "out", "--update", "in/kept.rt", "in/held.rt",
                          "in/touched.rt"], cwd=tmp, stderr=stderr)
os.close(stderr)
time.sleep(1.2)
os.write(writer, worked)
os.close(writer)
seen = b""
while True:
    try:
        if not select.select([reader], [], [], 30)[0]:
            break
        piece = os.read(reader, 4096)
    except OSError:
        break
    if not piece:
        break
    seen += piece
child.wait()
status_line = re.search(rb"2 of 3 files, 1 up to date, \d+\.\d MiB read", seen)
result("update-progress", "" if child.returncode == 0 and status_line else
       "status %d, %r" % (child.returncode, seen))

subprocess.run(["rm", "-rf", tmp])
print("%d passed, %d failed" % (passed, failed))
sys.exit(failed != 0)
