#!/usr/bin/env bash
# The IE download manager component: registered with regsvr32, handed two
# downloads the way Internet Explorer hands them (a URL moniker bound through
# Wine's urlmon from a loopback server), and delivering them to the portable
# edition, which it starts because it is not running.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

module_dir="$DEMO_DIR/zvwatch"
portable_dir="$module_dir/portable"
log="$portable_dir/kestrix.log"
module="$(winpath "$module_dir/zvwatch.dll")"
KESTRIX='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\kestrix.exe'

[ -f "$ZV_DEMO_BUILD/zvwatch/zvwatch.dll" ] || { echo "IE download manager: not built here"; exit 0; }
rm -rf "$module_dir"
mkdir -p "$module_dir/DATA" "$portable_dir"
cleanup() {
  stop_standins "$log"
  wine_ regsvr32 /s /u "$module" >/dev/null 2>&1 || true
  reg_del "$KESTRIX"
}
trap cleanup EXIT

# The module carried outside the program-files folder: its settings lie in
# DATA beside it.
cp "$ZV_DEMO_BUILD/zvwatch/zvwatch.dll" "$module_dir/zvwatch.dll"
printf '[SOFTWARE\\Quennet\\Zorvane]\r\nZVCaption=Kestrix demo\r\nIntegrationTemporaryOff=TRUE\r\n' \
  >"$module_dir/DATA/Settings.dat"

# The portable edition, registered but not running.
cp "$TOOLS/zvstandin.exe" "$portable_dir/kestrix.exe"
printf '%s\n' "--caption=Kestrix demo" "--log=$(winpath "$log")" "--delay=700" >"$portable_dir/kestrix.exe.args"
: >"$log"
reg_default "$KESTRIX" "$(winpath "$portable_dir/kestrix.exe")"
reg_set "$KESTRIX" Path "$(winpath "$portable_dir")"

echo
echo "IE download manager component (zvwatch.dll, Download called as Internet Explorer calls it):"
wine_ regsvr32 /s "$module"
printf '  regsvr32 %s: InprocServer32 = %s\n' "$module" \
  "$(wine_ reg query 'HKCR\CLSID\{4B2AFC7F-7D72-4025-8192-4DCFB4A1BEDD}\InprocServer32' /ve 2>/dev/null |
     tr -d '\r' | sed -n 's/.*REG_SZ[[:space:]]*//p')"
wine_ "$TOOLS/zvwatchdemo.exe" | tr -d '\r'
printf '  portable edition started: %s time(s)\n' "$(grep -c '^START' "$log" || true)"

echo
echo "Received by the portable edition (lines separated by CR LF, shown one per line; \\x00 is a NUL byte):"
awk '
  /^COPYDATA / {
    n++
    cb = $3; sub("cbData=", "", cb)
    data = $0; sub(/^[^d]*dwData=[0-9]+ cbData=[0-9]+ fg=[01] data=/, "", data)
    gsub(/\\x0D\\x0A/, "\n        ", data)
    printf "  #%d  cbData=%s\n        %s\n", n, cb, data
  }
  END { if (!n) print "  (nothing received)" }
' "$log"
