#!/usr/bin/env bash
# Converts a folder through examples/zorbu-into, once with xargs and once
# with GNU parallel on this machine: among the good files stand an invalid
# one, a dangling link, an empty file and a file named like an option.
# Every good file's output must be exact, every bad one named, nothing
# partial or empty left behind, and the batch must end non-zero.
# Usage: batch_test.sh ZORBU CASES_DIR INTO_SCRIPT
set -u
zorbu=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
cases=$2
into=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
passed=0
failed=0

mkdir "$tmp/in"
good=()
for rt in "$cases"/*.rt; do
  [ "$(cat "${rt%.rt}.status")" = 0 ] || continue
  cp "$rt" "$tmp/in/"
  good+=("$(basename "$rt")")
done
cp "$cases/worked_example.rt" "$tmp/in/--help.rt"
good+=("--help.rt")
printf 'no window here\n<time/>a\n</window>\n' >"$tmp/in/invalid.rt"
: >"$tmp/in/empty.rt"
ln -s "$tmp/in/no-such-file.rt" "$tmp/in/dangling.rt"
bad=(invalid.rt empty.rt dangling.rt)

# run NAME COMMAND: runs COMMAND from $tmp/in, into a fresh $tmp/out.
run() {
  local name=$1 command=$2 why=""
  rm -rf "$tmp/out" && mkdir "$tmp/out"
  (cd "$tmp/in" && ZORBU=$zorbu bash -c "$command") 2>"$tmp/err"
  local status=$?
  [ "$status" != 0 ] || why="status 0 despite bad files"
  for f in "${good[@]}"; do
    local want=$cases/${f%.rt}.out
    [ "$f" = --help.rt ] && want=$cases/worked_example.out
    cmp -s "$tmp/out/$f" "$want" || why="$why; $f differs"
  done
  for f in "${bad[@]}"; do
    grep -q "^zorbu-into: $f: " "$tmp/err" || why="$why; $f not named"
  done
  local left
  left=$(cd "$tmp/out" && ls -A | grep -vxF -f <(printf '%s\n' "${good[@]}"))
  [ -z "$left" ] || why="$why; left behind: $left"
  [ "$(wc -l <"$tmp/err")" = ${#bad[@]} ] || why="$why; stderr: $(head -c 300 "$tmp/err")"
  if [ -z "$why" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL $name: $why"
  fi
}

run xargs "printf '%s\\0' *.rt | xargs -0 -n1 -P\"\$(nproc)\" sh '$into' '$tmp/out'"
if command -v parallel >/dev/null; then
  run parallel "parallel -S : sh '$into' '$tmp/out' ::: *.rt"
else
  echo "skip parallel: GNU parallel is not installed"
fi

# Its own usage, and an output that would replace its input.
sh "$into" "$tmp/in" 2>"$tmp/err"
if [ "$?" = 2 ] && [ "$(cat "$tmp/err")" = "usage: zorbu-into OUTDIR FILE..." ]; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAIL usage: $(cat "$tmp/err")"
fi
cp "$tmp/in/colours.rt" "$tmp/before"
(cd "$tmp/in" && ZORBU=$zorbu sh "$into" . colours.rt) 2>"$tmp/err"
if [ "$?" = 1 ] && cmp -s "$tmp/in/colours.rt" "$tmp/before" && grep -q 'colours.rt' "$tmp/err"; then
  passed=$((passed + 1))
else
  failed=$((failed + 1))
  echo "FAIL in-place: $(cat "$tmp/err")"
fi

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
