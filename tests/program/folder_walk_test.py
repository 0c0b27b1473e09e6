#!/usr/bin/env python3
"""zorbu --into over folders: each file read from the folder that listed it,
trees deeper than the path limit and than the open descriptors, a folder
moved while the walk had it closed, and the count of folders that cannot be
read.

Usage: folder_walk_test.py ZORBU CASES_DIR FAULT_SHIM
"""
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

zorbu, cases, shim = (os.path.abspath(a) for a in sys.argv[1:4])
tmp = tempfile.mkdtemp()
passed = failed = 0


def result(name, why):
    global passed, failed
    if why:
        failed += 1
        print("FAIL %s: %s" % (name, why))
    else:
        passed += 1


def case(name, ext):
    with open(os.path.join(cases, name + ext), "rb") as f:
        return f.read()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read_or_none(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def limit_descriptors(count):
    return lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (count, count))


def listed_first(folder, first, then):
    """Makes `first` (by calling it) and a file after it in folder's listing
    order, trying names until the listing puts them so; returns the name."""
    first()
    made = os.listdir(folder)
    for i in range(200):
        name = "z%d.rt" % i
        write(os.path.join(folder, name), then)
        order = os.listdir(folder)
        if order.index(name) > max(order.index(m) for m in made):
            return name
        os.unlink(os.path.join(folder, name))
    sys.exit("no name comes after %r in %s" % (made, folder))


def hold_at_fifo(args, fifo, cwd, then, preexec=None):
    """Runs zorbu with the FIFO open for writing, so that it waits there;
    calls then() once zorbu has the FIFO open, then lets it go on."""
    writer = os.open(fifo, os.O_RDWR)
    child = subprocess.Popen([zorbu] + args, cwd=cwd, stderr=subprocess.PIPE,
                             preexec_fn=preexec)
    fd_folder = "/proc/%d/fd" % child.pid
    for _ in range(600):
        try:
            if any(os.readlink(os.path.join(fd_folder, fd)) == fifo
                   for fd in os.listdir(fd_folder)):
                break
        except OSError:
            pass
        time.sleep(0.01)
    then()
    os.write(writer, b"<window>\n<time/>held\n</window>\n")
    os.close(writer)
    _, err = child.communicate(timeout=60)
    return child.returncode, err.decode(errors="replace")


worked_in, worked_out = case("worked_example", ".rt"), case("worked_example", ".out")
colours_in = case("colours", ".rt")

# A folder swapped for a link while the walk is inside it: the files still
# come from the folder that was listed, never from behind the link.
race = os.path.join(tmp, "race")
sub = os.path.join(race, "in", "a", "sub")
os.makedirs(sub)
fifo = os.path.join(sub, "fifo.rt")
name = listed_first(sub, lambda: os.mkfifo(fifo), worked_in)
write(os.path.join(race, "secret", "sub", name), colours_in)


def swap():
    os.rename(os.path.join(race, "in", "a"), os.path.join(race, "in", "moved"))
    os.symlink("../secret", os.path.join(race, "in", "a"))


status, err = hold_at_fifo(["--into", "out", "in"], fifo, race, swap)
got = read_or_none(os.path.join(race, "out", "in", "a", "sub", name))
result("swapped-folder", "" if status == 0 and not err and got == worked_out
       else "status %d, %r, output %r" % (status, err, got and got[:60]))

# A folder moved elsewhere while the walk, short of descriptors, had the
# folder above it closed: that folder is named as failed, and its other
# files are not taken from where the moved one went.
moved = os.path.join(tmp, "moved")
deep = os.path.join(moved, "in", "p", "d1", "d2")
os.makedirs(os.path.join(deep, "d3", "d4"))
os.makedirs(os.path.join(moved, "in", "elsewhere"))
fifo = os.path.join(deep, "d3", "d4", "fifo.rt")
os.mkfifo(fifo)
name = listed_first(deep, lambda: None, worked_in)
write(os.path.join(moved, "in", "elsewhere", name), colours_in)
status, err = hold_at_fifo(
    ["--into", "out", "in/p"], fifo, moved,
    lambda: os.rename(os.path.join(deep, "d3"),
                      os.path.join(moved, "in", "elsewhere", "d3")),
    preexec=limit_descriptors(24))
