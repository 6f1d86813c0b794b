#!/usr/bin/env bash
# B1 and B2: times (median, floor, ratio) and exact wineserver round trips.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
standin="Z:$(printf '%s' "$build/tools/zvstandin.exe" | tr / '\\')"
exe=$build/bench/core/bench_core.exe
echo "== Hand-off core (under Wine; times are noisy, round trips exact)"
"$build/wine-run" "$exe" "--standin=$standin"
"$here/../support/count_round_trips.sh" "$build" "$exe" "--standin=$standin" --count | awk '
  { n[$1] = $2 }
  END {
    printf "B1   round trips: ours %d, floor %d; each value on its own: %d\n", n["B1-ours"], n["B1-floor"], n["B1-naive"]
    printf "B2   round trips: ours %d, floor %d (lock 4, settings %d, lookup and send %d)\n", n["B2-ours"], n["B2-floor"], n["B2-floor"] - n["B2-bare"] - 4, n["B2-bare"]
  }'
echo "B1   goal: round trips no more than the floor; time ratio <= 1.3"
echo "B2   goal: round trips at the floor; time ratio <= 1.3 (both architectures)"
