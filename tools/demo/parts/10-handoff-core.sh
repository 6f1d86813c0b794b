#!/usr/bin/env bash
# The hand-off core: four hand-offs through zvsend, as the protocol handler
# would make them.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

running="$DEMO_DIR/core-running.log"
started="$DEMO_DIR/core-started.log"
trap 'stop_standins "$running" "$started"' EXIT

demo_settings

echo "Hand-off core (zvsend, protocol handler's decision and hand-off):"
start_standin "$running" "--caption=Zorvane demo"
send() {
  local what=$1
  shift
  printf '  %-44s ' "$what"
  wine_ "$TOOLS/zvsend.exe" --module=handler "$@" | tr '\n' ' ' | tr -d '\r'
  echo
}
send "accepted file (.zip in AcceptingTypes)" --url=http://example.org/files/setup.zip \
  --referer=http://example.org/downloads.html || true
send "refused by the filter (.html)" --url=http://example.org/index.html || true
send "forced with Ctrl+Alt (query, no extension)" --url="http://example.org/get?id=42" --keys=ctrl+alt || true
stop_standins "$running"
sleep 0.5

# Not running: installed under App Paths, started by the hand-off.
cp "$TOOLS/zvstandin.exe" "$DEMO_DIR/zorvex.exe"
printf '%s\n' "--caption=Zorvane demo" "--log=$(winpath "$started")" "--delay=800" >"$DEMO_DIR/zorvex.exe.args"
: >"$started"
reg_default "$APP_PATHS" "$(winpath "$DEMO_DIR/zorvex.exe")"
send "download manager not running (started)" --url=http://example.org/music/track.mp3 || true

print_header "Received by the running stand-in:"
print_received "$running"
print_header "Received by the stand-in started through App Paths:"
print_received "$started"
reg_del "$APP_PATHS"
