#!/usr/bin/env bash
# Today's browsers: headless Chromium with the extension downloads two files
# from a loopback web site. The native-messaging host (zvbridge.exe, under
# Wine) hands the .zip to the download manager with its file details and
# cookie; the .html is declined and stays with the browser.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

[ -f "$ZV_DEMO_BUILD/zvbridge/zvbridge.exe" ] && [ -f "$ZV_DEMO_BUILD/webext/chromium/manifest.json" ] ||
  { echo "Chromium extension and host: not built here"; exit 0; }
command -v chromium >/dev/null || { echo "Chromium extension and host: chromium is not installed"; exit 0; }

part_dir="$DEMO_DIR/zvbridge"
rm -rf "$part_dir"
mkdir -p "$part_dir"
log="$part_dir/standin.log"
trap 'stop_standins "$log"; reg_del "$SETTINGS"' EXIT
demo_settings

echo
echo "Chromium (headless, extension loaded) downloading from a loopback site through zvbridge.exe:"
python3 - "$ZV_DEMO_BUILD" "$part_dir" "$ZV_DEMO_ROOT/tests/zvbridge" <<'PY'
import sys, time
build, folder, rig = sys.argv[1:4]
sys.path.insert(0, rig)
from browser_rig import Chromium, Site, StandIn, WineBuild, wait_until
wine = WineBuild(build)
site = Site(slow_seconds=0.5)
standin = StandIn(wine, folder, 1, "--caption=Zorvane demo")
browser = Chromium(wine, seconds=90)
try:
    browser.open(site.page_url(kind="zip"))
    wait_until(standin.texts, 30)
    browser.open(site.base + "/page.html?first=2&n=2&kind=html&auto=1")
    wait_until(lambda: "report-2.html" in browser.downloaded(), 30)
    time.sleep(1)
    print(f"  site {site.base}, cookie {site.cookie()}")
    print(f"  Chromium's download folder: {', '.join(browser.any_files()) or '(empty)'}")
finally:
    browser.close()
    site.close()
PY
echo
echo "Received by the stand-in download manager (CR LF shown as |):"
print_received "$log" | sed 's/\\x0D | /| /g'
