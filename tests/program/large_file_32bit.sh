#!/usr/bin/env bash
# The i686 program on a sparse file larger than 4 GiB, run natively by the
# x86-64 kernel, with real 32-bit limits that an emulator would hide: its
# output must be byte for byte what the 64-bit program writes.
# Usage: large_file_32bit.sh I686_ZORBU NATIVE_ZORBU
set -euo pipefail
i686=$1
native=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

"$i686" /dev/null 2>"$tmp/err" && status=0 || status=$?
if [ "$status" != 255 ]; then
  echo "skip: this kernel cannot run i386 programs ($(head -c 200 "$tmp/err"))"
  exit 0
fi

# A few real lines, a hole of 4 GiB and 1 MiB, then a few more.
python3 - "$tmp/big.rt" <<'PY'
import sys
with open(sys.argv[1], "wb") as f:
    f.write(b'<window bgcolor="black">\n<time begin="0"/>start <b color="red">\n')
    f.seek((4 << 30) + (1 << 20), 1)
    f.write(b'\n<time begin="9"/>end <i>x</i>\n</window>\n')
PY
echo "input: $(stat -c %s "$tmp/big.rt") bytes, $(du -k "$tmp/big.rt" | cut -f1) KiB on disk"

# Both programs run at once and their outputs are compared as they come:
# hashing 4 GiB twice took longer than converting it. A program that fails
# stops its output short and exits non-zero.
mkfifo "$tmp/native.out" "$tmp/i686.out"
"$native" "$tmp/big.rt" >"$tmp/native.out" &
native_pid=$!
"$i686" "$tmp/big.rt" >"$tmp/i686.out" &
i686_pid=$!
cmp "$tmp/native.out" "$tmp/i686.out" && same=yes || same=no
wait "$native_pid" && native_status=0 || native_status=$?
wait "$i686_pid" && i686_status=0 || i686_status=$?
echo "native exit $native_status, i686 exit $i686_status, outputs the same: $same"
if [ "$same" = yes ] && [ "$native_status" = 0 ] && [ "$i686_status" = 0 ]; then
  echo "1 passed, 0 failed"
else
  echo "0 passed, 1 failed"
  exit 1
fi
