#!/usr/bin/env bash
# Runs every benchmark (bench.sh) against each Windows build folder given, then prints
# one table of them all (report.sh) from their own printed lines.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: run.sh BUILD_DIR..." >&2; exit 64; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
pairs=()
for dir in "$@"; do
  build=$(cd "$dir" && pwd)
  arch=$(basename "$build")
  echo "#### $arch"
  for name in core npzorvex stress zvadm zvbridge zvhandler zvhelper zvwatch; do
    "$here/bench.sh" "$name" "$build" 2>&1 | tee -a "$logs/$arch" || echo "$name: FAILED"
  done
  pairs+=("$arch=$logs/$arch")
done
echo
echo "#### All benchmarks (times: the last round's median; round trips: exact, per call)"
"$here/report.sh" "${pairs[@]}"
