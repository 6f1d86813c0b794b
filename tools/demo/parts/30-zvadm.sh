#!/usr/bin/env bash
# The administrative helper: a job list run through the job channel by
# zvjobs (standing in for the download manager), and what it changed.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

if [ ! -f "$TOOLS/zvjobs.exe" ] || [ ! -f "$ZV_DEMO_BUILD/zvadm/zvadm.exe" ]; then
  echo "Administrative helper: not built in this build folder (skipped)"
  exit 0
fi
HELPER=$(winpath "$ZV_DEMO_BUILD/zvadm/zvadm.exe")
KEY='HKCU\Software\Zorvane Demo'
jobs="$DEMO_DIR/zvadm-jobs.txt"
trap 'reg_del "$KEY"' EXIT
reg_del "$KEY"

cat >"$jobs" <<'LIST'
# kind tag   param1                                  param2                 [result]
2      0x01  "HKCU\Software\Zorvane Demo\Greeting"   "Hello from zvadm"
3      0x02  "HKCU\Software\Zorvane Demo\Count"      ^2A^00^00^00
4      0x03  "HKCU\Software\Zorvane Demo\Blob"       ^00^FF^10
5      0x04  "HKCU\Software\Zorvane Demo\Folder"     "%TEMP%\zorvane"
2      0x05  "HKCU\Software\Zorvane Demo\Old"        "soon gone"
1      0x06  "HKCU\Software\Zorvane Demo\Old"        ""
2      0x07  "hkcu\Software\Zorvane Demo\Lower"      "root names are upper case only"
9      0x08  ""                                      ""                     0
LIST

echo
echo "Administrative helper (zvjobs runs a job list through zvadm.exe):"
sed 's/^/  | /' "$jobs"
echo
wine_ "$TOOLS/zvjobs.exe" "--helper=$HELPER" "$(winpath "$jobs")" | tr -d '\r' | sed 's/^/  /'

echo
echo "What the registry holds afterwards ($KEY):"
wine_ reg query "$KEY" 2>/dev/null | tr -d '\r' | sed -n 's/^ \{4\}/  /p'

echo
echo "A section whose count promises 1,000 jobs in 4,096 bytes (refused, nothing run):"
printf '\xe8\x03\x00\x00' >"$DEMO_DIR/zvadm-bad.bin"
wine_ "$TOOLS/zvjobs.exe" "--helper=$HELPER" --raw --size=4096 "$(winpath "$DEMO_DIR/zvadm-bad.bin")" | tr -d '\r' | sed 's/^/  /'
