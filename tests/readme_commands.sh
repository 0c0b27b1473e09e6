#!/usr/bin/env bash
# Runs every command block of README.md fenced as ```sh, in order, from the
# top of the repository, as a newcomer would paste them. Blocks fenced as
# ```sh skip (installs that need root, long benchmarks) are left out. Then
# checks the samples: a block fenced as ```rt FILE must be FILE's bytes,
# and one fenced as ```rt zorbu ARGS what that command writes.
set -eu
cd "$(dirname "$0")/.."
blocks=$(mktemp -d)
trap 'rm -rf "$blocks"' EXIT

awk -v dir="$blocks" '
  /^[ \t]*```/ {
    fence = $0
    sub(/^[ \t]*```/, "", fence)
    if (inside) { inside = 0; close(file); next }
    inside = 1
    keep = (fence == "sh" || fence ~ /^rt /)
    if (fence == "sh") file = sprintf("%s/%03d.sh", dir, ++n)
    if (fence ~ /^rt /) {
      file = sprintf("%s/%03d.sample", dir, ++n)
      print substr(fence, 4) > (file ".what")
      close(file ".what")
    }
    next
  }
  inside && keep { line = $0; if (file ~ /sh$/) sub(/^[ \t]+/, "", line); print line > file }
' README.md

# The commands call zorbu by name, as they would once it is installed, and
# python3 is Debian's, as on the machine the README is written for.
export PATH="$PWD/build/default:/usr/bin:$PATH"
count=0
for block in "$blocks"/*.sh; do
  [ -e "$block" ] || continue
  count=$((count + 1))
  echo "\$ $(cat "$block")"
  bash -e "$block"
done
[ "$count" -gt 0 ] || { echo "no command blocks found in README.md"; exit 1; }
echo "$count README command blocks ran"

samples=0
for sample in "$blocks"/*.sample; do
  [ -e "$sample" ] || continue
  samples=$((samples + 1))
  what=$(cat "$sample.what")
  case $what in
    "zorbu "*) $what >"$sample.want" ;;
    *) cp -- "$what" "$sample.want" ;;
  esac
  cmp -s "$sample" "$sample.want" || {
    echo "README.md: the sample of '$what' is not what it shows:"
    diff "$sample.want" "$sample"
    exit 1
  }
done
[ "$samples" -gt 0 ] || { echo "no samples found in README.md"; exit 1; }
echo "$samples README samples match"
