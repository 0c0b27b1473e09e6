#!/usr/bin/env bash
# End-to-end checks that need more than a file name: missing arguments,
# devices, pipes, streaming, failed reads and writes, limits and closed
# descriptors.
# Usage: cli_test.sh ZORBU CASES_DIR FAULT_SHIM
set -u
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cases=$2
shim=$3
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0

usage_msg='usage: zorbu filename'
invalid_msg='error: invalid rt file'
write_msg='error: cannot write output'
read_msg='error: cannot read input'
same_msg='error: input file is output file'
memory_msg='error: out of memory'

# check NAME EXPECTED_STATUS EXPECTED_STDOUT_FILE EXPECTED_STDERR -- COMMAND...
# Runs COMMAND through bash with stdout and stderr captured.
check() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4
  shift 5
  bash -c "$*" >"$tmp/out" 2>"$tmp/err"
  local status=$?
  local why=""
  [ "$status" = "$want_status" ] || why="status $status, wanted $want_status"
  cmp -s "$tmp/out" "$want_out" || why="$why; stdout differs"
  if [ -n "$want_err" ]; then
    [ "$(cat "$tmp/err")" = "$want_err" ] || why="$why; stderr: $(head -c 200 "$tmp/err")"
  else
    [ -s "$tmp/err" ] && why="$why; unexpected stderr: $(head -c 200 "$tmp/err")"
  fi
  if [ -z "$why" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name: $why"
  fi
}

: >"$tmp/empty"
golden=$cases/worked_example
z=$(printf '%q' "$bin")

check no-argument 255 "$tmp/empty" "$usage_msg" -- "$z"
check missing-file 255 "$tmp/empty" "$usage_msg" -- "$z $tmp/no-such-file"
check extra-arguments-ignored 0 "$golden.out" "" -- "$z $golden.rt $tmp/no-such-file -x"
check directory 255 "$tmp/empty" "$invalid_msg" -- "$z $tmp"
check dev-null 255 "$tmp/empty" "$invalid_msg" -- "$z /dev/null"

# The usual habits: - is standard input, --help and --version answer on
# standard output, and a file of such a name is reached as ./NAME.
check dash-is-stdin 0 "$golden.out" "" -- "cat $golden.rt | $z -"
check dash-invalid 255 "$tmp/empty" "$invalid_msg" -- "$z - < /dev/null"
"$bin" --help extra >"$tmp/help" 2>&1
[ "$?" = 0 ] && grep -q '^usage: zorbu filename$' "$tmp/help" && grep -q -- '--version' "$tmp/help" &&
  passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL help text: $(head -c 200 "$tmp/help")"; }
printf 'zorbu %s\n' "${ZORBU_VERSION:?the version is passed in}" >"$tmp/version"
check version 0 "$tmp/version" "" -- "$z --version"
check help-unwritable 255 "$tmp/empty" "$write_msg" -- "$z --help > /dev/full"
mkdir "$tmp/odd" && cp "$golden.rt" "$tmp/odd/--help" && cp "$golden.rt" "$tmp/odd/-"
cp "$golden.rt" "$tmp/odd/--into"
check file-named-help 0 "$golden.out" "" -- "cd $tmp/odd && $z ./--help"
check file-named-into 0 "$golden.out" "" -- "cd $tmp/odd && $z ./--into"
check file-named-dash 0 "$golden.out" "" -- "cd $tmp/odd && $z ./- < /dev/null"
# Only the first argument is read, and it is an option only when it is one
# exactly: no abbreviation, no value, no option of --into's, no end of
# options.
for name in --ver --help=x -x -- --update; do
  cp "$golden.rt" "$tmp/odd/$name"
  check "file-named$name" 0 "$golden.out" "" -- "cd $tmp/odd && $z $(printf '%q' "$name")"
done
check help-after-file 0 "$golden.out" "" -- "$z $golden.rt --help"

