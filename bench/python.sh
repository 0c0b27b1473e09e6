#!/usr/bin/env bash
# The Python package against the C library and the program, with Debian's
# python3: zorbu.convert on a 50 KB caption file beside the C one-shot
# function on the same bytes (mean microseconds a call), and 1,000 caption
# files of 5 to 40 KB through convert_file in one Python process, and
# through the Dask recipe on a local cluster of two worker processes, beside
# zorbu --into on the same folder (hyperfine, wall and CPU; Dask's workers
# are processes of their own, whose CPU time hyperfine does not see when
# they outlive it, so take its wall time).
# Usage: bench/python.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/needs.sh
needs hyperfine hyperfine /usr/bin/python3 python3
runs=${1:-5}
work=$(mktemp -d)
out=$(mktemp -d -p /dev/shm)
trap 'rm -rf "$work" "$out"' EXIT
cmake --preset default >/dev/null
cmake --build --preset default --target zorbu zorbu_shared >/dev/null
lib=$PWD/build/default/libzorbu.so.1
export ZORBU_LIBRARY=$lib PYTHONPATH=$PWD/python
echo "CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) processors"

python3 bench/make_inputs.py --folder "$work/captions" 1000 5000 40000
python3 bench/make_inputs.py --folder "$work/one" 1 50000 50000
one=$(find "$work/one" -name '*.rt')
cc -O2 -Iinclude -o "$work/oneshot_time" bench/oneshot_time.c "$lib" -Wl,-rpath,"${lib%/*}"
c_us=$("$work/oneshot_time" "$one" 20000)
py_us=$(/usr/bin/python3 - "$one" <<'PY'
import sys, timeit, zorbu
data = open(sys.argv[1], "rb").read()
zorbu.convert(data)
n = 20000
print("%.2f" % (min(timeit.repeat(lambda: zorbu.convert(data), number=n, repeat=3)) / n * 1e6))
PY
)
echo "one file of $(wc -c <"$one") bytes: C zorbu_convert $c_us µs, zorbu.convert $py_us µs a call"

cat >"$work/folder.py" <<'PY'
import os, sys, zorbu
src, dst = sys.argv[1:]
for folder, _, names in os.walk(src):
    target = os.path.join(dst, os.path.relpath(folder, src))
    os.makedirs(target, exist_ok=True)
    for name in names:
        zorbu.convert_file(os.path.join(folder, name), os.path.join(target, name))
PY
# The recipe as it stands, on a local cluster of two worker processes.
# Its worker processes import this script again, so it runs only as main.
cat >"$work/dask_two.py" <<PY
import runpy, sys
from dask.distributed import LocalCluster
if __name__ == "__main__":
    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                      host="127.0.0.1", dashboard_address=None) as cluster:
        sys.argv = ["dask_convert.py", sys.argv[1], sys.argv[2],
                    cluster.scheduler_address]
        try:
            runpy.run_path("$PWD/examples/python/dask_convert.py",
                           run_name="__main__")
        except SystemExit as end:
            status = end.code
    sys.exit(status)
PY
hyperfine --style none --runs "$runs" --warmup 1 --export-json "$work/folder.json" \
  --prepare "rm -rf '$out/o' && mkdir '$out/o'" \
  -n "convert_file, one python3" "/usr/bin/python3 '$work/folder.py' '$work/captions' '$out/o'" \
  -n "Dask, two workers" \
  "/usr/bin/python3 '$work/dask_two.py' '$work/captions' '$out/o'" \
  -n "zorbu --into" \
  "cd '$work/captions' && find . -name '*.rt' -print0 | xargs -0 '$PWD/build/default/zorbu' --into '$out/o'" \
  >/dev/null 2>&1
python3 - "$work/folder.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"]
base = r[-1]
cpu = lambda x: (x["user"] + x["system"]) * 1e3
for x in r:
    print("  %-26s %8.1f ± %5.1f ms wall (%.2f×)  %8.1f ms CPU (%.2f×)" % (
        x["command"], x["mean"] * 1e3, x["stddev"] * 1e3, x["mean"] / base["mean"],
        cpu(x), cpu(x) / cpu(base)))
PY
