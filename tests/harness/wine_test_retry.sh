#!/usr/bin/env bash
# The test runner (cmake/wine-test.in) against a stand-in for Wine that
# plays each case's runs in turn: a program Wine failed to load is started
# again, a program that ran and failed never is, and what the test printed
# reaches CTest with the status of the run that counted.
set -uo pipefail
TEMPLATE=${1:?usage: wine_test_retry.sh path/to/wine-test.in}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
NOT_LOADED='Application could not be started, or no application associated with the specified file.
ShellExecuteEx failed: Internal error.'

# One run per line of $WORK/plays: "status|output" (output with \n escapes).
cat >"$WORK/wine-run" <<'SH'
#!/bin/bash
n=$(( $(cat "$WORK/count") + 1 )); echo "$n" >"$WORK/count"
line=$(sed -n "${n}p" "$WORK/plays")
printf '%b\n' "${line#*|}"
exit "${line%%|*}"
SH
chmod +x "$WORK/wine-run"
sed "s#@ZV_WINE_RUN@#$WORK/wine-run#" "$TEMPLATE" >"$WORK/wine-test"
export WORK

failures=0
# name | expected status | expected runs | expected text in the output | plays...
check() {
  local name=$1 status=$2 runs=$3 text=$4 out got
  shift 4
  printf '%s\n' "$@" >"$WORK/plays"
  echo 0 >"$WORK/count"
  out=$(sh "$WORK/wine-test" prog.exe 2>&1)
  got=$?
  if [ "$got" != "$status" ] || [ "$(cat "$WORK/count")" != "$runs" ] || ! grep -qF -- "$text" <<<"$out"; then
    echo "FAIL $name: status $got (want $status), runs $(cat "$WORK/count") (want $runs)"
    echo "$out" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    echo "ok   $name"
  fi
}
not_loaded="1|${NOT_LOADED//$'\n'/\\n}"
check "passes at once" 0 1 "[  PASSED  ] 1 test." "0|[==========] 1 test\n[  PASSED  ] 1 test."
check "fails at once: never repeated" 1 1 "[  FAILED  ] 1 test" "1|[==========] 1 test\n[  FAILED  ] 1 test" "0|[  PASSED  ] 1 test."
check "not loaded, then passes" 0 2 "[  PASSED  ] 1 test." "$not_loaded" "0|[==========] 1 test\n[  PASSED  ] 1 test."
check "not loaded, then fails" 1 2 "[  FAILED  ] 1 test" "$not_loaded" "1|[==========] 1 test\n[  FAILED  ] 1 test"
check "never loaded: three runs, then the failure" 1 3 "Application could not be started" "$not_loaded" "$not_loaded" "$not_loaded" "0|unreached"
check "no wineserver, then passes" 0 2 "[  PASSED  ] 1 test." \
      "1|wine client error:0: recvmsg: Connection reset by peer" "0|[==========] 1 test\n[  PASSED  ] 1 test."
check "the message after a banner is the test's own" 1 1 "Application could not be started" \
      "1|[==========] 1 test\nApplication could not be started, or no application associated with the specified file." "0|unreached"
[ "$failures" -eq 0 ]
