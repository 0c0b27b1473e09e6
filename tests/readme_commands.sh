#!/usr/bin/env bash
# Runs every command block of README.md fenced as ```sh, in order, from the
# top of the repository, as a newcomer would paste them. Blocks fenced as
# ```sh skip (installs that need root, long benchmarks) are left out.
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
    keep = (fence == "sh")
    if (keep) file = sprintf("%s/%03d.sh", dir, ++n)
    next
  }
  inside && keep { line = $0; sub(/^[ \t]+/, "", line); print line > file }
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
