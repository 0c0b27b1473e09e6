#!/usr/bin/env bash
# The JavaScript package against the native library, in one run, each
# measure pinned to one core (taskset -c 1) and the measures taken in turn,
# RUNS times (5 unless given): on each 64 MiB input of make_inputs.py,
#   (a) the kernels alone on both sides: zorbu_push over input in memory,
#       1 MiB at a time, nothing copied out (wasm ÷ native SSE2, the same
#       16-byte width);
#   (b) ConvertStream, written 1 MiB at a time, and 64 KiB;
#   (c) ConvertByteStream read by a BYOB reader with a 1 MiB buffer, the
#       same;
#   (d) the same conversion as the package does it, in C (bench/
#       stream_driver.c): each write copied in 1 MiB at a time, pushed into
#       a 512 KiB room, each piece of output copied into a fresh block.
# It prints input MiB per second of wall and of user+sys time, best and
# median, the ratios of (a), (b) ÷ (d) and (c) ÷ (d); then the modules'
# gzip'd sizes, the packed tarball's, and the module's memory after a 1 GiB
# stream; lscpu's model and flags and Node's version.
# Needs node, python3, cc and both builds (cmake --build --preset default,
# cmake --build --preset wasm).
# Usage: bench/js.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/needs.sh
needs node nodejs python3 python3 cc gcc taskset util-linux
runs=${1:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 bench/make_inputs.py "$work" 64 >/dev/null
cc -O2 -Iinclude -o "$work/stream_driver" bench/stream_driver.c build/default/libzorbu.a -lstdc++ -lm
echo "CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1);" \
  "flags: $(grep -o -w 'sse2\|avx2\|avx512f\|avx512bw\|avx512vbmi\|bmi2\|popcnt' /proc/cpuinfo | sort -u | tr '\n' ' ')"
echo "node $(node --version); runs: $runs, pinned, in turn"

# Prints one measure's JSON: {wall, cpu, bytes}.
measure() {
  local what=$1 input=$2 write=$3
  case $what in
    native-kernels) ZORBU_PUSH=1048576 taskset -c 1 "$work/stream_driver" sse2 "$input" ;;
    native-stream) ZORBU_WRITE=$write taskset -c 1 "$work/stream_driver" sse2 "$input" ;;
    wasm-kernels) taskset -c 1 node bench/js_stream.mjs wasm kernels "$input" ;;
    wasm-stream) ZORBU_WRITE=$write taskset -c 1 node bench/js_stream.mjs wasm stream "$input" ;;
    wasm-bytes) ZORBU_WRITE=$write taskset -c 1 node bench/js_stream.mjs wasm bytes "$input" ;;
  esac
}

results=$work/results.jsonl
for input in caption untagged dense; do
  for write in 1048576 65536; do
    whats=(native-stream wasm-stream wasm-bytes)
    [ "$write" = 1048576 ] && whats+=(native-kernels wasm-kernels)
    for run in $(seq "$runs"); do
      # A different one goes first each run.
      for i in "${!whats[@]}"; do
        what=${whats[$(((i + run) % ${#whats[@]}))]}
        measure "$what" "$work/$input.rt" "$write" |
          python3 -c 'import json, sys; d = json.load(sys.stdin); d.update(input=sys.argv[1], write=int(sys.argv[2]), what=sys.argv[3]); print(json.dumps(d))' \
            "$input" "$write" "$what" >>"$results"
      done
    done
  done
done

python3 - "$results" <<'PY'
import json, statistics, sys
rows = [json.loads(line) for line in open(sys.argv[1])]
def rates(input, write, what, key):
    return [r["bytes"] / 2**20 / r[key] for r in rows
            if r["input"] == input and r["write"] == write and r["what"] == what]
def cell(input, write, what):
    w, c = rates(input, write, what, "wall"), rates(input, write, what, "cpu")
    return "%5.0f %5.0f / %5.0f %5.0f" % (max(w), statistics.median(w), max(c), statistics.median(c))
def ratio(input, write, a, b, key):
    return statistics.median(rates(input, write, a, key)) / statistics.median(rates(input, write, b, key))
print("\nMiB/s, best and median, of wall / of user+sys time")
print("%-9s %-7s %-16s %s" % ("input", "writes", "measure", "wall best med / cpu best med"))
for input in ("caption", "untagged", "dense"):
    for write in (1048576, 65536):
        for what in ("native-kernels", "wasm-kernels", "native-stream", "wasm-stream", "wasm-bytes"):
            if rates(input, write, what, "wall"):
                print("%-9s %-7s %-16s %s" % (input, "1 MiB" if write > 65536 else "64 KiB", what, cell(input, write, what)))
print("\nratios of medians (wall, user+sys)")
print("%-9s %-7s %-22s %-22s %-22s" % ("input", "writes", "(a) wasm÷native kernels", "(b) ConvertStream÷(d)", "(c) byte stream÷(d)"))
for input in ("caption", "untagged", "dense"):
    for write in (1048576, 65536):
        a = "%.2f, %.2f" % tuple(ratio(input, 1048576, "wasm-kernels", "native-kernels", k) for k in ("wall", "cpu"))
        b = "%.2f, %.2f" % tuple(ratio(input, write, "wasm-stream", "native-stream", k) for k in ("wall", "cpu"))
        c = "%.2f, %.2f" % tuple(ratio(input, write, "wasm-bytes", "native-stream", k) for k in ("wall", "cpu"))
        print("%-9s %-7s %-22s %-22s %-22s" % (input, "1 MiB" if write > 65536 else "64 KiB", a if write > 65536 else "", b, c))
PY

echo
echo "zorbu.wasm gzip'd: $(gzip -9c js/wasm/zorbu.wasm | wc -c) bytes;" \
  "zorbu-portable.wasm: $(gzip -9c js/wasm/zorbu-portable.wasm | wc -c) bytes"
(cd "$work" && npm pack --silent "$OLDPWD/js" >/dev/null && echo "packed tarball: $(wc -c <zorbu-*.tgz) bytes")
echo "module memory after 1 GiB through ConvertStream:" \
  "$(node bench/js_stream.mjs wasm stream --generate 1024 | python3 -c 'import json, sys; print(json.load(sys.stdin)["memory"])') bytes"
