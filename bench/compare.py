#!/usr/bin/env python3
"""Times two builds of case_driver side by side, on one core and in turn:
for each kernel set and file, RUNS runs of each, alternating which goes
first, and prints the fastest wall and user+sys time of each and the
change. The way this project judges a speed change.

Usage: bench/compare.py RUNS OLD_CASE_DRIVER NEW_CASE_DRIVER SET[,SET...] FILE...
"""
import os
import resource
import subprocess
import sys
import time


def one(binary, kernels, path):
    """Returns the wall and the user+sys seconds of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    with open(os.devnull, "wb") as null:
        subprocess.run(["taskset", "-c", "1", binary, kernels, path],
                       stdout=null, check=True)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    runs, old, new, sets, *files = sys.argv[1:]
    for kernels in sets.split(","):
        for path in files:
            times = {old: [], new: []}
            for i in range(int(runs)):
                for binary in (old, new) if i % 2 == 0 else (new, old):
                    times[binary].append(one(binary, kernels, path))
            (ow, oc), (nw, nc) = ((min(t[0] for t in times[b]), min(t[1] for t in times[b]))
                                  for b in (old, new))
            print("%-8s %-12s old %7.1f ms cpu %7.1f | new %7.1f ms cpu %7.1f | "
                  "wall %+5.1f%% cpu %+5.1f%%" % (
                      kernels, os.path.basename(path), ow * 1e3, oc * 1e3, nw * 1e3,
                      nc * 1e3, (nw / ow - 1) * 100, (nc / oc - 1) * 100), flush=True)


if __name__ == "__main__":
    main()
