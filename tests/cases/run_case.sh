#!/bin/sh
# Runs COMMAND on CASE.rt and compares its stdout, stderr and exit status
# with CASE.out, CASE.err and CASE.status, byte for byte. A status of 77
# means the command cannot run here, and is passed on for ctest to skip.
# Usage: run_case.sh CASE COMMAND...
# ZORBU_WRAPPER, if set, is put before the command (a valgrind call, say).
case=$1
shift
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT

${ZORBU_WRAPPER:-} "$@" "$case.rt" >"$tmp/out" 2>"$tmp/err"
status=$?
[ "$status" = 77 ] && exit 77
echo "$status" >"$tmp/status"

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
