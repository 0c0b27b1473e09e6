# Sourced by the benchmark scripts: needs COMMAND PACKAGE... ends the script
# with a line that names the Debian package of the first command missing.
needs() {
  while [ $# -ge 2 ]; do
    if ! command -v "$1" >/dev/null; then
      echo "$(basename "$0"): needs $1, from the Debian package $2 (apt-get install $2)" >&2
      exit 1
    fi
    shift 2
  done
}
