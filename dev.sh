#!/usr/bin/env bash
# One entry point for setting up, building, testing, benchmarking and the demo.
#   ./dev.sh setup          install everything needed (Debian, as root; idempotent)
#   ./dev.sh build          configure and build native, i686 and x86_64
#   ./dev.sh test [args]    setup, build, run every test (args go to ctest)
#   ./dev.sh demo           setup, build, run the end-to-end demo under Wine
#   ./dev.sh bench          setup, build, run the benchmarks
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

cmd_setup() {
  local missing
  missing=$(missing_packages)
  if [ -z "$missing" ]; then
    log "setup: all packages present"
    return
  fi
  log "setup: installing $(echo $missing)"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -q
  # shellcheck disable=SC2086
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $missing
}

configure() {
  local name=$1 dir=$BUILD/$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
  fi
}

cmd_build() {
  configure native -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  configure i686 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-i686-w64-mingw32.cmake"
  configure x86_64 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-x86_64-w64-mingw32.cmake"
  local name
  for name in native "${WINDOWS_ARCHES[@]}"; do
    log "build: $name"
    cmake --build "$BUILD/$name" -j "$JOBS"
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
  log "test: native"
  ctest --test-dir "$BUILD/native" -j "$JOBS" --output-on-failure "$@" || status=1
  for name in "${WINDOWS_ARCHES[@]}"; do
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
  start_wine i686
  "$ROOT/tools/demo/run.sh" "$BUILD/i686"
}

cmd_bench() {
  cmd_setup
  cmd_build
  trap stop_wine EXIT
  start_wine i686
  "$ROOT/bench/run.sh" "$BUILD/i686"
}

case "${1:-}" in
  setup) cmd_setup ;;
  build) cmd_setup; cmd_build ;;
  test) shift; cmd_test "$@" ;;
  demo) cmd_demo ;;
  bench) cmd_bench ;;
  *)
    sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'
    exit 64
    ;;
esac
