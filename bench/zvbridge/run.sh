#!/usr/bin/env bash
# B8: the browser extension's round trip through the host, in real Chromium.
set -euo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
[ -f "$build/zvbridge/zvbridge.exe" ] && [ -f "$build/webext/chromium/manifest.json" ] || exit 0
command -v chromium >/dev/null || { echo "== B8 skipped: chromium is not installed"; exit 0; }
echo "== Native-messaging host in headless Chromium (under Wine; times are noisy)"
python3 "$here/b8.py" "$build" "${ZV_B8_COUNT:-200}"
