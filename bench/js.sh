#!/usr/bin/env bash
# The JavaScript package against the native library, side by side in one
# run: each 64 MiB input of make_inputs.py through ConvertStream on the wasm
# and the portable module, in 1 MiB reads, the second pass of a process (the
# first is also printed, as "cold"), and through the native pull driver on
# the SSE2 set (the same width, two 16-byte halves), input MiB/s, best of
# RUNS, alternating; the
# modules' gzip'd sizes and the packed tarball's; the module's memory after
# a 1 GiB stream.
# Needs node, python3 and a build of both (cmake --build --preset default,
# cmake --build --preset wasm).
# Usage: bench/js.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/.."
. bench/needs.sh
needs node nodejs python3 python3
runs=${1:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 bench/make_inputs.py "$work" 64
echo "CPU: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1); node $(node --version)"

native() {
  local start end
  start=$(date +%s%N)
  build/default/tests/case_driver sse2 "$1" >/dev/null
  end=$(date +%s%N)
  python3 -c "import os, sys; print(os.path.getsize(sys.argv[1]) / 2**20 / ((int(sys.argv[3]) - int(sys.argv[2])) / 1e9))" \
    "$1" "$start" "$end"
}
js() { node bench/js_stream.mjs "$1" "$2" | python3 -c 'import json, sys; d = json.load(sys.stdin); print(d["mibPerSecond"], d["coldMibPerSecond"])'; }

printf '%-10s %12s %12s %12s %12s %8s %8s\n' input "native sse2" wasm "wasm cold" portable "w÷sse2" "w÷port"
for input in caption untagged dense; do
  natives=() wasms=() colds=() portables=()
  for _ in $(seq "$runs"); do
    natives+=("$(native "$work/$input.rt")")
    read -r warm cold < <(js wasm "$work/$input.rt")
    wasms+=("$warm") colds+=("$cold")
    read -r warm cold < <(js portable "$work/$input.rt")
    portables+=("$warm")
  done
  python3 - "$input" "${natives[*]}" "${wasms[*]}" "${colds[*]}" "${portables[*]}" <<'PY'
import sys
name, *runs = sys.argv[1:]
n, w, c, p = (max(map(float, r.split())) for r in runs)
print("%-10s %12.0f %12.0f %12.0f %12.0f %8.2f %8.2f" % (name, n, w, c, p, w / n, w / p))
PY
done

echo
echo "zorbu.wasm gzip'd: $(gzip -9c js/wasm/zorbu.wasm | wc -c) bytes;" \
  "zorbu-portable.wasm: $(gzip -9c js/wasm/zorbu-portable.wasm | wc -c) bytes"
(cd "$work" && npm pack --silent "$OLDPWD/js" >/dev/null && echo "packed tarball: $(wc -c <zorbu-*.tgz) bytes")
echo "module memory after 1 GiB through ConvertStream:" \
  "$(node bench/js_stream.mjs wasm --generate 1024 | python3 -c 'import json, sys; print(json.load(sys.stdin)["memory"])') bytes"
