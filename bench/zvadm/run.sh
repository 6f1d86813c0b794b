#!/usr/bin/env bash
# B5 and B6: times (median, floor, ratio) and, for B6, exact wineserver
# round trips per registry write.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
helper="Z:$(printf '%s' "$build/zvadm/zvadm.exe" | tr / '\\')"
exe=$build/bench/zvadm/bench_zvadm.exe
echo "== Administrative helper (under Wine; times are noisy, round trips exact)"
"$build/wine-run" "$exe" "--helper=$helper"

counted=$("$here/../support/count_round_trips.sh" "$build" "$exe" "--helper=$helper" --count)
floor=$(awk '$1 == "B6-floor" { print $2 }' <<<"$counted")
awk '{ n[$1] = $2 } END { printf "B5   round trips: ours %d, floor %d\n", n["B5-ours"], n["B5-floor"] }' <<<"$counted"
echo "B5   goal: no round trips (the floor's 0); time ratio <= 3 into fresh memory (both architectures)"

# The helper is a process of its own: count every request of a whole run
# with 1,000 writes and with none; the difference is what the writes cost.
requests() {
  export WINEPREFIX="$build/wineprefix"
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  { ZV_WINEDEBUG=+server "$build/wine-run" "$exe" "--helper=$helper" "--run-helper=$1" >/dev/null; wineserver -k; } 2>&1 |
    awk '/^[0-9a-f]+: [a-z_0-9]+\( / { split($2, r, "("); n[r[1]]++ } END { for (k in n) print k, n[k] }' | sort
}
none=$(requests 0)
some=$(requests 1000)
join -a1 -a2 -e0 -o 0,1.2,2.2 <(echo "$none") <(echo "$some") | awk -v floor="$floor" '
  { all0 += $2; all1 += $3; if ($3 != $2) diff = diff sprintf(" %s %+d", $1, $3 - $2) }
  END {
    printf "B6   round trips per write: ours %.2f (whole runs: %d with 1,000 writes, %d with none), floor %.2f (%d for 10,000)\n",
           (all1 - all0) / 1000, all1, all0, floor / 10000, floor
    printf "       requests that differ:%s\n", diff
  }'
echo "B6   goal: round trips per write equal to the floor; time ratio <= 1.2"
