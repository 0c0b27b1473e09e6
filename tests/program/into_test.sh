#!/usr/bin/env bash
# zorbu --into on a tree of good and bad files, through each recipe of the
# README: every good output exact, every bad file named once with its
# message, nothing partial left, nothing written outside the output folder
# and the input untouched. Then the mode's own edges: usage, no files, a
# folder that cannot be made, an output that would replace its input,
# modes, descriptors, and interruptions.
# Usage: into_test.sh ZORBU CASES_DIR FAULT_SHIM
# With ZORBU_SSH_MACHINES naming a GNU parallel machines file, the
# several-machines recipe runs too.
set -u
zorbu=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cases=$2
shim=$3
tmp=$(mktemp -d) || exit 1
trap 'chmod -R u+rwx "$tmp"; rm -rf "$tmp"' EXIT
passed=0
failed=0

# result NAME WHY: a pass when WHY is empty.
result() {
  if [ -z "$2" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $1: $2"
  fi
}

in=$tmp/in
mkdir -p "$in" "$tmp/want"
good=()
# good PATH CASE: the golden case's input at PATH, to be converted.
good() {
  mkdir -p "$in/$(dirname -- "$1")"
  cp "$cases/$2.rt" "$in/$1"
  good+=("$1")
}
good show/s1/same.rt worked_example
good show/s2/same.rt colours
good "with space.rt" open_time_tags
good $'new\nline.rt' crlf
good -dash/-lead.rt worked_example
good $'\xc3\xa9t\xc3\xa9/\xff.rt' nul_and_high_bytes
for rt in "$cases"/*.rt; do
  name=$(basename "$rt" .rt)
  [ "$(cat "$cases/$name.status")" = 0 ] && good "all/cases/$name.rt" "$name"
done

bad=()
# bad PATH MESSAGE: a file named on standard error with MESSAGE, its
# control bytes already written as \ooo in PATH.
bad() { bad+=("zorbu: $1: $2"); }
mkdir -p "$in/bad" "$in/folder.rt" "$in/trap"
printf 'no window here\n<time/>a\n</window>\n' >"$in/bad/invalid.rt"
cp "$in/bad/invalid.rt" "$in/bad/tab"$'\t'"here.rt"
cp "$in/bad/invalid.rt" "$in/bad/new"$'\n'"line.rt"
cp "$in/bad/invalid.rt" "$in/bad/back\\012slash.rt"
: >"$in/bad/empty.rt"
ln -s "$in/no-such-file" "$in/bad/dangling.rt"
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])' "$in/bad/socket.rt"
cp "$cases/worked_example.rt" "$in/trap/inside.rt"
no_window='error: invalid rt file (no window tag on the first line)'
bad ./bad/invalid.rt "$no_window"
bad './bad/tab\011here.rt' "$no_window"
bad './bad/new\012line.rt' "$no_window"
bad './bad/back\\012slash.rt' "$no_window"
bad ./bad/empty.rt 'error: invalid rt file (the file is empty)'
bad ./bad/dangling.rt 'error: cannot open input: No such file or directory'
bad ./bad/socket.rt 'error: cannot open input: No such device or address'
bad ./trap/inside.rt 'error: path leaves the output folder'
bad ./show/../up.rt 'error: path leaves the output folder'
bad - 'error: standard input has no name'
if [ "$(id -u)" != 0 ]; then
  cp "$cases/worked_example.rt" "$in/bad/locked.rt" && chmod 000 "$in/bad/locked.rt"
  bad ./bad/locked.rt 'error: cannot open input: Permission denied'
fi

for f in "${good[@]}"; do
  mkdir -p "$tmp/want/$(dirname -- "$f")"
  (cd "$in" && "$zorbu" "./$f") >"$tmp/want/$f"
done
printf '%s\n' "${bad[@]}" | sort >"$tmp/err.want"
snapshot() { (cd "$in" && find . -printf '%p %y %s %T@\n' | sort | md5sum); }
before=$(snapshot)

# recipe NAME STATUS COMMAND: runs COMMAND in the input folder with every
# name as find gives it on standard input, into ../out, which holds a stale
# output to be replaced and a link to a folder outside. STATUS is the
# status wanted, or + for any failure.
recipe() {
  local name=$1 want_status=$2 command=$3 why="" status f left
  rm -rf "$tmp/out" "$tmp/outside"
  mkdir -p "$tmp/out/show/s1" "$tmp/outside"
  echo stale >"$tmp/out/show/s1/same.rt"
  ln -s "$tmp/outside" "$tmp/out/trap"
  (cd "$in" && { find . -name '*.rt' -print0; printf '%s\0' ./show/../up.rt -; } |
    bash -c "$command") 2>"$tmp/err"
  status=$?
  case $want_status in
    +) [ "$status" -ge 1 ] && [ "$status" -le 254 ] || why="status $status" ;;
    *) [ "$status" = "$want_status" ] || why="status $status, wanted $want_status" ;;
  esac
  for f in "${good[@]}"; do
    cmp -s "$tmp/out/$f" "$tmp/want/$f" || why="$why; $f differs"
  done
  # GNU parallel warns that -X over ssh may make command lines too long.
  # Each process ends with its count of failures, whose sum is the run's.
  summary='^zorbu: [0-9]+ of [0-9]+ files? failed$'
  grep -v '^parallel: Warning: Using -X or -m with --sshlogin may fail\.$' "$tmp/err" |
    grep -Ev "$summary" | sort | diff "$tmp/err.want" - >"$tmp/err.diff" ||
    why="$why; messages: $(head -c 900 "$tmp/err.diff")"
  failures=$(grep -E "$summary" "$tmp/err" | awk '{ n += $2 } END { print n + 0 }')
  [ "$failures" = ${#bad[@]} ] || why="$why; the summaries count $failures failures"
  # Every good output is there, so anything more is left over.
  left=$(cd "$tmp/out" && find . ! -type d ! -path ./trap -printf x | wc -c)
  [ "$left" = ${#good[@]} ] ||
    why="$why; left in the output: $(cd "$tmp/out" && find . -name '.*' ! -type d)"
  [ -z "$(ls -A "$tmp/outside")" ] || why="$why; written outside: $(ls -A "$tmp/outside")"
  [ "$(snapshot)" = "$before" ] || why="$why; the input tree changed"
  result "$name" "$why"
}

recipe xargs 123 "xargs -0 -n 256 -P\"\$(nproc)\" '$zorbu' --into ../out"
# Small batches, so that several processes share the output folders.
recipe xargs-small-batches 123 "xargs -0 -n 3 -P\"\$(nproc)\" '$zorbu' --into ../out"
if command -v parallel >/dev/null; then
  recipe parallel + "parallel -0 -X '$zorbu' --into ../out"
  if [ -n "${ZORBU_SSH_MACHINES:-}" ]; then
    recipe several-machines + \
      "parallel -0 -X --sshloginfile '$ZORBU_SSH_MACHINES' --workdir \"\$PWD\" '$zorbu' --into ../out"
  else
    echo "skip several-machines: ZORBU_SSH_MACHINES names no machines file"
  fi
else
  echo "skip parallel: GNU parallel is not installed"
fi

# check NAME STATUS STDERR -- COMMAND...: runs COMMAND in $tmp.
check() {
  local name=$1 want_status=$2 want_err=$3 why=""
  shift 4
  (cd "$tmp" && bash -c "$*") >"$tmp/out.txt" 2>"$tmp/err"
  local status=$?
  [ "$status" = "$want_status" ] || why="status $status, wanted $want_status"
  [ "$(cat "$tmp/err")" = "$want_err" ] || why="$why; stderr: $(head -c 300 "$tmp/err")"
  [ ! -s "$tmp/out.txt" ] || why="$why; wrote to standard output"
  result "$name" "$why"
}
z=$(printf '%q' "$zorbu")
check usage 255 'usage: zorbu --into DIR FILE...' -- "$z --into"
check no-files 0 '' -- "$z --into none && [ ! -e none ]"
touch "$tmp/a-file"
# Nothing could be tried, so there is no count of files, which a folder
# among them would have made wrong.
check folder-cannot-be-made 255 \
  'zorbu: a-file/out: error: cannot make output folder: Not a directory' -- \
  "$z --into a-file/out in/show/s1/same.rt in/all"
check replaces-own-input 1 'zorbu: show/s1/same.rt: error: input file is output file
zorbu: 1 of 1 file failed' -- \
  "cd in && $z --into . show/s1/same.rt && echo converted"
[ "$(snapshot)" = "$before" ] || result replaces-own-input "the input changed"
check modes 0 '' -- "umask 027 && $z --into modes/out .//in/show/s1/same.rt &&
  [ \"\$(stat -c %a modes modes/out modes/out/in/show modes/out/in/show/s1/same.rt)\" = \"750
750
750
640\" ]"
# A replaced output keeps its permission bits, but not a set-user bit.
check replaced-modes 0 '' -- "mkdir -p kept/in/show/s1 kept/in/show/s2 &&
  touch kept/in/show/s1/same.rt kept/in/show/s2/same.rt &&
  chmod 600 kept/in/show/s1/same.rt && chmod 4755 kept/in/show/s2/same.rt &&
  $z --into kept in/show/s1/same.rt in/show/s2/same.rt &&
  [ \"\$(stat -c %a kept/in/show/s1/same.rt kept/in/show/s2/same.rt)\" = \"600
755\" ]"
# An output that cannot take its final name leaves no partial file, and
# the message says why.
mkdir -p "$tmp/blocked/in/show/s1/same.rt"
check blocked 1 'zorbu: in/show/s1/same.rt: error: cannot write output: Is a directory
zorbu: 1 of 1 file failed' -- \
  "$z --into blocked in/show/s1/same.rt; status=\$?;
  [ -z \"\$(find blocked -name '.zorbu-partial.*')\" ] || status=99; exit \$status"

# A failed write whose message meets a standard error with no reader
# still removes its partial output, and the run goes on to the next file:
# no SIGPIPE ends it.
mkdir -p "$tmp/nospc"
python3 - "$zorbu" "$shim" "$tmp/nospc" "$in/show/s1/same.rt" "$in/show/s2/same.rt" <<'PY'
import os, subprocess, sys
zorbu, shim, out, first, second = sys.argv[1:]
read_end, write_end = os.pipe()
os.close(read_end)
# Under the sanitizers the shim is loaded after their runtime, which they
# allow here.
env = dict(os.environ, LD_PRELOAD=shim, ZORBU_SHIM_FILE_WRITES_FAIL="1",
           ASAN_OPTIONS="verify_asan_link_order=0")
status = subprocess.run([zorbu, "--into", out, first, second], stderr=write_end,
                        env=env, restore_signals=True).returncode
sys.exit(0 if status == 1 else 10 + (status & 0xff))
PY
status=$?
left=$(find "$tmp/nospc" -name '.zorbu-partial.*')
result sigpipe-on-messages "$([ "$status" = 0 ] || echo "status $status")$left$(
  cmp -s "$tmp/nospc/$in/show/s2/same.rt" "$tmp/want/show/s2/same.rt" || echo "; the second file is not converted")"

# A folder converts the rt files of the tree under it, in any case, as the
# list of them would: not other files, not a folder behind a link, and not
# the output folder inside it, however often the run is repeated.
tree=$tmp/tree
mkdir -p "$tree/in/sub/deep" "$tmp/elsewhere"
cp "$cases/worked_example.rt" "$tree/in/a.rt"
cp "$cases/colours.rt" "$tree/in/sub/B.RT"
cp "$cases/crlf.rt" "$tree/in/sub/deep/c.Rt"
cp "$cases/colours.rt" "$tree/in/notes.txt"
cp "$cases/worked_example.rt" "$tmp/elsewhere/x.rt"
ln -s ../../elsewhere "$tree/in/linked-folder"
ln -s ../../elsewhere "$tree/in/linked-folder.rt"
ln -s ../../elsewhere/x.rt "$tree/in/linked.rt"
(cd "$tree" && "$zorbu" --into listed in/a.rt in/sub/B.RT in/sub/deep/c.Rt in/linked.rt)
why=""
for run in 1 2; do
  (cd "$tree" && "$zorbu" --into in/out in) 2>"$tmp/err" || why="$why; run $run: status $?"
  [ ! -s "$tmp/err" ] || why="$why; run $run: $(head -c 300 "$tmp/err")"
  diff -r "$tree/listed" "$tree/in/out" >/dev/null || why="$why; run $run: not what the list gives"
done
result folder-argument "$why"

# A long run on a terminal shows how far it has got, on one line that each
# message clears first and that the end clears; with standard error a pipe,
# nothing but the messages.
mkdir -p "$tmp/slow"
cp "$cases/worked_example.rt" "$tmp/slow/a.rt"
cp "$in/bad/invalid.rt" "$tmp/slow/bad.rt"
python3 - "$zorbu" "$tmp/slow" <<'PY'
import os, re, subprocess, sys, time
zorbu, folder = sys.argv[1:]
fifo = os.path.join(folder, "fifo.rt")
os.mkfifo(fifo)
status = re.compile(rb"\d of 3 files, \d+\.\d MiB read")
message = b"zorbu: bad.rt: error: invalid rt file (no window tag on the first line)"
for terminal in (True, False):
    # The test holds the FIFO open, so zorbu waits there past a second.
    writer = os.open(fifo, os.O_RDWR)
    if terminal:
        reader, stderr = os.openpty()
    else:
        reader, stderr = os.pipe()
    child = subprocess.Popen([zorbu, "--into", "out", "a.rt", "fifo.rt", "bad.rt"],
                             cwd=folder, stderr=stderr)
    os.close(stderr)
    time.sleep(1.3)
    os.write(writer, b"<window>\n<time/>slow\n</window>\n")
    os.close(writer)
    seen = b""
    while True:
        try:
            piece = os.read(reader, 4096)
        except OSError:  # the terminal's other side has closed
            break
        if not piece:
            break
        seen += piece
    os.close(reader)
    child.wait()
    seen = seen.replace(b"\r\n", b"\n")
    if terminal:
        want = [status.search(seen), b"\r\x1b[K" + message in seen,
                seen.endswith(b"\nzorbu: 1 of 3 files failed\n")]
    else:
        want = [seen == message + b"\nzorbu: 1 of 3 files failed\n"]
    if child.returncode != 1 or not all(want):
        sys.exit("terminal %s: status %d, %r" % (terminal, child.returncode, seen))
PY
result progress "$([ $? = 0 ] || echo "the status line is wrong")"

# SIGINT while the status line stands clears it before the run ends, so
# that the shell's prompt starts a clean line.
python3 - "$zorbu" "$tmp/slow" <<'PY'
import os, re, select, signal, subprocess, sys, time
zorbu, folder = sys.argv[1:]
held = [os.path.join(folder, name) for name in ("held1.rt", "held2.rt")]
writers = []
for fifo in held:
    os.mkfifo(fifo)
    writers.append(os.open(fifo, os.O_RDWR))
reader, stderr = os.openpty()
child = subprocess.Popen([zorbu, "--into", "out-int", "a.rt"] + held, cwd=folder,
                         stderr=stderr,
                         preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
os.close(stderr)
time.sleep(1.2)
os.write(writers[0], b"<window>\n<time/>slow\n</window>\n")
os.close(writers[0])
seen = b""
status = re.compile(rb"2 of 3 files, \d+\.\d MiB read$")
while not status.search(seen) and select.select([reader], [], [], 30)[0]:
    seen += os.read(reader, 4096)
child.send_signal(signal.SIGINT)
while True:
    try:
        piece = os.read(reader, 4096)
    except OSError:
        break
    if not piece:
        break
    seen += piece
child.wait()
os.close(writers[1])
if child.returncode != -signal.SIGINT or not status.search(seen[:-4]) or \
        not seen.endswith(b"\r\x1b[K"):
    sys.exit("status %d, %r" % (child.returncode, seen))
PY
result progress-interrupted "$([ $? = 0 ] || echo "the status line stays after SIGINT")"

# A first line that cannot be read says why.
check first-line-unread 1 'zorbu: in/show/s1/same.rt: error: invalid rt file (cannot read the file: Input/output error)
zorbu: 1 of 1 file failed' -- \
  "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=$(printf '%q' "$shim") ZORBU_SHIM_READ_FAILS_AFTER=0 \
  $z --into unread in/show/s1/same.rt"

# Descriptors stay as many whatever the number of files and folders.
mkdir "$tmp/many"
for i in $(seq 200); do
  mkdir "$tmp/many/$i" && cp "$cases/worked_example.rt" "$tmp/many/$i/f.rt"
done
check descriptors 0 '' -- "ulimit -n 16 && $z --into many-out many/*/f.rt &&
  [ \"\$(find many-out -type f | wc -l)\" = 200 ]"

# SIGTERM in the middle of a file that is still arriving removes its partial
# output. The test holds the FIFO open for writing, so zorbu waits there.
mkfifo "$tmp/slow.rt"
exec 3<>"$tmp/slow.rt"
python3 -c 'import sys; sys.stdout.buffer.write(b"<window>\n" + b"<time/>hello\n" * 3000)' >&3
"$zorbu" --into "$tmp/term" "$tmp/slow.rt" 2>"$tmp/err" &
pid=$!
for _ in $(seq 600); do
  [ -n "$(find "$tmp/term" -name '.zorbu-partial.*' 2>/dev/null)" ] && break
  sleep 0.1
done
kill -TERM "$pid"
wait "$pid"
status=$?
exec 3>&-
result sigterm "$([ "$status" = 143 ] || echo "status $status")$(find "$tmp/term" ! -type d)"

# SIGKILL at any moment leaves every output under its final name whole,
# and at most one partial file.
python3 - "$tmp/kill" <<'PY'
import os, random, sys
rng = random.Random(5)
os.makedirs(sys.argv[1])
for i in range(4):
    with open('%s/%d.rt' % (sys.argv[1], i), 'wb') as f:
        f.write(b'<window><font color="red">\n')
        for n in range(40000):
            f.write(b'<time begin="%d"/>a <b>%d</b> color="navy"\n' % (n, rng.randrange(10**6)))
        f.write(b'</font>\n</window>\n')
PY
for i in 0 1 2 3; do "$zorbu" "$tmp/kill/$i.rt" >"$tmp/kill/$i.out"; done
why=""
for run in $(seq 20); do
  rm -rf "$tmp/killed"
  "$zorbu" --into "$tmp/killed" "$tmp"/kill/[0-3].rt &
  pid=$!
  # A whole run takes about 10 ms when the build is optimized.
  sleep "$(printf '0.%03d' $((RANDOM % 16)))"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  out=$tmp/killed/${tmp#/}/kill
  for i in 0 1 2 3; do
    [ ! -e "$out/$i.rt" ] || cmp -s "$out/$i.rt" "$tmp/kill/$i.out" || why="$why; run $run: $i.rt incomplete"
  done
  partial=$(find "$tmp/killed" -name '.zorbu-partial.*' 2>/dev/null | wc -l)
  [ "$partial" -le 1 ] || why="$why; run $run: $partial partial files"
done
result sigkill "$why"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
