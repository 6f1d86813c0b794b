#!/usr/bin/env bash
# S1: hand-offs per second and the longest wait, with every host hand-off
# module loaded in its own host process, 250 hand-offs each, at once.
# S2: 10,000 hand-offs (and Download calls) in each host process: handles
# and private bytes between the first and the last thousand.
set -euo pipefail
build=$1
exe=$build/tools/zvstress.exe
[ -f "$exe" ] || { echo "== Stress: not built in this build folder (skipped)"; exit 0; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
args=(run "--standin=$(winpath "$build/tools/zvstandin.exe")" "--handler=$(winpath "$build/zvhandler/zvhandler.dll")"
      "--helper=$(winpath "$build/zvhelper/ZVHelper.dll")" "--plugin=$(winpath "$build/npzorvex/NPZorvex.dll")")
[ -f "$build/zorvex/Zorvex.dll" ] && args+=("--navigator=$(winpath "$build/zorvex/Zorvex.dll")")
[ -f "$build/zvwatch/zvwatch.dll" ] && args+=("--watch=$(winpath "$build/zvwatch/zvwatch.dll")")
echo "== Stress (under Wine; one host process per module, all at once)"
"$build/wine-run" "$exe" "${args[@]}" --count="${ZV_STRESS_COUNT:-250}"
echo "S1   goal: every text once, byte-exact, under the lock; no hang"
echo "== Leaks (under Wine; ${ZV_LEAK_COUNT:-10000} hand-offs in each host process)"
"$build/wine-run" "$exe" "${args[@]}" --count="${ZV_LEAK_COUNT:-10000}" | sed 's/^S1 /S2 /'
echo "S2   goal: no handle more, under a page per hundred calls (beyond the bare bindings' own)"
