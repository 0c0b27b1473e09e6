#!/usr/bin/env bash
# zorbu for Python installed as a new user would: from a clean clone of
# REPO (or a clean copy of a tree that is no clone), offline, as a user without root (nobody, when run as root), into a
# plain venv of Debian's python3, on a system with no libzorbu; then a
# wheel from pip wheel, installed into a second venv. Each imports its own
# copy of the library and converts a file; pip says nothing is deprecated.
# Usage: python_install.sh REPO
set -euo pipefail
repo=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A clone is cloned; a tree unpacked from a tarball is copied without what
# its .gitignore leaves out, a build among them.
if [ -d "$repo/.git" ]; then
  git clone -q "$repo" "$work/zorbu"
else
  mkdir "$work/zorbu"
  tar -C "$repo" --exclude-vcs-ignores -cf - . | tar -C "$work/zorbu" -xf -
fi
as_user() { "$@"; }
if [ "$(id -u)" = 0 ]; then
  chown -R nobody:nogroup "$work"
  as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups env HOME="$work" "$@"; }
fi
export PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1
unset PYTHONDONTWRITEBYTECODE ZORBU_LIBRARY PYTHONPATH

converts() {
  (cd / && as_user "$1/bin/python" -c '
import sys, zorbu
from zorbu._library import _lib
assert _lib._name.startswith(sys.prefix), _lib._name
assert zorbu.convert(b"<window>\n<time/>a\n</window>\n") == b"<window>\n<time>a\n</time></window>\n"
print("zorbu", zorbu.__version__, "on its own", _lib._name)')
}

cd "$work/zorbu"
as_user /usr/bin/python3 -m venv "$work/venv"
as_user "$work/venv/bin/pip" install --no-build-isolation ./python 2>&1 | tee "$work/pip.log"
converts "$work/venv"
as_user "$work/venv/bin/pip" wheel --no-build-isolation -w "$work/wheels" ./python 2>&1 |
  tee -a "$work/pip.log"
as_user /usr/bin/python3 -m venv "$work/venv2"
as_user "$work/venv2/bin/pip" install "$work"/wheels/zorbu-*.whl 2>&1 | tee -a "$work/pip.log"
converts "$work/venv2"
if grep -i deprecat "$work/pip.log"; then
  echo "pip warned of something deprecated"
  exit 1
fi
