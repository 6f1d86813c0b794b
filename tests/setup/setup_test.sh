#!/usr/bin/env bash
# `dev.sh setup` against a stand-in apt (dpkg-query, dpkg, apt-get and sudo
# shadowed on PATH): a mirror in the middle of a sync, a held lock, a
# package the mirror does not have. Checks what the user sees (exit status,
# the lines printed) and what apt was asked to do.
set -uo pipefail
DEV=${1:?usage: setup_test.sh path/to/dev.sh}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FAKE=$WORK/bin
mkdir -p "$FAKE"

cat >"$FAKE/dpkg-query" <<'SH'
#!/bin/sh
# dpkg-query -W -f='${Status}' PKG
for pkg; do :; done
grep -qxF "$pkg" "$STATE/absent" 2>/dev/null && exit 1
printf 'install ok installed'
SH
cat >"$FAKE/dpkg" <<'SH'
#!/bin/sh
case "$1" in
  --print-foreign-architectures) cat "$STATE/arches" 2>/dev/null ;;
  --add-architecture) echo "$2" >>"$STATE/arches"; echo "dpkg $*" >>"$STATE/calls" ;;
esac
SH
cat >"$FAKE/sudo" <<'SH'
#!/bin/sh
exec "$@"
SH
# Each call takes the next line of $STATE/<verb>.plan; the last line repeats.
cat >"$FAKE/apt-get" <<'SH'
#!/bin/sh
verb=
for a; do case "$a" in -*) ;; *) verb=$a; break ;; esac; done
echo "apt-get $verb" >>"$STATE/calls"
n=$(grep -c "^apt-get $verb\$" "$STATE/calls")
step=$(sed -n "${n}p" "$STATE/$verb.plan")
[ -n "$step" ] || step=$(tail -n1 "$STATE/$verb.plan")
i=0; while [ $i -lt 40 ]; do echo "Get:$i http://deb.debian.org/debian bookworm/main noise"; i=$((i+1)); done
case "$step" in
  ok) ;;
  stale)
    echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (52012 != 52124). Mirror sync in progress? [IP: 1.2.3.4 80]"
    echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
    exit 100 ;;
  offline)
    echo "E: Could not resolve 'deb.debian.org'" ; exit 100 ;;
  lock)
    echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (apt-get)"; exit 100 ;;
  missing:*)
    echo "E: Unable to locate package ${step#missing:}"; exit 100 ;;
esac
if [ "$verb" = install ]; then
  for a; do
    case "$a" in -*|install) ;; *) grep -vxF "$a" "$STATE/absent" >"$STATE/absent.new"; mv "$STATE/absent.new" "$STATE/absent" ;; esac
  done
fi
SH
chmod +x "$FAKE"/*

failures=0
# run_case NAME ABSENT UPDATE_PLAN INSTALL_PLAN -> sets OUT, STATUS
run_case() {
  export STATE=$WORK/$1
  mkdir -p "$STATE"
  : >"$STATE/calls"
  echo i386 >"$STATE/arches"
  printf '%s\n' $2 >"$STATE/absent"
  printf '%s\n' $3 >"$STATE/update.plan"
  printf '%s\n' $4 >"$STATE/install.plan"
  rerun "$1"
}
rerun() {
  STATE=$WORK/$1
  OUT=$(PATH="$FAKE:$PATH" ZV_APT_PAUSE=0 ZV_APT_TRIES=3 ZV_APT_LOG="$STATE/apt.log" \
        STATE=$STATE "$DEV" setup 2>&1)
  STATUS=$?
  printf '%s\n' "$OUT" >"$STATE/out"
}
calls() { grep -c "^apt-get $1\$" "$STATE/calls"; }
expect() {  # NAME WHAT GOT WANT
  if [ "$3" != "$4" ]; then
    echo "FAIL $1: $2: got [$3], want [$4]"
    echo "$OUT" | sed 's/^/    | /'
    failures=$((failures + 1))
  fi
}
expect_match() {  # NAME REGEX
  if ! printf '%s\n' "$OUT" | grep -qE "$2"; then
    echo "FAIL $1: output lacks /$2/"
    echo "$OUT" | sed 's/^/    | /'
    failures=$((failures + 1))
  fi
}

# name | absent packages | update plan | install plan | exit | updates | installs | lines shown | line that must appear
while IFS='|' read -r name absent update install status updates installs lines pattern; do
  [ -n "$name" ] || continue
  run_case "$name" "$absent" "$update" "$install"
  expect "$name" "exit status" "$STATUS" "$status"
  expect "$name" "update calls" "$(calls update)" "$updates"
  expect "$name" "install calls" "$(calls install)" "$installs"
  expect "$name" "lines shown" "$(printf '%s\n' "$OUT" | wc -l)" "$lines"
  expect_match "$name" "$pattern"
done <<'TABLE'
all_present||ok|ok|0|0|0|1|^== setup: all packages present$
stale_i386_index|wine32:i386 libwine-dev|stale|ok|0|3|1|2|stale index ignored: bookworm-security/main/binary-i386/Packages.xz$
mirror_settles|wine32:i386|stale ok|ok|0|2|1|1|^== setup: installing wine32:i386$
offline_but_cached|gawk|offline|ok|0|3|1|2|stale index ignored: apt-get update: E: Could not resolve
lock_held_once|gawk|ok|lock ok|0|1|2|1|^== setup: installing gawk$
package_missing|wine32:i386 gawk|stale|missing:wine32:i386|1|3|3|2|^== setup: FAILED, not installed: wine32:i386 gawk \(Unable to locate package wine32:i386; stale index: bookworm-security/main/binary-i386/Packages.xz\); run './dev.sh setup' again later
TABLE

# Idempotent: once installed, setup asks apt nothing.
run_case again "wine32:i386" "stale ok" "ok"
: >"$STATE/calls"
rerun again
expect again "exit status" "$STATUS" 0
expect again "apt calls on the second run" "$(wc -l <"$STATE/calls")" 0
expect_match again "^== setup: all packages present$"

# The i386 architecture is added once when missing.
run_case add_arch "gawk" "ok" "ok"
: >"$STATE/arches"; : >"$STATE/calls"; printf 'gawk\n' >"$STATE/absent"
rerun add_arch
expect add_arch "dpkg calls" "$(grep -c '^dpkg --add-architecture i386$' "$STATE/calls")" 1

# The full apt output is kept for the user.
STATE=$WORK/package_missing
OUT=$(cat "$STATE/out")
expect_match package_missing "apt output: .*apt.log\)$"
expect package_missing "log holds apt's lines" "$(grep -c 'Unable to locate package' "$STATE/apt.log")" 3

[ $failures -eq 0 ] && echo "setup: all cases passed" || { echo "setup: $failures failures"; exit 1; }
