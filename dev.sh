#!/usr/bin/env bash
# One entry point for setting up, building, testing, benchmarking and the demo.
#   ./dev.sh setup          install everything needed (Debian, as root; idempotent)
#   ./dev.sh build [name..] configure and build native, i686 and x86_64 (or those named)
#   ./dev.sh test [args]    setup, build, run every test (args go to ctest)
#   ./dev.sh demo           setup, build, run the end-to-end demo under Wine
#   ./dev.sh bench          setup, build, run the benchmarks
#   ./dev.sh dist           setup, build, pack one ZIP per Windows architecture
#   ./dev.sh fuzz           setup, build, run every fuzz target longer
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BUILD=${ZV_BUILD_ROOT:-$ROOT/build}
WINDOWS_ARCHES=(i686 x86_64)
JOBS=${ZV_JOBS:-2}

PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev googletest
          mingw-w64 mingw-w64-tools libwine-dev wine wine32:i386 wine64
          util-linux gawk nlohmann-json3-dev python3 chromium firefox-esr)

log() { printf '== %s\n' "$*" >&2; }

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing_packages() {
  local pkg missing=()
  for pkg in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  printf '%s\n' "${missing[@]}"
}

# apt against a mirror in the middle of a sync fails on single indexes for a
# while: retry with a pause, install from whatever lists arrived, and say in
# one line what is still missing instead of showing apt's whole output.
APT_TRIES=${ZV_APT_TRIES:-3}
APT_PAUSE=${ZV_APT_PAUSE:-30}
APT_LOG=${ZV_APT_LOG:-${TMPDIR:-/tmp}/zv-setup-apt.log}

# Runs apt-get with its output appended to APT_LOG; the attempt's output is
# also left in APT_LAST.
APT_LAST=
apt_quiet() {
  local out status=0
  out=$(as_root env DEBIAN_FRONTEND=noninteractive apt-get -q "$@" 2>&1) || status=$?
  printf '%s\n' "== apt-get $* (exit $status)" "$out" >>"$APT_LOG"
  APT_LAST=$out
  return $status
}

# The indexes the last update could not fetch, e.g.
# "bookworm-security/main/binary-i386/Packages.xz".
failed_indexes() {
  printf '%s\n' "$APT_LAST" | sed -n 's#^[EW]: Failed to fetch [^ ]*/dists/\([^ ]*\).*#\1#p' | sort -u | tr '\n' ' ' | sed 's/ $//'
}

apt_update() {
  local try
  for ((try = 1; try <= APT_TRIES; try++)); do
    apt_quiet update && return 0
    [ "$try" -lt "$APT_TRIES" ] && sleep "$APT_PAUSE"
  done
  return 1
}

apt_install() {
  local try
  for ((try = 1; try <= APT_TRIES; try++)); do
    # shellcheck disable=SC2086
    apt_quiet install -y --no-install-recommends "$@" && return 0
    [ "$try" -lt "$APT_TRIES" ] && sleep "$APT_PAUSE"
  done
  return 1
}

cmd_setup() {
  local missing stale=""
  missing=$(missing_packages)
  if [ -z "$missing" ]; then
    log "setup: all packages present"
    return
  fi
  log "setup: installing $(echo $missing)"
  : >"$APT_LOG"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  # An index that stays stale does not stop the install: the packages may
  # well come from the lists that did arrive (or from older ones).
  if ! apt_update; then
    stale=$(failed_indexes)
    [ -n "$stale" ] || stale="apt-get update: $(printf '%s\n' "$APT_LAST" | grep -m1 '^E:' || echo failed)"
  fi
  # shellcheck disable=SC2086
  if apt_install $missing; then
    [ -z "$stale" ] || log "setup: installed; stale index ignored: $stale"
    return 0
  fi
  local reason
  reason=$(printf '%s\n' "$APT_LAST" | grep -m1 '^E:' | sed 's/^E: //')
  log "setup: FAILED, not installed: $(echo $(missing_packages)) (${reason:-apt-get install failed}${stale:+; stale index: $stale}); run './dev.sh setup' again later (apt output: $APT_LOG)"
  return 1
}

# Each build is a configure preset of CMakePresets.json of the same name.
BUILDS=(native "${WINDOWS_ARCHES[@]}")

configure() {
  local name=$1 dir=$BUILD/$1
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" --preset "$name" -B "$dir" >/dev/null
  fi
}

configure_all() {
  local name
  for name in "${BUILDS[@]}"; do
    configure "$name"
  done
}

