#!/usr/bin/env bash
# The Opera plug-in: a stand-in NPAPI browser loads NPZorvex.dll, finds its
# MIME types in the version resource and opens streams of registered types;
# the plug-in hands each URL to the stand-in download manager.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

plugin="$ZV_DEMO_BUILD/npzorvex/NPZorvex.dll"
host="$TOOLS/npzhost.exe"
if [ ! -f "$plugin" ] || [ ! -f "$host" ]; then
  echo "Opera plug-in: not built in this build folder (skipped)"
  exit 0
fi
dll=$(winpath "$plugin")
running="$DEMO_DIR/npzorvex-running.log"
trap 'stop_standins "$running"' EXIT

reg_del "$SETTINGS"
reg_del "$APP_PATHS"
reg_set "$SETTINGS" ZVCaption "Zorvane demo"

echo
echo "Opera plug-in (NPZorvex.dll in a stand-in NPAPI browser):"
echo "  MIME types the browser reads from the version resource:"
wine_ "$host" types "$dll" | tr -d '\r' | sed 's/^/  /'

stream() {
  local mime=$1 url=$2
  echo "  stream $mime $url"
  wine_ "$host" stream "$dll" "$mime" "$url" | tr -d '\r' | sed 's/^/  /'
}

start_standin "$running" "--caption=Zorvane demo"
stream application/zip http://example.org/files/setup.zip
stream audio/mp3 "http://example.org/music/track.mp3?session=42"
stop_standins "$running"
sleep 0.5
echo "  (download manager closed, not registered under App Paths)"
stream video/quicktime http://example.org/clips/trailer.mov

print_header "Received by the stand-in download manager:"
print_received "$running"
