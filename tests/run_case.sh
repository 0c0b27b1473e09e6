#!/bin/sh
# Runs zorbu on CASE.rt and compares its stdout, stderr and exit status with
# CASE.out, CASE.err and CASE.status, byte for byte.
# Usage: run_case.sh ZORBU CASE
# ZORBU_WRAPPER, if set, is put before the command (a valgrind call, say).
bin=$1
case=$2
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

${ZORBU_WRAPPER:-} "$bin" "$case.rt" >"$tmp/out" 2>"$tmp/err"
echo $? >"$tmp/status"

failed=0
for part in out err status; do
  if ! cmp -s "$tmp/$part" "$case.$part"; then
    echo "$(basename "$case"): $part differs (expected, then actual):"
    od -c "$case.$part" | head -n 20
    echo ---
    od -c "$tmp/$part" | head -n 20
    failed=1
  fi
done
exit $failed
