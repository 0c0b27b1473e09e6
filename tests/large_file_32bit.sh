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

# A program that fails writes a message and part of the output, or none:
# its hash then differs.
set +o pipefail
want=$("$native" "$tmp/big.rt" | sha256sum)
got=$("$i686" "$tmp/big.rt" | sha256sum)
echo "native      $want"
echo "i686        $got"
if [ "$got" = "$want" ]; then
  echo "1 passed, 0 failed"
else
  echo "0 passed, 1 failed"
  exit 1
fi
