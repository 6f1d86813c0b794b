#!/usr/bin/env bash
# bench.sh NAME BUILD_DIR: one benchmark against one Windows build folder.
# NAME is a benchmark folder: core, npzorvex, stress, zvadm, zvbridge,
# zvhandler, zvhelper or zvwatch. Each prints its times (median, floor,
# ratio) and exact wineserver round trips against the floor, then its goal;
# report.sh reads those lines.
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: bench.sh NAME BUILD_DIR" >&2; exit 64; }
name=$1
build=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# A benchmark whose program was not built in this folder is skipped, with
# the line TITLE gives (none when empty).
built() {
  [ -f "$1" ] && return 0
  [ -z "$2" ] || echo "== $2: not built in this build folder (skipped)"
  exit 0
}

# timed TITLE PROGRAM ARGS...: the program's own timing lines, then its
# sections' round trips as "<label> <count>" lines in COUNTS.
COUNTS=
timed() {
  local title=$1
  shift
  echo "== $title (under Wine; times are noisy, round trips exact)"
  "$build/wine-run" "$@"
  COUNTS=$("$here/support/count_round_trips.sh" "$build" "$@" --count)
}

# trips 'printf ...': one line from the counts, each label's as n["<label>"].
trips() {
  awk "{ n[\$1] = \$2 } END { $1 }" <<<"$COUNTS"
}

bench_core() {
  local exe=$build/bench/core/bench_core.exe
  timed "Hand-off core" "$exe" "--standin=$(winpath "$build/tools/zvstandin.exe")"
  trips 'printf "B1   round trips: ours %d, floor %d; each value on its own: %d\n", n["B1-ours"], n["B1-floor"], n["B1-naive"]
         printf "B2   round trips: ours %d, floor %d (lock 4, settings %d, lookup and send %d)\n", n["B2-ours"], n["B2-floor"], n["B2-floor"] - n["B2-bare"] - 4, n["B2-bare"]'
  echo "B1   goal: round trips no more than the floor; time ratio <= 1.3"
  echo "B2   goal: round trips at the floor; time ratio <= 1.3 (both architectures)"
}

# section ID TITLE SKIPPED NOTE GOAL PROGRAM ARGS...: a benchmark of one
# section against its floor. SKIPPED is the line for a folder without the
# program; NOTE follows the round-trip figures.
section() {
  local id=$1 title=$2 skipped=$3 note=$4 goal=$5 exe=$6
  shift 6
  built "$exe" "$skipped"
  timed "$title" "$exe" "$@"
  awk -v id="$id" -v note="$note" '{ n[$1] = $2 }
    END { printf "%-5sround trips: ours %d, floor %d%s\n", id, n[id "-ours"], n[id "-floor"], note }' <<<"$COUNTS"
  printf '%-5sgoal: %s\n' "$id" "$goal"
}

bench_npzorvex() {
  section NP1 "Opera plug-in" "Opera plug-in" " (the hand-off floor and the repaint)" \
    "round trips at the floor; time ratio <= 1.3" "$build/bench/npzorvex/bench_npzorvex.exe" \
    "--plugin=$(winpath "$build/npzorvex/NPZorvex.dll")" "--standin=$(winpath "$build/tools/zvstandin.exe")"
}

bench_zvhandler() {
  section B3 "Protocol handler" "Protocol handler" "" "round trips equal to the floor; time ratio <= 1.3" \
    "$build/bench/zvhandler/bench_zvhandler.exe" "--module=$(winpath "$build/zvhandler/zvhandler.dll")"
}

bench_zvhelper() {
  section B4 "Browser helper object" "Browser helper object" "" "round trips equal to the floor; time ratio <= 1.3" \
    "$build/bench/zvhelper/bench_zvhelper.exe" "--module=$(winpath "$build/zvhelper/ZVHelper.dll")"
}