cmd_build() {
  local name names=("$@")
  [ ${#names[@]} -gt 0 ] || names=("${BUILDS[@]}")
  for name in "${names[@]}"; do
    [[ " ${BUILDS[*]} " == *" $name "* ]] || { log "build: no build named $name (${BUILDS[*]})"; return 64; }
  done
  for name in "${names[@]}"; do
    configure "$name"
    log "build: $name"
    cmake --build "$BUILD/$name" -j "$JOBS"
  done
}

# 32-bit Wine needs a kernel that runs 32-bit programs; some virtual
# machines' kernels have no IA32 emulation ("Exec format error"). There the
# i686 build is still compiled (and its tests built), but not run.
runs_under_wine() {
  local arch=$1
  [ "$arch" != i686 ] && return 0
  local loader
  for loader in /usr/lib/wine/wine /usr/lib/i386-linux-gnu/wine/wine; do
    [ -x "$loader" ] || continue
    "$loader" --version >/dev/null 2>&1 && return 0
    [ $? -ne 126 ] && return 0  # it started: any other failure is Wine's to report
  done
  return 1
}

# The Windows builds whose programs this machine can run.
RUNNABLE_ARCHES=()
find_runnable_arches() {
  local arch
  RUNNABLE_ARCHES=()
  for arch in "${WINDOWS_ARCHES[@]}"; do
    if runs_under_wine "$arch"; then
      RUNNABLE_ARCHES+=("$arch")
    else
      log "$arch: this kernel cannot run 32-bit programs (no IA32 emulation), so 32-bit Wine cannot start: the $arch build is compiled but not run here"
    fi
  done
}

# One wineserver per prefix stays up for the whole run.
WINESERVERS=()
start_wine() {
  local arch=$1 prefix=$BUILD/$1/wineprefix
  "$BUILD/$arch/wine-run" cmd /c exit >/dev/null 2>&1 || true  # makes the prefix on first use
  WINEPREFIX=$prefix wineserver -p 2>/dev/null || true
  WINESERVERS+=("$prefix")
}
stop_wine() {
  local prefix
  for prefix in "${WINESERVERS[@]+"${WINESERVERS[@]}"}"; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  done
  WINESERVERS=()
}

cmd_test() {
  cmd_setup
  cmd_build
  trap stop_wine EXIT
  local name status=0
  find_runnable_arches
  log "test: native"
  ctest --test-dir "$BUILD/native" -j "$JOBS" --output-on-failure "$@" || status=1
  for name in "${RUNNABLE_ARCHES[@]}"; do
    log "test: $name (Wine)"
    start_wine "$name"
    ctest --test-dir "$BUILD/$name" -j "$JOBS" --output-on-failure "$@" || status=1
  done
  stop_wine
  trap - EXIT
  [ $status -eq 0 ] && log "test: all passed" || log "test: FAILURES above"
  return $status
}

cmd_demo() {
  cmd_setup
  cmd_build
  trap stop_wine EXIT
  find_runnable_arches
  # The 32-bit build where it runs (the browsers of the time were 32-bit).
  local arch=${RUNNABLE_ARCHES[0]}
  start_wine "$arch"
  "$ROOT/tools/demo/run.sh" "$BUILD/$arch"
}

cmd_bench() {
  cmd_setup
  cmd_build
  trap stop_wine EXIT
  local name builds=()
  find_runnable_arches
  for name in "${RUNNABLE_ARCHES[@]}"; do
    start_wine "$name"
    builds+=("$BUILD/$name")
  done
  "$ROOT/bench/run.sh" "${builds[@]}"
}

# One ZIP per Windows architecture (build/<arch>/dist), packed by CPack
# from the install rules; builds only what goes into it.
cmd_dist() {
  cmd_setup
  configure_all
  local name archive
  for name in "${WINDOWS_ARCHES[@]}"; do
    log "dist: $name"
    cmake --build "$BUILD/$name" -j "$JOBS" --target dist_files
    (cd "$BUILD/$name" && cpack --config CPackConfig.cmake >/dev/null)
    for archive in "$BUILD/$name"/dist/*.zip; do
      log "dist: $archive"
      (cd "$(mktemp -d)" && cmake -E tar xf "$archive" && cat ./*/SHA256SUMS.txt && rm -rf "$PWD")
    done
  done
}

# Every fuzz target of the native build for ZV_FUZZ_SECONDS (default 300)
# each, from its committed seeds; crashes are left as crash-* files in
# build/native/fuzz.
cmd_fuzz() {
  cmd_setup
  configure_all
  log "build: native"
  cmake --build "$BUILD/native" -j "$JOBS"
  local seconds=${ZV_FUZZ_SECONDS:-300} target name seeds status=0 out=$BUILD/native/fuzz
  mkdir -p "$out"
  while IFS= read -r target; do
    name=$(basename "$target")
    mkdir -p "$out/$name-corpus"
    seeds=()
    [ -d "$ROOT/tests/fuzz/corpus/$name" ] && seeds=("$ROOT/tests/fuzz/corpus/$name")
    log "fuzz: $name for ${seconds}s"
    (cd "$out" && ASAN_OPTIONS=detect_leaks=1 "$target" -max_total_time="$seconds" -print_final_stats=1 \
       "$out/$name-corpus" "${seeds[@]+"${seeds[@]}"}" 2>&1 | grep -E '^(stat::|==|SUMMARY|Done)' ) ||
      { status=1; log "fuzz: $name FAILED (see $out)"; }
  done < <(find "$BUILD/native/tests" -type f -perm -u+x -name '*_fuzz' | sort)
  return $status
}

case "${1:-}" in
  setup) cmd_setup ;;
  build) shift; cmd_setup; cmd_build "$@" ;;
  test) shift; cmd_test "$@" ;;
  demo) cmd_demo ;;
  bench) cmd_bench ;;
  dist) cmd_dist ;;
  fuzz) cmd_fuzz ;;
  *)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 64
    ;;
esac
