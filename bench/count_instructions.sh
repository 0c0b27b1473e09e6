#!/usr/bin/env bash
# Counts the instructions zorbu's filter runs per input byte with each
# kernel set, start-up taken off: on three 256 KiB inputs of make_inputs.py,
# less the count for a file of one body line. Counts an aarch64 build under
# qemu-user, which prints a line for each instruction it runs when made to
# run them one at a time, and a native build under callgrind.
# Needs python3, and qemu-user-static or valgrind (Debian packages).
# Usage: bench/count_instructions.sh aarch64 [SET...]   (default: portable neon)
#        bench/count_instructions.sh native [SET...]    (default: sse2 avx2)
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:-}
shift || true
case $target in
  aarch64)
    driver=build/cross-aarch64/tests/case_driver
    sets=${*:-portable neon}
    [ -x "$driver" ] || {
      cmake --preset cross-aarch64 >/dev/null
      cmake --build --preset cross-aarch64 --target case_driver >/dev/null
    }
    count() {
      QEMU_LD_PREFIX=/usr/aarch64-linux-gnu qemu-aarch64-static \
        -singlestep -d exec,nochain "$driver" "$1" "$2" 2>&1 >/dev/null |
        grep -c '^Trace'
    }
    echo "qemu: $(qemu-aarch64-static --version | head -n 1)"
    ;;
  native)
    driver=build/default/tests/case_driver
    sets=${*:-sse2 avx2}
    [ -x "$driver" ] || {
      cmake --preset default >/dev/null
      cmake --build --preset default --target case_driver >/dev/null
    }
    count() {
      valgrind --tool=callgrind --callgrind-out-file=/dev/null \
        "$driver" "$1" "$2" 2>&1 >/dev/null |
        sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
    }
    echo "CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
    ;;
  *)
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 bench/make_inputs.py "$work" 0.25
printf '<window>\n<time begin="0"/>x\n</window>\n' >"$work/one.rt"
printf '%-10s %12s %12s %12s   (instructions per byte)\n' set caption \
  untagged dense
for set in $sets; do
  start=$(count "$set" "$work/one.rt")
  row=$(printf '%-10s' "$set")
  for input in caption untagged dense; do
    n=$(count "$set" "$work/$input.rt")
    size=$(stat -c %s "$work/$input.rt")
    row+=$(python3 -c "import sys; print(' %12.3f' % (($n - $start) / $size))")
  done
  echo "$row"
done
