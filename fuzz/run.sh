#!/usr/bin/env bash
# Builds the fuzz targets and runs each from its seed corpus for SECONDS
# (default 60), with the past findings in fuzz/regressions/. New inputs go
# to a scratch folder, not into the seeds; a finding stops the run with a
# non-zero status and leaves its input there.
# Usage: fuzz/run.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(search_tag convert_htmltext filter_rt)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
scratch=$(mktemp -d)
trap 'echo "fuzz inputs and any finding are in $scratch" >&2' ERR
for t in "${targets[@]}"; do
  echo "== fuzz_$t for ${seconds}s"
  mkdir -p "$scratch/$t"
  max_len=4096
  [ "$t" = filter_rt ] && max_len=16384
  (cd "$scratch/$t" && "$OLDPWD/build/fuzz/fuzz/fuzz_$t" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="$max_len" \
    -dict="$OLDPWD/fuzz/$t.dict" -print_final_stats=1 \
    "$scratch/$t" "$OLDPWD/fuzz/corpus/$t" "$OLDPWD/fuzz/regressions/$t") 2>&1 | tail -n 12
done
rm -rf "$scratch"
