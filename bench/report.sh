#!/usr/bin/env bash
# One table from the benchmarks' own printed lines, for every build:
#   report.sh ARCH=LOG ...
# Time lines:       "<id> <what> ours <t> us floor <t> us ratio <r>" (the
#                   last round counts: earlier ones warm up);
# round-trip lines: "<id> round trips[ per ...]: ours <n>, ... floor <n> ...";
# load lines:       "<id> <what>: <n> hand-offs/s, longest wait <t> ms";
# goal lines:       "<id> goal: <text>".
set -euo pipefail
for pair in "$@"; do
  arch=${pair%%=*}
  sed "s/^/$arch\t/" "${pair#*=}"
done | gawk -F'\t' '
  function key(id, arch) { return id SUBSEP arch }
  {
    arch = $1; line = $2
    if (match(line, /^([A-Z]+[0-9]+) +(.*[^ ]) +ours +([0-9.]+) us +floor +([0-9.]+) us +ratio +([0-9.]+)/, m)) {
      k = key(m[1], arch)
      if (!(m[1] in what)) { what[m[1]] = m[2]; order[++n] = m[1] }
      ours[k] = m[3]; floor[k] = m[4]; ratio[k] = m[5]; arches[arch] = 1
    } else if (match(line, /^([A-Z]+[0-9]+) +(.*[^ ]): ([0-9.]+) hand-offs\/s, longest wait ([0-9.]+) ms/, m)) {
      k = key(m[1], arch)
      if (!(m[1] in what)) { what[m[1]] = m[2]; order[++n] = m[1] }
      ours[k] = m[3] "/s"; note[k] = "longest wait " m[4] " ms"; arches[arch] = 1
    } else if (match(line, /^([A-Z]+[0-9]+) +round trips[^:]*: ours ([0-9.]+)/, m)) {
      k = key(m[1], arch)
      if (!(m[1] in what)) { what[m[1]] = ""; order[++n] = m[1] }
      trips[k] = m[2]; arches[arch] = 1
      if (match(line, /floor ([0-9.]+)/, f)) tripFloor[k] = f[1]
    } else if (match(line, /^([A-Z]+[0-9]+) +goal: (.*)$/, m)) {
      goal[m[1]] = m[2]
    }
  }
  END {
    printf "%-4s %-44s %-7s %10s %10s %6s %13s %-9s %s\n", "", "benchmark", "arch", "ours us", "floor us",
           "ratio", "trips (floor)", "at floor", "goal"
    for (i = 1; i <= n; i++) {
      id = order[i]
      na = asorti(arches, names)
      for (a = 1; a <= na; a++) {
        k = key(id, names[a])
        if (!(k in ours) && !(k in trips)) continue
        t = (k in trips) ? sprintf("%s (%s)", trips[k], tripFloor[k]) : "-"
        at = !(k in trips) ? "-" : (trips[k] + 0 <= tripFloor[k] + 0 ? "yes" : sprintf("+%g", trips[k] - tripFloor[k]))
        printf "%-4s %-44s %-7s %10s %10s %6s %13s %-9s %s\n", id, substr(what[id], 1, 44), names[a],
               (k in ours) ? ours[k] : "-", (k in floor) ? floor[k] : "-", (k in ratio) ? ratio[k] : "-", t, at,
               ((k in note) ? note[k] "; " : "") ((id in goal) ? goal[id] : "")
      }
    }
  }'
