#!/bin/sh
# Installs the Debian 12 packages that zorbu's build needs, and only those
# that are missing, as root or through sudo:
#   program  a compiler, CMake and Ninja, for the program and the library;
#   tests    those and everything the test suite and CI use: GoogleTest,
#            Debian's python3 with venv, pip and python3-distributed (the
#            Dask recipe), groff and man-db (the manual pages), dpkg-dev,
#            lintian and devscripts (the Debian packages and their
#            dependencies), GNU parallel and OpenSSH (the folder recipes,
#            over ssh too), clang with its sanitizer runtime and clang-tidy
#            (the sanitizer and fuzz builds, the static checks), emscripten,
#            Chromium and Firefox (the WebAssembly modules and the page's
#            tests in two engines), and Node with npm where the machine has
#            none of its own.
# Usage: sh tools/prerequisites.sh program|tests
set -eu
program="g++ cmake ninja-build"
tests="$program make libgtest-dev googletest python3 python3-venv python3-pip
  python3-distributed util-linux time file pkg-config groff-base man-db
  dpkg-dev lintian devscripts parallel openssh-client openssh-server
  clang clang-tidy libclang-rt-14-dev emscripten chromium firefox-esr"
case ${1:-} in
  program) wanted=$program ;;
  tests) wanted=$tests ;;
  *) echo "usage: sh tools/prerequisites.sh program|tests" >&2; exit 2 ;;
esac
missing=""
for package in $wanted; do
  dpkg -s "$package" >/dev/null 2>&1 || missing="$missing $package"
done
# A Node from elsewhere (NodeSource's, say) serves as well as Debian's, and
# Debian's npm would not install beside it.
if [ "$1" = tests ] && ! command -v npm >/dev/null; then
  missing="$missing nodejs npm"
fi
[ -n "$missing" ] || exit 0
if [ "$(id -u)" = 0 ]; then
  as_root=""
elif command -v sudo >/dev/null; then
  as_root=sudo
else
  echo "tools/prerequisites.sh: installing$missing needs root or sudo" >&2
  exit 1
fi
echo "installing$missing"
$as_root apt-get update
# shellcheck disable=SC2086 # one word a package
$as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y \
  --no-install-recommends $missing
