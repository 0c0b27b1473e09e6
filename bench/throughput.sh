#!/usr/bin/env bash
# Times zorbu against cat with hyperfine, which warms up, alternates the
# commands and reports mean ± σ of wall time and of user+sys CPU time:
#   - on three generated inputs, written to /dev/null and into a pipe;
#   - on a batch of the three inputs twice over, through xargs -P"$(nproc)";
#   - on N small files, one process each;
# and reports zorbu's peak resident memory on each input.
# Needs python3, hyperfine and /usr/bin/time (Debian packages python3,
# hyperfine and time).
# Usage: bench/throughput.sh [RUNS] [MIB] [SMALL_FILES] [ZORBU]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/needs.sh
needs python3 python3 hyperfine hyperfine /usr/bin/time time
runs=${1:-9}
mib=${2:-256}
small=${3:-500}
zorbu=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -z "$zorbu" ]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target zorbu >/dev/null
  zorbu=$PWD/build/default/zorbu
fi
python3 bench/make_inputs.py "$work" "$mib"
echo "CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)," \
  "$(nproc) processors; zorbu: $zorbu"

# Prints one row from a hyperfine JSON export whose first command is zorbu's
# and second cat's: wall and CPU means in ms, and zorbu ÷ cat for each.
row() {
  python3 - "$1" "$2" <<'PY'
import json, sys
name, path = sys.argv[1:]
z, c = json.load(open(path))["results"][:2]
cpu = lambda r: (r["user"] + r["system"]) * 1e3
print("%-18s %7.1f ± %5.1f %7.1f ± %5.1f %6.2f  %7.1f %7.1f %6.2f" % (
    name, z["mean"] * 1e3, z["stddev"] * 1e3, c["mean"] * 1e3,
    c["stddev"] * 1e3, z["mean"] / c["mean"], cpu(z), cpu(c), cpu(z) / cpu(c)))
PY
}

printf '%-18s %15s %15s %6s  %7s %7s %6s\n' input "zorbu wall ms" "cat wall ms" \
  ratio "zorbu" "cat" "ratio"
printf '%-18s %15s %15s %6s  %22s\n' "" "" "" "" "user+sys CPU ms"
hyper() { hyperfine --style none --runs "$runs" --export-json "$@" >/dev/null 2>&1; }
for name in caption untagged dense; do
  file=$work/$name.rt
  hyper "$work/null.json" -N --warmup 2 --output null "$zorbu $file" "cat $file"
  row "$name >/dev/null" "$work/null.json"
  hyper "$work/pipe.json" --warmup 2 \
    "'$zorbu' '$file' | cat >/dev/null" "cat '$file' | cat >/dev/null"
  row "$name | cat" "$work/pipe.json"
done

# One process a file, as many at once as there are processors.
for name in caption untagged dense caption untagged dense; do
  echo "$work/$name.rt"
done >"$work/batch"
hyper "$work/batch.json" --warmup 1 \
  "xargs -P$(nproc) -n1 '$zorbu' <'$work/batch' >/dev/null" \
  "xargs -P$(nproc) -n1 cat <'$work/batch' >/dev/null"
row "batch of 6" "$work/batch.json"

mkdir "$work/small"
for i in $(seq "$small"); do cp tests/cases/worked_example.rt "$work/small/$i.rt"; done
hyper "$work/small.json" --warmup 1 \
  "for f in '$work'/small/*.rt; do '$zorbu' \"\$f\"; done >/dev/null" \
  "for f in '$work'/small/*.rt; do cat \"\$f\"; done >/dev/null"
row "$small small files" "$work/small.json"

echo
for name in caption untagged dense; do
  rss=$(/usr/bin/time -f %M "$zorbu" "$work/$name.rt" 2>&1 >/dev/null | tail -n 1)
  printf 'peak RSS %-9s %6s KiB\n' "$name" "$rss"
done
