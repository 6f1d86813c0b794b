#!/usr/bin/env bash
# NP1: times (median, floor, ratio) and exact wineserver round trips.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
exe=$build/bench/npzorvex/bench_npzorvex.exe
if [ ! -f "$exe" ]; then
  echo "== Opera plug-in: not built in this build folder (skipped)"
  exit 0
fi
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
args=("--plugin=$(winpath "$build/npzorvex/NPZorvex.dll")" "--standin=$(winpath "$build/tools/zvstandin.exe")")
echo "== Opera plug-in (under Wine; times are noisy, round trips exact)"
"$build/wine-run" "$exe" "${args[@]}"
"$here/../support/count_round_trips.sh" "$build" "$exe" "${args[@]}" --count | awk '
  { n[$1] = $2 }
  END {
    printf "NP1  round trips: ours %d, floor %d (the hand-off floor and the repaint)\n", n["NP1-ours"], n["NP1-floor"]
  }'
echo "NP1  goal: round trips at the floor; time ratio <= 1.3"