# Input that can be read only once gives what the same bytes in a file give.
check stdin-redirected 0 "$golden.out" "" -- "$z /dev/stdin < $golden.rt"
check stdin-pipe 0 "$golden.out" "" -- "cat $golden.rt | $z /dev/stdin"
check process-substitution 0 "$golden.out" "" -- "$z <(cat $golden.rt)"
check invalid-through-pipe 255 "$tmp/empty" "$invalid_msg" -- "cat $cases/no_body.rt | $z /dev/stdin"
check empty-pipe 255 "$tmp/empty" "$invalid_msg" -- "$z /dev/stdin < /dev/null"

# Large enough to cross many read blocks and output flushes.
python3 - "$tmp/big.rt" <<'PY'
import random, sys
random.seed(7)
words = [b'a', b'<b>', b'</b>', b'color="red"', b'<font color="navy">', b'\0', b'\xff', b'x' * 40]
with open(sys.argv[1], 'wb') as f:
    f.write(b'<window bgcolor="black"><font color="white">\n')
    for i in range(60000):
        if i % 3 == 0:
            f.write(b'<time begin="%d"/>' % i)
        f.write(b' '.join(random.choice(words) for _ in range(random.randint(0, 12))) + b'\n')
    f.write(b'x' * 5000 + b'<time/>' + b'y' * 3000 + b'\n')
    f.write(b'</font>\n</window>\n')
PY
"$bin" "$tmp/big.rt" >"$tmp/big.out" 2>/dev/null
check big-file-exit-status 0 "$tmp/big.out" "" -- "$z $tmp/big.rt"
# A first key's value on the line after it, with the pipe cut between the
# two: the same bytes as when both come at once.
printf '<window>\ncolor=\n#808080"\n</time></window>\n' >"$tmp/value-next.out"
check value-on-the-next-line-cut 0 "$tmp/value-next.out" "" -- \
  "(printf '<window>\\ncolor=\\ng'; sleep 0.3; printf 'ray\"\\n</window>\\n') | $z -"
check big-pipe-same-as-file 0 "$tmp/big.out" "" -- "cat $tmp/big.rt | $z /dev/stdin"

# Descriptors a parent left non-blocking are waited for, not given up on:
# a slow reader of a 1 MiB pipe, and a slow writer to standard input.
nonblocking() {
  echo "python3 -c 'import fcntl, os, sys
for fd in (0, 1):
    fcntl.fcntl(fd, fcntl.F_SETFL, fcntl.fcntl(fd, fcntl.F_GETFL) | os.O_NONBLOCK)
os.execv(sys.argv[1], sys.argv[1:])' $*"
}
check nonblocking-slow-reader 0 "$tmp/big.out" "" -- \
  "set -o pipefail; $(nonblocking "$z" "$tmp/big.rt") < /dev/null | { sleep 1; cat; }"
check nonblocking-slow-writer 0 "$tmp/big.out" "" -- \
  "{ sleep 1; cat $tmp/big.rt; } | $(nonblocking "$z" -) | cat"

# Failed writes are reported, never passed off as success.
check dev-full 255 "$tmp/empty" "$write_msg" -- "$z $golden.rt > /dev/full"
check big-dev-full 255 "$tmp/empty" "$write_msg" -- "$z $tmp/big.rt > /dev/full"
check window-only-dev-full 255 "$tmp/empty" "$write_msg" -- "$z $cases/window_only.rt > /dev/full"
cp "$golden.rt" "$tmp/writable.rt"
check closed-stdout 255 "$tmp/empty" "$write_msg" -- "$z $tmp/writable.rt >&-"
check closed-stdout-pipe 255 "$tmp/empty" "$write_msg" -- "cat $golden.rt | $z /dev/stdin >&-"
check closed-stdout-input-intact 0 "$golden.rt" "" -- "cat $tmp/writable.rt"
check closed-stdout-invalid 255 "$tmp/empty" "$invalid_msg" -- "$z /dev/null >&-"

# Output appended to its own input would be read back for ever: a program
# that failed to see it stops at a file-size limit of 64 MiB, not at a full
# disk.
cp "$golden.rt" "$tmp/self.rt"
grow="ulimit -f 65536; timeout 60"
check output-is-input 255 "$tmp/empty" "$same_msg" -- "$grow $z $tmp/self.rt >> $tmp/self.rt"
check output-is-input-untouched 0 "$golden.rt" "" -- "cat $tmp/self.rt"
check output-is-input-via-stdin 255 "$tmp/empty" "$same_msg" -- \
  "$grow $z /dev/stdin < $tmp/self.rt >> $tmp/self.rt"

