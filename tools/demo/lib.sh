# Shared by the demo parts.
WINE_RUN="$ZV_DEMO_BUILD/wine-run"
TOOLS="$ZV_DEMO_BUILD/tools"
DEMO_DIR="$ZV_DEMO_BUILD/demo"
mkdir -p "$DEMO_DIR"

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine_() { "$WINE_RUN" "$@"; }
reg_set() { wine_ reg add "$1" /v "$2" /d "$3" /f >/dev/null 2>&1; }
reg_default() { wine_ reg add "$1" /ve /d "$2" /f >/dev/null 2>&1; }
reg_del() { wine_ reg delete "$1" /f >/dev/null 2>&1 || true; }

SETTINGS='HKCU\Software\Quennet\Zorvane'
APP_PATHS='HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths\zorvex.exe'

# The demo's download manager settings: its caption and the accepted types.
demo_settings() {
  reg_del "$SETTINGS"
  reg_del "$APP_PATHS"
  reg_set "$SETTINGS" ZVCaption "Zorvane demo"
  reg_set "$SETTINGS" AcceptingTypes "ZIP,EXE,MP3"
}

# start_standin LOG [options...]: the stand-in download manager in the background.
start_standin() {
  local log=$1
  shift
  : >"$log"
  wine_ "$TOOLS/zvstandin.exe" "--log=$(winpath "$log")" "$@" >/dev/null 2>&1 &
  local i
  for i in $(seq 100); do grep -q '^READY' "$log" 2>/dev/null && return 0; sleep 0.1; done
  echo "stand-in did not come up" >&2
  return 1
}

# stop_standins LOG...: ends every stand-in process that wrote to these logs.
stop_standins() {
  local log pid
  for log in "$@"; do
    for pid in $(sed -n 's/^START pid=//p' "$log" 2>/dev/null); do
      wine_ taskkill /f /pid "$((pid))" >/dev/null 2>&1 || true
    done
  done
}

# print_received LOG: the texts the stand-in received, as a table.
print_received() {
  awk '
    /^COPYDATA / {
      n++
      cb = $3; sub("cbData=", "", cb)
      fg = $4; sub("fg=", "", fg)
      data = $0; sub(/^[^d]*dwData=[0-9]+ cbData=[0-9]+ fg=[01] data=/, "", data)
      gsub(/\\x0A/, " | ", data)
      printf "  %-3d %-7s %-11s %s\n", n, cb, (fg ? "yes" : "no"), data
    }
    END { if (!n) print "  (nothing received)" }
  ' "$1"
}

print_header() {
  printf '\n%s\n' "$1"
  printf '  %-3s %-7s %-11s %s\n' "#" "cbData" "foreground" "text (line feeds shown as |)"
}
