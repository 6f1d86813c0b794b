#!/usr/bin/env bash
# Runs every benchmark against one Windows build folder.
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for script in "$here"/*/run.sh; do
  [ -x "$script" ] && "$script" "$build"
done
