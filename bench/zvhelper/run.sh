#!/usr/bin/env bash
# B4: times (median, floor, ratio) and exact wineserver round trips.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exe=$build/bench/zvhelper/bench_zvhelper.exe
if [ ! -f "$exe" ]; then
  echo "== Browser helper object: not built in this build folder (skipped)"
  exit 0
fi
module="Z:$(printf '%s' "$build/zvhelper/ZVHelper.dll" | tr / '\\')"
echo "== Browser helper object (under Wine; times are noisy, round trips exact)"
"$build/wine-run" "$exe" "--module=$module"
"$here/../support/count_round_trips.sh" "$build" "$exe" "--module=$module" --count | awk '
  { n[$1] = $2 }
  END {
    printf "B4   round trips: ours %d, floor %d\n", n["B4-ours"], n["B4-floor"]
  }'
echo "B4   goal: round trips equal to the floor; time ratio <= 1.3"
