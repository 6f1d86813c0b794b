#!/usr/bin/env bash
# The browser helper object: registered with regsvr32, loaded by a stand-in
# browser window that fires BeforeNavigate2 for a few clicks.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

log="$DEMO_DIR/zvhelper.log"
module=$(winpath "$ZV_DEMO_BUILD/zvhelper/ZVHelper.dll")
if [ ! -f "$ZV_DEMO_BUILD/tools/zvbrowser.exe" ]; then
  echo "Browser helper object: not built in this build folder (skipped)"
  exit 0
fi
trap 'stop_standins "$log"; wine_ regsvr32 /s /u "$module" >/dev/null 2>&1 || true' EXIT

demo_settings

echo
echo "Browser helper object (ZVHelper.dll registered with regsvr32, driven by a stand-in browser):"
wine_ regsvr32 /s "$module"
start_standin "$log" "--caption=Zorvane demo"
wine_ "$TOOLS/zvbrowser.exe" --location=http://example.org/downloads.html \
  http://example.org/files/setup.zip \
  http://example.org/index.html \
  mailto:someone@example.org \
  --post="dl.start=Free&id=7" http://dl1.filedepot.net/get/archive.zip \
  --post="q=zorvane" http://example.org/search/results.zip | tr -d '\r'

print_header "Received by the stand-in download manager:"
print_received "$log"
