#!/usr/bin/env bash
# Times zorbu against cat with hyperfine, which warms up, alternates the
# commands and reports mean ± σ:
#   - on three generated inputs, written to /dev/null and into a pipe;
#   - on N small files, one process each;
# and reports zorbu's peak resident memory on each input.
# Needs python3, hyperfine and /usr/bin/time (Debian packages python3,
# hyperfine and time).
# Usage: bench/throughput.sh [RUNS] [MIB] [SMALL_FILES]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-9}
mib=${2:-256}
small=${3:-500}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --preset default >/dev/null
cmake --build --preset default --target zorbu >/dev/null
zorbu=$PWD/build/default/zorbu
python3 bench/make_inputs.py "$work" "$mib"
echo "CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"

# Prints "mean_zorbu mean_cat" in seconds from a hyperfine JSON export.
means() {
  python3 -c 'import json, sys
r = json.load(open(sys.argv[1]))["results"]
print(r[0]["mean"], r[0]["stddev"], r[1]["mean"], r[1]["stddev"])' "$1"
}

row() {
  local name=$1 json=$2
  read -r z zs c cs < <(means "$json")
  awk -v n="$name" -v z="$z" -v zs="$zs" -v c="$c" -v cs="$cs" 'BEGIN {
    printf "%-22s %8.1f ± %4.1f %8.1f ± %4.1f %7.2f\n", n, z * 1e3, zs * 1e3,
           c * 1e3, cs * 1e3, z / c }'
}

printf '%-22s %15s %15s %7s\n' "input" "zorbu ms" "cat ms" "ratio"
for name in caption untagged dense; do
  file=$work/$name.rt
  hyperfine -N --style none --warmup 2 --runs "$runs" --output null \
    --export-json "$work/null.json" "$zorbu $file" "cat $file" >/dev/null 2>&1
  row "$name >/dev/null" "$work/null.json"
  hyperfine --style none --warmup 2 --runs "$runs" \
    --export-json "$work/pipe.json" \
    "'$zorbu' '$file' | cat >/dev/null" "cat '$file' | cat >/dev/null" >/dev/null 2>&1
  row "$name | cat" "$work/pipe.json"
done

mkdir "$work/small"
for i in $(seq "$small"); do cp tests/cases/worked_example.rt "$work/small/$i.rt"; done
hyperfine --style none --warmup 1 --runs "$runs" --export-json "$work/small.json" \
  "for f in '$work'/small/*.rt; do '$zorbu' \"\$f\"; done >/dev/null" \
  "for f in '$work'/small/*.rt; do cat \"\$f\"; done >/dev/null" >/dev/null 2>&1
row "$small small files" "$work/small.json"

echo
for name in caption untagged dense; do
  rss=$(/usr/bin/time -f %M "$zorbu" "$work/$name.rt" 2>&1 >/dev/null | tail -n 1)
  printf 'peak RSS %-9s %6s KiB\n' "$name" "$rss"
done
