"""The Dask recipe of the README, run as it gives it, on 20 files against a
distributed.LocalCluster of two worker processes on the loopback: exact
outputs under the same paths, each bad file reported once with its
message, and nothing partial left. Usage: dask_test.py CASES_DIR RECIPE
(with the package on PYTHONPATH and ZORBU_LIBRARY naming the library).
Exits 77, which ctest reports as not run, without Debian's
python3-distributed."""
import os
import subprocess
import sys
import tempfile

try:
    from dask.distributed import LocalCluster
except ImportError:
    print("not run: python3-distributed is not installed")
    sys.exit(77)

cases, recipe = sys.argv[1:3]


def main():
    good = sorted(name[:-3] for name in os.listdir(cases) if name.endswith(".rt")
                  and open(os.path.join(cases, name[:-3] + ".status")).read().strip() == "0")
    with tempfile.TemporaryDirectory() as tmp:
        src, dst = os.path.join(tmp, "in"), os.path.join(tmp, "out")
        want = {}
        for i, name in enumerate(good[:16]):
            path = os.path.join(f"show{i % 3}", f"season {i % 2}", f"{name}.rt")
            os.makedirs(os.path.join(src, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(cases, name + ".rt"), "rb") as f:
                data = f.read()
            with open(os.path.join(src, path), "wb") as f:
                f.write(data)
            with open(os.path.join(cases, name + ".out"), "rb") as f:
                want[path] = f.read()
        os.makedirs(os.path.join(src, "bad"))
        for name, data in (("invalid.rt", b"no window\n<time/>a\n</window>\n"),
                           ("empty.rt", b""), ("no_body.rt", b"<window>\n</window>\n"),
                           ("blocked.rt", b"<window>\n<time/>a\n</window>\n")):
            with open(os.path.join(src, "bad", name), "wb") as f:
                f.write(data)
        # A folder stands where one output goes.
        blocked = os.path.join(dst, "bad", "blocked.rt")
        os.makedirs(blocked)
        errors = sorted([f"bad/{name}: invalid rt file"
                         for name in ("empty.rt", "invalid.rt", "no_body.rt")]
                        + [f"bad/blocked.rt: [Errno 21] Is a directory: '{blocked}'"])
        with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                          host="127.0.0.1", dashboard_address=None) as cluster:
            done = subprocess.run([sys.executable, recipe, src, dst,
                                   cluster.scheduler_address],
                                  capture_output=True, text=True, timeout=300)
        problems = []
        if done.returncode != 1:
            problems.append(f"status {done.returncode}")
        if sorted(done.stderr.splitlines()) != errors:
            problems.append(f"messages: {done.stderr!r}")
        for path, data in want.items():
            try:
                with open(os.path.join(dst, path), "rb") as f:
                    if f.read() != data:
                        problems.append(f"{path} differs")
            except OSError as error:
                problems.append(str(error))
        made = sorted(os.path.relpath(os.path.join(folder, name), dst)
                      for folder, _, names in os.walk(dst) for name in names)
        if made != sorted(want):
            problems.append(f"files in the output: {made}")
        print("\n".join(problems) or f"{len(want)} files converted, {len(errors)} reported")
        return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