bench_zvwatch() {
  section B7 "IE download manager component" "" " (binding, keyboard, settings, look-up, send)" \
    "round trips at the floor; time ratio <= 1.2" "$build/bench/zvwatch/bench_zvwatch.exe" \
    "--module=$(winpath "$build/zvwatch/zvwatch.dll")" "--standin=$(winpath "$build/tools/zvstandin.exe")"
}

# B5 and B6: B6's round trips per registry write come from whole runs of the
# helper, a process of its own.
bench_zvadm() {
  local exe=$build/bench/zvadm/bench_zvadm.exe helper
  helper=$(winpath "$build/zvadm/zvadm.exe")
  timed "Administrative helper" "$exe" "--helper=$helper"
  local floor
  floor=$(awk '$1 == "B6-floor" { print $2 }' <<<"$COUNTS")
  trips 'printf "B5   round trips: ours %d, floor %d\n", n["B5-ours"], n["B5-floor"]'
  echo "B5   goal: no round trips (the floor's 0); time ratio <= 3 into fresh memory (both architectures)"

  # Every request of a whole run with 1,000 writes and with none; the
  # difference is what the writes cost.
  requests() {
    export WINEPREFIX="$build/wineprefix"
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    { ZV_WINEDEBUG=+server "$build/wine-run" "$exe" "--helper=$helper" "--run-helper=$1" >/dev/null; wineserver -k; } 2>&1 |
      awk '/^[0-9a-f]+: [a-z_0-9]+\( / { split($2, r, "("); n[r[1]]++ } END { for (k in n) print k, n[k] }' | sort
  }
  local none some
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
}

# B8: the browser extension's round trip through the host, in real Chromium.
bench_zvbridge() {
  [ -f "$build/zvbridge/zvbridge.exe" ] && [ -f "$build/webext/chromium/manifest.json" ] || exit 0
  command -v chromium >/dev/null || { echo "== B8 skipped: chromium is not installed"; exit 0; }
  echo "== Native-messaging host in headless Chromium (under Wine; times are noisy)"
  python3 "$here/zvbridge/b8.py" "$build" "${ZV_B8_COUNT:-200}"
}

# S1: hand-offs per second and the longest wait, with every host hand-off
# module loaded in its own host process, 250 hand-offs each, at once.
# S2: 10,000 hand-offs (and Download calls) in each host process: handles
# and private bytes between the first and the last thousand.
bench_stress() {
  local exe=$build/tools/zvstress.exe
  built "$exe" "Stress"
  local args=(run "--standin=$(winpath "$build/tools/zvstandin.exe")" "--handler=$(winpath "$build/zvhandler/zvhandler.dll")"
              "--helper=$(winpath "$build/zvhelper/ZVHelper.dll")" "--plugin=$(winpath "$build/npzorvex/NPZorvex.dll")")
  [ -f "$build/zorvex/Zorvex.dll" ] && args+=("--navigator=$(winpath "$build/zorvex/Zorvex.dll")")
  [ -f "$build/zvwatch/zvwatch.dll" ] && args+=("--watch=$(winpath "$build/zvwatch/zvwatch.dll")")
  echo "== Stress (under Wine; one host process per module, all at once)"
  "$build/wine-run" "$exe" "${args[@]}" --count="${ZV_STRESS_COUNT:-250}"
  echo "S1   goal: every text once, byte-exact, under the lock; no hang"
  echo "== Leaks (under Wine; ${ZV_LEAK_COUNT:-10000} hand-offs in each host process)"
  "$build/wine-run" "$exe" "${args[@]}" --count="${ZV_LEAK_COUNT:-10000}" | sed 's/^S1 /S2 /'
  echo "S2   goal: no handle more, under a page per hundred calls (beyond the bare bindings' own)"
}

case "$name" in
  core | npzorvex | stress | zvadm | zvbridge | zvhandler | zvhelper | zvwatch) "bench_$name" ;;
  *) echo "bench.sh: no benchmark named $name" >&2; exit 64 ;;
esac
