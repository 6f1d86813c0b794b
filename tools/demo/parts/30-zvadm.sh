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

# File, folder and message jobs: a folder tree, a file replaced while in
# use (completed at the next start), an initialisation-file entry written
# and deleted, and a copy of the helper that removes itself after it ends.
FILES="$DEMO_DIR/zvadm-files"
V20="$ZV_DEMO_BUILD/tests/zvadm/version_2_0.dll"
V21="$ZV_DEMO_BUILD/tests/zvadm/version_2_1.dll"
if [ ! -f "$TOOLS/file_aid.exe" ] || [ ! -f "$V20" ] || [ ! -f "$V21" ]; then
  echo
  echo "File jobs: the demo's version modules are not built (skipped)"
  exit 0
fi
rm -rf "$FILES"
mkdir -p "$FILES/helper"
cp "$V20" "$FILES/plugin.dll"
cp "$V21" "$FILES/plugin-new.dll"
cp "$ZV_DEMO_BUILD/zvadm/zvadm.exe" "$FILES/helper/zvadm.exe"
W=$(winpath "$FILES")
AID="$TOOLS/file_aid.exe"
# Shows the demo folder as <files>.
short() { local line; while IFS= read -r line; do printf '  %s\n' "${line//"$W"/<files>}"; done; }
trap 'reg_del "$KEY"; touch "$FILES/release"; wine_ "$AID" clear "$W" >/dev/null 2>&1 || true' EXIT

# Something else keeps plugin.dll open meanwhile, as a running program would.
wine_ "$AID" hold "$W\\plugin.dll" "$W\\release" >"$FILES/hold.log" 2>&1 &
holder=$!
for _ in $(seq 150); do grep -q holding "$FILES/hold.log" 2>/dev/null && break; sleep 0.1; done

cat >"$DEMO_DIR/zvadm-files.txt" <<LIST
# kind tag   param1                                      param2
17     0x11  "$W\\tree\\a\\b\\c\\"                       ""
20     0x12  "$W\\plugin-new.dll"                        "$W\\plugin.dll"
23     0x13  "$W\\demo.ini^09Zorvane^09Greeting^09Hello" ""
23     0x14  "$W\\demo.ini^09Zorvane^09Old^09soon gone"  ""
23     0x15  "$W\\demo.ini^09Zorvane^09Old"              ""
LIST
echo
echo "File jobs (plugin.dll 2.0.0.0 is in use; plugin-new.dll is 2.1.0.0):"
sed 's/^/| /' "$DEMO_DIR/zvadm-files.txt" | short
echo
wine_ "$TOOLS/zvjobs.exe" "--helper=$HELPER" "$(winpath "$DEMO_DIR/zvadm-files.txt")" | tr -d '\r' | short
echo
echo "Folders made:"
(cd "$FILES" && find tree -type d | sort | sed 's/^/  /')
echo "Renames waiting for the next start:"
wine_ "$AID" pending "$W" | tr -d '\r' | short
echo "demo.ini:"
tr -d '\r' <"$FILES/demo.ini" | sed 's/^/  | /'
touch "$FILES/release"
wait "$holder" 2>/dev/null || true
wine_ "$AID" clear "$W"

cat >"$DEMO_DIR/zvadm-self.txt" <<'LIST'
13     0x21  "Zorvane demo"  "Restart to finish."  0
LIST
echo
echo "A copy of the helper removes itself (kind 13; no earlier job asked for a restart, so no message):"
wine_ "$TOOLS/zvjobs.exe" "--helper=$W\\helper\\zvadm.exe" "$(winpath "$DEMO_DIR/zvadm-self.txt")" | tr -d '\r' | sed 's/^/  /'
for _ in $(seq 300); do [ -e "$FILES/helper" ] || break; sleep 0.1; done
if [ -e "$FILES/helper" ]; then
  echo "  the copy is still there: $(ls "$FILES/helper" 2>/dev/null | tr '\n' ' ')"
else
  echo "  helper\\zvadm.exe and its folder are gone"
fi