# A file-size limit is a failed write, not a silent kill by SIGXFSZ.
check file-size-limit 255 "$tmp/empty" "$write_msg" -- \
  "ulimit -f 1; $z $tmp/big.rt > $tmp/limited.out"

# Failures that no ordinary file gives, made by a preloaded shim. Under the
# sanitizers the shim is loaded after their runtime, which they allow here.
faulty() {
  echo "env ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=$(printf '%q' "$shim") $*"
}
printf '<window>\n<time begin="1"/>one\n<time begin="2"/>two\nthree\n</window>\n' >"$tmp/five.rt"
printf '<window>\n<time begin="1">one\n' >"$tmp/five-until-third.out"
# Reads fail after the first 40 bytes, inside the third line: the first
# body line's text stands, and nothing after it is made up.
check read-fails-in-body 255 "$tmp/five-until-third.out" "$read_msg" -- \
  "$(faulty ZORBU_SHIM_READ_FAILS_AFTER=40 "$z" "$tmp/five.rt")"
# Before the file is known to be valid, nothing is written.
check read-fails-before-valid 255 "$tmp/empty" "$read_msg" -- \
  "$(faulty ZORBU_SHIM_READ_FAILS_AFTER=30 "$z" "$tmp/five.rt")"
check read-fails-in-first-line 255 "$tmp/empty" "$invalid_msg" -- \
  "$(faulty ZORBU_SHIM_READ_FAILS_AFTER=5 "$z" "$tmp/five.rt")"
check write-takes-nothing 255 "$tmp/empty" "$write_msg" -- \
  "timeout 20 $(faulty ZORBU_SHIM_WRITE_TAKES_NOTHING=1 "$z" "$tmp/five.rt")"

# Sanitizers reserve address space and keep memory of their own, so the
# limits and the resident size mean something only without them.
sanitized=0
ldd "$bin" 2>/dev/null | grep -q libasan && sanitized=1

# Too little memory for the run's buffers gives a message, not an abort.
# From the smallest limit at which the program starts at all, shown by
# --version, which needs no buffers, to enough to run it lies a limit where
# only the buffers do not fit; every limit tried must end in one of these
# two ways. Below that limit the loader itself may fail, however it likes.
if [ $sanitized = 1 ]; then
  echo "skip memory-limit: sanitizers reserve more address space than any limit allows"
