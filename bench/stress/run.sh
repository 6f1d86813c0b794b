#!/usr/bin/env bash
# S1: hand-offs per second and the longest wait, with every host hand-off
# module loaded in its own host process, 250 hand-offs each, at once.
set -euo pipefail
build=$1
exe=$build/tools/zvstress.exe
[ -f "$exe" ] || { echo "== Stress: not built in this build folder (skipped)"; exit 0; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
args=(run "--standin=$(winpath "$build/tools/zvstandin.exe")" "--handler=$(winpath "$build/zvhandler/zvhandler.dll")"
      "--helper=$(winpath "$build/zvhelper/ZVHelper.dll")" "--plugin=$(winpath "$build/npzorvex/NPZorvex.dll")")
[ -f "$build/zvwatch/zvwatch.dll" ] && args+=("--watch=$(winpath "$build/zvwatch/zvwatch.dll")")
echo "== Stress (under Wine; one host process per module, all at once)"
"$build/wine-run" "$exe" "${args[@]}" --count="${ZV_STRESS_COUNT:-250}"
