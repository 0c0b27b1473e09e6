#!/usr/bin/env bash
# Times zorbu against cat on three generated 256 MiB inputs. Both write into
# the same pipe consumer; runs alternate, and the median of RUNS pairs is
# reported with zorbu's peak resident memory.
# Needs python3 and /usr/bin/time (Debian packages python3 and time).
# Usage: bench/throughput.sh [RUNS] [MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
mib=${2:-256}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --preset default >/dev/null
cmake --build --preset default --target zorbu >/dev/null
zorbu=$PWD/build/default/zorbu
python3 bench/make_inputs.py "$work" "$mib"

# Wall seconds of one shell pipeline.
seconds() {
  local start end
  start=$(date +%s%N)
  bash -c "$1"
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e9 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-10s %10s %10s %7s %12s\n' input "zorbu s" "cat s" ratio "peak RSS"
for name in caption untagged dense; do
  file=$work/$name.rt
  cat "$file" >/dev/null  # into the page cache
  : >"$work/z" && : >"$work/c"
  for _ in $(seq "$runs"); do
    seconds "'$zorbu' '$file' | cat >/dev/null" >>"$work/z"
    seconds "cat '$file' | cat >/dev/null" >>"$work/c"
  done
  z=$(median <"$work/z")
  c=$(median <"$work/c")
  rss=$(/usr/bin/time -f %M "$zorbu" "$file" 2>&1 >/dev/null | tail -n 1)
  printf '%-10s %10s %10s %7s %9s KiB\n' "$name" "$z" "$c" \
    "$(awk -v z="$z" -v c="$c" 'BEGIN { printf "%.2f", z / c }')" "$rss"
done
