#!/usr/bin/env bash
# B3: times (median, floor, ratio) and exact wineserver round trips.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exe=$build/bench/zvhandler/bench_zvhandler.exe
if [ ! -f "$exe" ]; then
  echo "== Protocol handler: not built in this build folder (skipped)"
  exit 0
fi
module="Z:$(printf '%s' "$build/zvhandler/zvhandler.dll" | tr / '\\')"
echo "== Protocol handler (under Wine; times are noisy, round trips exact)"
"$build/wine-run" "$exe" "--module=$module"
"$here/../support/count_round_trips.sh" "$build" "$exe" "--module=$module" --count | awk '
  { n[$1] = $2 }
  END {
    printf "B3   round trips: ours %d, floor %d\n", n["B3-ours"], n["B3-floor"]
  }'
echo "B3   goal: round trips equal to the floor; time ratio <= 1.3"
