#!/usr/bin/env bash
# B7: times (median, floor, ratio) and exact wineserver round trips.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ -f "$build/bench/zvwatch/bench_zvwatch.exe" ] || exit 0
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
exe=$build/bench/zvwatch/bench_zvwatch.exe
args=("--module=$(winpath "$build/zvwatch/zvwatch.dll")" "--standin=$(winpath "$build/tools/zvstandin.exe")")
echo "== IE download manager component (under Wine; times are noisy, round trips exact)"
"$build/wine-run" "$exe" "${args[@]}"
"$here/../support/count_round_trips.sh" "$build" "$exe" "${args[@]}" --count | awk '
  { n[$1] = $2 }
  END {
    printf "B7   round trips: ours %d, floor %d (binding, keyboard, settings, look-up, send)\n", n["B7-ours"], n["B7-floor"]
  }'
echo "B7   goal: round trips at the floor; time ratio <= 1.2"
