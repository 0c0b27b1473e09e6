"""Converts a folder tree of rt files with Dask, each task a batch of files
through zorbu.convert_file, keeping every path below the folders. The same
code runs on a laptop, on a local cluster of one worker process per
processor, and on a cluster whose workers share the folders (NFS and the
like), given its scheduler's address.

Usage: python3 dask_convert.py SRC DST [SCHEDULER]
Prints each file that failed, with its message, and exits 1 if any did.
"""
import os
import sys

from dask.distributed import Client, LocalCluster

import zorbu

# Files a task: enough that a task costs far more than scheduling it.
BATCH = 64


def convert_batch(src, dst, names):
    """Converts src/NAME to dst/NAME for each name; returns the failures,
    a line each. Runs on a worker."""
    failed = []
    for name in names:
        target = os.path.join(dst, name)
        try:
            os.makedirs(os.path.dirname(target), exist_ok=True)
            zorbu.convert_file(os.path.join(src, name), target)
        except (ValueError, OSError) as error:
            failed.append(f"{name}: {error}")
    return failed


def main():
    if len(sys.argv) not in (3, 4):
        sys.exit("usage: dask_convert.py SRC DST [SCHEDULER]")
    # Workers may start anywhere: they get absolute paths.
    src, dst = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    names = sorted(os.path.relpath(os.path.join(folder, name), src)
                   for folder, _, files in os.walk(src)
                   for name in files if name.endswith(".rt"))
    batches = [names[i:i + BATCH] for i in range(0, len(names), BATCH)]
    if len(sys.argv) == 4:
        client = Client(sys.argv[3])
    else:
        client = Client(LocalCluster(processes=True, threads_per_worker=1,
                                     host="127.0.0.1", dashboard_address=None))
    with client:
        tasks = client.map(convert_batch, [src] * len(batches),
                           [dst] * len(batches), batches)
        failed = [line for lines in client.gather(tasks) for line in lines]
    for line in failed:
        print(line, file=sys.stderr)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
