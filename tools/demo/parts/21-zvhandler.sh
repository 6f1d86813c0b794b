#!/usr/bin/env bash
# The protocol handler: registered with regsvr32, created and started by
# Wine's own urlmon for http requests to a loopback web server.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

log="$DEMO_DIR/zvhandler.log"
module=$(winpath "$ZV_DEMO_BUILD/zvhandler/zvhandler.dll")
if [ ! -f "$ZV_DEMO_BUILD/tools/zvurlbind.exe" ]; then
  echo "Protocol handler: not built in this build folder (skipped)"
  exit 0
fi
trap 'stop_standins "$log"; wine_ regsvr32 /s /u "$module" >/dev/null 2>&1 || true' EXIT

demo_settings

echo
echo "Protocol handler (zvhandler.dll registered with regsvr32, started by Wine's urlmon):"
wine_ regsvr32 /s "$module"
start_standin "$log" "--caption=Zorvane demo"
wine_ "$TOOLS/zvurlbind.exe" /files/setup.zip /news/index.html /music/track.mp3 | tr -d '\r'

print_header "Received by the stand-in download manager:"
print_received "$log"
