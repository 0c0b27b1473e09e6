#!/usr/bin/env bash
# Times zorbu --into in one process, given the list of files and given the
# folder, against the one-process-a-file xargs recipe of 0.5.0 and against
# cp -r, with hyperfine, on the same trees:
#   - 1,000 caption files of 5 to 40 KB in nested folders;
#   - 10,000 files of 150 bytes in nested folders, and the same in one;
#   - a tree 2,000 folders deep with a caption file at every level, given
#     as a folder alone (its paths are too long for a list);
# and reports zorbu's peak resident memory on each, the median of 5, given
# the list and given the folder. Then reruns over unchanged trees, the
# 10,000 small files and 100,000 more: zorbu --into --update against
# cp -ru and rsync -a, each into the output its own first run made.
# Inputs are on the file system of the work folder, outputs on a tmpfs, made
# anew before each run outside the timing, so that no run pays for the
# last one's deletions.
# Needs python3, hyperfine, git, rsync and /usr/bin/time.
# Usage: bench/folders.sh [RUNS] [ZORBU]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/needs.sh
needs python3 python3 hyperfine hyperfine git git /usr/bin/time time rsync rsync
runs=${1:-5}
zorbu=${2:-}
work=$(mktemp -d)
out=$(mktemp -d -p /dev/shm)
trap 'rm -rf "$work" "$out"' EXIT

if [ -z "$zorbu" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target zorbu >/dev/null
  zorbu=$PWD/build/default/zorbu
fi
# 0.5.0 converted a folder with this script, one zorbu and one shell a file.
git show 35ee40b:examples/zorbu-into >"$work/zorbu-into"
python3 bench/make_inputs.py --folder "$work/captions" 1000 5000 40000
python3 - "$work/small" tests/cases/worked_example.rt <<'PY'
import os, sys
data = open(sys.argv[2], "rb").read()
for i in range(10000):
    folder = os.path.join(sys.argv[1], "s%02d" % (i // 1000), "f%02d" % (i // 100 % 10))
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "e%05d.rt" % i), "wb").write(data)
os.makedirs(sys.argv[1] + "-flat")
for i in range(10000):
    open(os.path.join(sys.argv[1] + "-flat", "e%05d.rt" % i), "wb").write(data)
PY
python3 - "$work/deep" tests/cases/worked_example.rt <<'PY'
import os, sys
data = open(sys.argv[2], "rb").read()
os.makedirs(sys.argv[1])
folder = os.open(sys.argv[1], os.O_RDONLY | os.O_DIRECTORY)
for depth in range(2000):
    os.mkdir("d", dir_fd=folder)
    below = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=folder)
    os.close(folder)
    folder = below
    f = os.open("e.rt", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=folder)
    os.write(f, data)
    os.close(f)
os.close(folder)
PY
echo "CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)," \
  "$(nproc) processors; inputs on $(df -T "$work" | awk 'NR == 2 { print $2 }')," \
  "outputs on $(df -T "$out" | awk 'NR == 2 { print $2 }'); zorbu: $zorbu"

# Prints one row a command from a hyperfine JSON export whose last command
# is cp's: wall and CPU means in ms, and each ÷ cp's.
rows() {
  python3 - "$1" <<'PY'
import json, sys
results = json.load(open(sys.argv[1]))["results"]
cp = results[-1]
cpu = lambda r: (r["user"] + r["system"]) * 1e3
for r in results:
    print("  %-22s %9.1f ± %6.1f %7.2f  %9.1f %7.2f" % (
        r["command"], r["mean"] * 1e3, r["stddev"] * 1e3, r["mean"] / cp["mean"],
        cpu(r), cpu(r) / cpu(cp)))
PY
}

for tree in captions small small-flat deep; do
  files=$(find "$work/$tree" -type f | wc -l)
  echo
  echo "$tree: $files files, $(du -sh --apparent-size "$work/$tree" | cut -f1)"
  printf '  %-22s %18s %7s  %9s %7s\n' command "wall ms" "÷ cp" "CPU ms" "÷ cp"
  lists=()
  if [ "$tree" != deep ]; then
    lists=(-n "zorbu --into, a list"
      "cd '$work/$tree' && find . -name '*.rt' -print0 | xargs -0 '$zorbu' --into '$out/o'"
      -n "0.5.0 xargs recipe"
      "cd '$work/$tree' && find . -name '*.rt' -print0 | ZORBU='$zorbu' xargs -0 -n1 -P$(nproc) sh '$work/zorbu-into' '$out/o'")
  fi
  hyperfine --style none --runs "$runs" --warmup 1 --export-json "$work/$tree.json" \
    --prepare "rm -rf '$out/o' && mkdir '$out/o'" \
    -n "zorbu --into, a folder" \
    "cd '$work/$tree' && '$zorbu' --into '$out/o' ." \
    "${lists[@]}" \
    -n "cp -r" \
    "cd '$work' && cp -r '$tree' '$out/o/'" >/dev/null 2>&1
  rows "$work/$tree.json"
done

echo
for _ in 1 2 3 4 5; do
  rm -rf "$out/o"
  (cd "$work/small" && find . -name '*.rt' -print0 |
    xargs -0 /usr/bin/time -f %M "$zorbu" --into "$out/o") 2>&1 | tail -n 1
done | sort -n | sed -n '3s/.*/peak RSS at 10,000 files, median of 5, a list: & KiB/p'
for tree in captions small small-flat deep; do
  for _ in 1 2 3 4 5; do
    rm -rf "$out/o"
    (cd "$work/$tree" && /usr/bin/time -f %M "$zorbu" --into "$out/o" .) 2>&1 | tail -n 1
  done | sort -n | sed -n "3s/.*/peak RSS, $tree, median of 5, a folder: & KiB/p"
done

python3 - "$work/many" tests/cases/worked_example.rt <<'PY'
import os, sys
data = open(sys.argv[2], "rb").read()
for i in range(100000):
    folder = os.path.join(sys.argv[1], "f%03d" % (i // 1000))
    os.makedirs(folder, exist_ok=True)
    open(os.path.join(folder, "e%06d.rt" % i), "wb").write(data)
PY
for tree in small many; do
  files=$(find "$work/$tree" -type f | wc -l)
  rm -rf "$out"/*
  first=$( { /usr/bin/time -f %e "$zorbu" --into "$out/z" --update "$work/$tree"; } 2>&1 | tail -n 1)
  cp -ru "$work/$tree" "$out/c"
  rsync -a "$work/$tree" "$out/r"
  echo
  echo "rerun, $tree: $files unchanged files; the first zorbu run took $first s"
  printf '  %-22s %18s %7s  %9s %7s\n' command "wall ms" "÷ rsync" "CPU ms" "÷ rsync"
  hyperfine --style none --runs "$runs" --warmup 1 --export-json "$work/rerun-$tree.json" \
    -n "zorbu --into --update" "'$zorbu' --into '$out/z' --update '$work/$tree'" \
    -n "cp -ru" "cp -ru '$work/$tree' '$out/c'" \
    -n "rsync -a" "rsync -a '$work/$tree' '$out/r'" >/dev/null 2>&1
  rows "$work/rerun-$tree.json"
done