want = "zorbu: in/p/d1/d2: error: folder moved during the run\n" \
       "zorbu: 1 of 2 files failed\n"
got = read_or_none(os.path.join(moved, "out", "in", "p", "d1", "d2", name))
result("moved-folder", "" if status == 1 and err == want and got is None
       else "status %d, %r, output %r" % (status, err, got and got[:60]))

# A tree deeper than a path may be long, walked with fewer descriptors than
# it has levels: every file converted, exactly.
levels = 3000
root = os.open(tmp, os.O_RDONLY | os.O_DIRECTORY)
os.mkdir("tall", dir_fd=root)
folder = os.open("tall", os.O_RDONLY | os.O_DIRECTORY, dir_fd=root)
os.mkdir("in", dir_fd=folder)
depths = {1, 2, 1500, levels}
for depth in range(1, levels + 1):
    below = os.open("in" if depth == 1 else "d", os.O_RDONLY | os.O_DIRECTORY,
                    dir_fd=folder)
    os.close(folder)
    folder = below
    if depth in depths:
        f = os.open("x.rt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=folder)
        os.write(f, worked_in)
        os.close(f)
    if depth < levels:
        os.mkdir("d", dir_fd=folder)
os.close(folder)
run = subprocess.run([zorbu, "--into", "out", "in"], cwd=os.path.join(tmp, "tall"),
                     stderr=subprocess.PIPE, preexec_fn=limit_descriptors(64))
why = "" if run.returncode == 0 and not run.stderr else \
    "status %d, %r" % (run.returncode, run.stderr[:300])
folder = os.open("tall/out/in", os.O_RDONLY | os.O_DIRECTORY, dir_fd=root)
for depth in range(1, levels + 1):
    try:
        f = os.open("x.rt", os.O_RDONLY, dir_fd=folder)
        got = os.read(f, 1 << 20)
        os.close(f)
    except FileNotFoundError:
        got = None
    if (got == worked_out) != (depth in depths):
        why += "; depth %d: %r" % (depth, got and got[:40])
    if depth < levels:
        try:
            below = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=folder)
        except OSError as e:
            why += "; depth %d: %s" % (depth, e)
            break
        os.close(folder)
        folder = below
os.close(folder)
os.close(root)
result("deep-tree", why)

# A folder that cannot be opened, and one whose listing fails, each count
# as one file that failed, named, beside the files that were converted.
counts = os.path.join(tmp, "counts")
for i in range(3):
    write(os.path.join(counts, "in", "denied", "%d.rt" % i), worked_in)
    write(os.path.join(counts, "in", "unlisted", "%d.rt" % i), worked_in)
write(os.path.join(counts, "in", "ok.rt"), worked_in)
env = dict(os.environ, LD_PRELOAD=shim, ASAN_OPTIONS="verify_asan_link_order=0",
           ZORBU_SHIM_FOLDER_DENIED="denied", ZORBU_SHIM_LISTING_FAILS="unlisted")
run = subprocess.run([zorbu, "--into", "out", "in"], cwd=counts, env=env,
                     stderr=subprocess.PIPE)
lines = sorted(run.stderr.decode().splitlines())
want = ["zorbu: 2 of 3 files failed",
        "zorbu: in/denied: error: cannot open input: Permission denied",
        "zorbu: in/unlisted: error: cannot open input: Input/output error"]
converted = read_or_none(os.path.join(counts, "out", "in", "ok.rt"))
result("folder-counts", "" if run.returncode == 1 and lines == want and
       converted == worked_out else "status %d, %r" % (run.returncode, lines))

subprocess.run(["rm", "-rf", tmp])
print("%d passed, %d failed" % (passed, failed))
sys.exit(failed != 0)
