#!/usr/bin/env bash
# Zorvex.dll: registered with regsvr32; a context-menu page's JScript run by
# cscript adds links through "Zorvex.AddUrl", and a stand-in Navigator
# offers URLs to "Zorvex.NNCatcher.1" through IDispatch by name.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

log="$DEMO_DIR/zorvex.log"
script="$DEMO_DIR/zorvex-menu.js"
module=$(winpath "$ZV_DEMO_BUILD/zorvex/Zorvex.dll")
if [ ! -f "$ZV_DEMO_BUILD/tools/zvnavigator.exe" ]; then
  echo "Zorvex: not built in this build folder (skipped)"
  exit 0
fi
trap 'stop_standins "$log"; wine_ regsvr32 /s /u "$module" >/dev/null 2>&1 || true' EXIT

demo_settings

echo
echo "Context menu (Zorvex.dll registered with regsvr32, JScript run by cscript):"
wine_ regsvr32 /s "$module"
start_standin "$log" "--caption=Zorvane demo"
cat >"$script" <<'JS'
var menu = new ActiveXObject("Zorvex.AddUrl");
menu.AddUrl("http://example.org/files/setup.exe", "Setup program");
menu.AddUrlWithReferer("http://example.org/music/track.mp3", "A track", "http://example.org/music.html");
WScript.Echo("  the page called AddUrl and AddUrlWithReferer");
JS
wine_ cscript //nologo "$(winpath "$script")" | tr -d '\r'

echo
echo "Navigator catcher (a stand-in Navigator calls Initialize by name):"
wine_ "$TOOLS/zvnavigator.exe" \
  http://example.org/files/archive.zip \
  http://example.org/index.html \
  "http://example.org/get?id=7" \
  news://example.org/a.zip | tr -d '\r' | sed 's/^/  /'

print_header "Received by the stand-in download manager:"
print_received "$log"
