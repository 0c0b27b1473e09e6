#!/usr/bin/env bash
# The JavaScript package and the page: builds both WebAssembly modules,
# runs the package's tests against the native program just built, builds
# the page with its development packages from npm, and runs it in Debian's
# Chromium. The page's screenshot goes to build/wasm/zorbu-page.png.
# Usage: tests/js.sh (after cmake --build --preset default)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset wasm >/dev/null
cmake --build --preset wasm >/dev/null
(cd js && ZORBU_NATIVE="$PWD/../build/default/zorbu" node --test test/)
(cd web && npm ci --no-audit --no-fund --loglevel=error && node build.mjs &&
  ZORBU_SCREENSHOT="$PWD/../build/wasm" ZORBU_NATIVE="$PWD/../build/default/zorbu" node --test test/)
