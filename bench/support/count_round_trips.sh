#!/bin/sh
# count_round_trips.sh BUILD_DIR PROGRAM [ARGS...]
# Runs the program under Wine's +server trace and prints, for each section
# the program marked with zvbench::MarkBegin/MarkEnd, its label and the
# number of wineserver requests its thread made in between.
#
# The trace is written by the wineserver itself, so the prefix's server is
# restarted for the run with the trace on, and ended after it.
build=$1
shift
export WINEPREFIX="$build/wineprefix"
wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
{ ZV_WINEDEBUG=+server "$build/wine-run" "$@" >/dev/null; wineserver -k; } 2>&1 | awk '
  /^[0-9a-f]+: open_event\( .*name=L"ZVBENCH-BEGIN-[^"]*"/ {
    tid = substr($0, 1, index($0, ":") - 1)
    label = $0; sub(/.*ZVBENCH-BEGIN-/, "", label); sub(/".*/, "", label)
    active[tid] = label; count[tid] = 0
    next
  }
  /^[0-9a-f]+: open_event\( .*name=L"ZVBENCH-END-[^"]*"/ {
    tid = substr($0, 1, index($0, ":") - 1)
    if (tid in active) { print active[tid], count[tid]; delete active[tid] }
    next
  }
  /^[0-9a-f]+: [a-z_0-9]+\( / {
    tid = substr($0, 1, index($0, ":") - 1)
    if (tid in active) count[tid]++
  }
'