else
  memory_ok=1 saw_message=0 start=
  for kib in $(seq 256 64 16384); do
    # A shell of its own reports a crashed loader, to /dev/null.
    if bash -c 'ulimit -v "$1"; "$2" --version; status=$?; exit $status' \
      _ "$kib" "$bin" >/dev/null 2>&1; then
      start=$kib
      break
    fi
  done
  for kib in $(seq "${start:-16384}" 64 16384); do
    (ulimit -v "$kib"; exec "$bin" "$golden.rt") >"$tmp/out" 2>"$tmp/err"
    status=$?
    if [ "$status:$(cat "$tmp/err")" = "255:$memory_msg" ] && [ ! -s "$tmp/out" ]; then
      saw_message=1
    elif [ "$status" = 0 ] && cmp -s "$tmp/out" "$golden.out"; then
      break
    else
      memory_ok=0
      echo "FAIL memory-limit $kib KiB: status $status, $(head -c 200 "$tmp/err")"
      break
    fi
  done
  if [ $memory_ok = 1 ] && [ $saw_message = 1 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    [ $saw_message = 1 ] || echo "FAIL memory-limit: no limit gave \"$memory_msg\""
  fi
fi

# Output keeps up with input: the writer pauses after three lines until the
# first rewritten body line has come out of the pipe, and gives up only
# after a minute. A zorbu that waits for the end of input makes it give up.
# Only the order of events is checked, never how long anything took.
early='<window>
<time begin="1">one
'
rm -f "$tmp/ready" "$tmp/gave-up"
{
  printf '<window>\n<time begin="1"/>one\n<time begin="2"/>two\n'
  for _ in $(seq 600); do
    [ -e "$tmp/ready" ] && break
    sleep 0.1
  done
  [ -e "$tmp/ready" ] || touch "$tmp/gave-up"
  printf '</window>\n'
} | "$bin" /dev/stdin | {
  dd bs=1 count=${#early} status=none >"$tmp/early"
  touch "$tmp/ready"
  cat >"$tmp/late"
}
printf '</time><time begin="2">two\n</time></window>\n' >"$tmp/late.want"
if [ ! -e "$tmp/gave-up" ] && [ "$(cat "$tmp/early")" = "${early%
}" ] && cmp -s "$tmp/late" "$tmp/late.want"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAIL streaming: $([ -e "$tmp/gave-up" ] && echo 'no output before the writer gave up')"
fi

# An endless stream runs in flat memory: under 2 MiB resident.
if [ -x /usr/bin/time ] && [ $sanitized = 0 ]; then
  kib=$({ printf '<window>\n'; yes '<time begin="1"/>a <b>b</b> color="red"'; } |
    timeout 120 /usr/bin/time -o "$tmp/rss" -f %M "$bin" /dev/stdin |
    head -c 200000000 >/dev/null; tail -n 1 "$tmp/rss")
  if [ -n "$kib" ] && [ "$kib" -lt 2048 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL endless-stream: peak resident ${kib:-?} KiB"
  fi
fi

# Random bytes, with and without a valid first line, end in one of the two
# statuses with one of the known messages: never a signal or a sanitizer
# report.
python3 - "$tmp" <<'PY'
import random, sys
rng = random.Random(11)
for i in range(40):
    head = b'<window><font>\n' if i % 2 else b''
    body = bytes(rng.choice(b'<>/ \n\0tcolr="imeb\xff') if i % 4 < 2 else rng.randrange(256)
                 for _ in range(rng.randrange(0, 5000)))
    open('%s/random%02d.rt' % (sys.argv[1], i), 'wb').write(head + body)
PY
random_ok=1
for f in "$tmp"/random*.rt; do
  "$bin" "$f" >/dev/null 2>"$tmp/err"
  status=$?
  case "$status:$(cat "$tmp/err")" in
    "0:" | "255:$invalid_msg") ;;
    *) random_ok=0; echo "FAIL random input $f: status $status, $(head -c 300 "$tmp/err")" ;;
  esac
done
if [ $random_ok = 1 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

# A 10 MB line with no newline streams through in flat memory. It is cut
# into 1023-byte lines; the last of them is the closing line.
python3 - "$tmp" <<'PY'
import sys
size = 10 * 1000 * 1000
head, tag = b'<window>\n', b'<time begin="0"/>'
body = tag + b'x' * size
open(sys.argv[1] + '/long.rt', 'wb').write(head + body)
last = len(body) % 1023 or 1023
out = head + b'<time begin="0">' + b'x' * (size - last) + b'</time>' + b'x' * last
open(sys.argv[1] + '/long.out', 'wb').write(out)
PY
check long-line 0 "$tmp/long.out" "" -- "$z $tmp/long.rt"
if [ -x /usr/bin/time ] && [ $sanitized = 0 ]; then
  kib=$(/usr/bin/time -f %M "$bin" "$tmp/long.rt" 2>&1 >/dev/null | tail -n 1)
  if [ "$kib" -lt 2048 ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL long-line-memory: peak resident $kib KiB"
  fi
fi

# A reader that goes away early ends zorbu promptly instead of hanging it.
# With pipefail the status is zorbu's: ended by SIGPIPE (141), not by the
# timeout (124) that a hang would run into.
check reader-quits-early 141 <(head -c 100 "$tmp/long.out") "" -- \
  "set -o pipefail; timeout 60 $z $tmp/long.rt | head -c 100"

# A file that exists but cannot be read is answered like a missing one.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  mkdir "$tmp/locked" && chmod 755 "$tmp" "$tmp/locked"
  cp "$golden.rt" "$tmp/locked/secret.rt" && chmod 000 "$tmp/locked/secret.rt"
  check unreadable-file 255 "$tmp/empty" "$usage_msg" -- \
    "setpriv --reuid=nobody --regid=nogroup --clear-groups $z $tmp/locked/secret.rt"
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
