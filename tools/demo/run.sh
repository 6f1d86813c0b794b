#!/usr/bin/env bash
# The end-to-end demo under Wine: each part in parts/ runs in order against
# one build folder and prints what the stand-in download manager received.
set -euo pipefail
export ZV_DEMO_BUILD=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
export ZV_DEMO_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# shellcheck source=lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
status=0
for part in "$(dirname "${BASH_SOURCE[0]}")"/parts/*.sh; do
  bash "$part" || { echo "demo part $(basename "$part") FAILED"; status=1; }
done
exit $status
