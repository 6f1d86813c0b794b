#!/usr/bin/env bash
# The administrative helper across user profiles: two users who are not
# logged on (their hives in files) and the default user get the program's
# shortcuts, named from each user's own language file; then the machine
# loses the browser integration entries and the data in every profile.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"

HIVE_AID="$TOOLS/hive_aid.exe"
if [ ! -f "$TOOLS/zvjobs.exe" ] || [ ! -f "$ZV_DEMO_BUILD/zvadm/zvadm.exe" ] || [ ! -f "$HIVE_AID" ]; then
  echo "Administrative helper's per-user jobs: not built in this build folder (skipped)"
  exit 0
fi
HELPER=$(winpath "$ZV_DEMO_BUILD/zvadm/zvadm.exe")
ROOT="$DEMO_DIR/profiles"
WROOT=$(winpath "$ROOT")
LIST='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\ProfileList'
PORTABLE='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\App Paths\kestrix.exe'
SHELL_FOLDERS='Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders'
SEED='HKCU\Software\Zorvane Demo Hive'
MACHINE_SETTINGS='HKLM\SOFTWARE\Quennet\Zorvane'
DEFAULT_NAME=ZvDemoDefault
DEFAULT_DIR="$ZV_DEMO_BUILD/wineprefix/drive_c/users/$DEFAULT_NAME"
GROUP='Quennet Kestrix'
USERS=(S-1-5-21-4242-1001 S-1-5-21-4242-1002)
LANGS=(zv_de.int zv_fr.int)
shell_folder() { { wine_ reg query "HKCU\\$SHELL_FOLDERS" /v "$1" 2>/dev/null || true; } | tr -d '\r' | sed -n 's/.*REG_SZ *//p'; }
CURRENT_PROGRAMS=$(shell_folder Programs)
CURRENT_APPDATA=$(shell_folder AppData)

cleanup() {
  wine_ "$HIVE_AID" unload "${USERS[0]}" >/dev/null 2>&1 || true
  for user in "${USERS[@]}"; do reg_del "$LIST\\$user"; done
  wine_ reg delete "$LIST" /v DefaultUserProfile /f >/dev/null 2>&1 || true
  reg_del "$PORTABLE"
  reg_del "$SEED"
  reg_del "$MACHINE_SETTINGS"
  rm -rf "$DEFAULT_DIR"
  # The current user is one of the profiles too.
  [ -z "$CURRENT_PROGRAMS" ] || wine_ cmd /c rd /s /q "$CURRENT_PROGRAMS\\$GROUP" >/dev/null 2>&1 || true
  [ -z "$CURRENT_APPDATA" ] ||
    wine_ cmd /c del "$CURRENT_APPDATA\\Microsoft\\Internet Explorer\\Quick Launch\\Kestrix.lnk" >/dev/null 2>&1 || true
}
trap cleanup EXIT
cleanup
rm -rf "$ROOT"
mkdir -p "$ROOT/install" "$ROOT/intl"

# Language files: the shortcut names are lines 229 to 232 after "[strings]",
# the description line 298.
language_file() {
  awk -v web="$2" -v buy="$3" -v support="$4" -v remove="$5" -v about="$6" 'BEGIN {
    printf "[Language]\r\nName=%s\r\n[strings]\r\n", web
    for (i = 0; i < 300; i++) {
      line = "string " i
      if (i == 229) line = web; if (i == 230) line = buy; if (i == 231) line = support
      if (i == 232) line = remove; if (i == 298) line = about
      printf "%s\r\n", line
    }
  }' >"$ROOT/intl/$1"
}
language_file zv_en.int "Zorvane on the Web" "Buy Zorvane" "Support" "Uninstall Zorvane" "Zorvane download manager"
language_file zv_de.int "Zorvane im Netz" "Zorvane kaufen" "Hilfe" "Zorvane entfernen" "Zorvane Download-Manager"
language_file zv_fr.int "Zorvane sur le Web" "Acheter Zorvane" "Assistance" "Desinstaller Zorvane" "Gestionnaire Zorvane"

# A profile: its folders, and a hive file seeded with its shell folders,
# language, data folder and the catchers' entries.
make_profile() {
  local dir=$1 language=$2 wdir
  wdir=$(winpath "$dir")
  mkdir -p "$dir/Start Menu/Programs" "$dir/Desktop" "$dir/AppData" "$dir/Data"
  reg_del "$SEED"
  reg_set "$SEED\\$SHELL_FOLDERS" Programs "$wdir\\Start Menu\\Programs"
  reg_set "$SEED\\$SHELL_FOLDERS" Desktop "$wdir\\Desktop"
  reg_set "$SEED\\$SHELL_FOLDERS" AppData "$wdir\\AppData"
  reg_set "$SEED\\SOFTWARE\\Quennet\\Zorvane" CurrentLanguage "$language"
  reg_set "$SEED\\SOFTWARE\\Quennet\\Zorvane" AppDataPath "$wdir\\Data"
  reg_set "$SEED\\Software\\Netscape\\Netscape Navigator\\Automation Protocols" http Zorvex.NNCatcher.1
  reg_set "$SEED\\Software\\Netscape\\Netscape Navigator\\Automation Protocols" news Other.Reader
  reg_default "$SEED\\Software\\Microsoft\\Internet Explorer\\MenuExt\\Download with Zorvane" "$(winpath "$ROOT/install")\\Add_url.htm"
  for file in zorvex.dat category.dat history.dat history.bak; do echo "$file" >"$dir/Data/$file"; done
  printf '%s\r\n' "$(basename "$dir") installed a file" >"$dir/Data/Install.alg"
  wine_ "$HIVE_AID" save 'Software\Zorvane Demo Hive' "$wdir\\NTUser.dat"
  reg_del "$SEED"
}

for i in 0 1; do
  make_profile "$ROOT/${USERS[$i]}" "${LANGS[$i]}"
  wine_ reg add "$LIST\\${USERS[$i]}" /v ProfileImagePath /t REG_EXPAND_SZ /d "$WROOT\\${USERS[$i]}" /f >/dev/null
done
make_profile "$DEFAULT_DIR" zv_missing.int  # no such file: the machine's choice
reg_set "$MACHINE_SETTINGS" CurrentLanguage zv_en.int
wine_ reg add "$LIST" /v DefaultUserProfile /d "$DEFAULT_NAME" /f >/dev/null
# A desktop link that exists already is refreshed; none is added.
echo stale >"$ROOT/${USERS[0]}/Desktop/Kestrix.lnk"
reg_set "$PORTABLE" Path "$(winpath "$ROOT/install")\\"
printf 'main install log\r\n' >"$ROOT/install/Install.alg"

echo
echo "Per-user jobs: profiles ${USERS[*]} (not logged on, hives in files) and the default user"
setup="InstPath=C:\\Program%20Files\\Kestrix^0D^0AAppGroup=$GROUP^0D^0AIntlFolder=$WROOT\\intl^0D^0A"
setup+="TempFolder=zvtemp^0D^0AAlgPath=$WROOT\\install\\Install.alg^0D^0ADeskTop=0^0D^0AQuickLaunch=1"
printf '16 0x10 "%s" ""\n' "$setup" >"$DEMO_DIR/zvadm-users-1.txt"
echo "  | 16 (shortcuts in every profile), setup text:"
printf '%s\n' "$setup" | sed 's/\^0D\^0A/\n/g' | sed 's/^/  |   /'
wine_ "$TOOLS/zvjobs.exe" "--helper=$HELPER" "$(winpath "$DEMO_DIR/zvadm-users-1.txt")" | tr -d '\r' | sed 's/^/  /'

show_links() {
  local label=$1 dir=$2
  echo "  $label:"
  (cd "$dir" && find . -name '*.lnk' | sort | sed 's|^\./|    |')
}
echo
echo "Shortcuts, named in each user's language:"
show_links "${USERS[0]} (German)" "$ROOT/${USERS[0]}"
show_links "${USERS[1]} (French)" "$ROOT/${USERS[1]}"
show_links "default user (English)" "$DEFAULT_DIR"
echo "  install log $ROOT/install/Install.alg: $(grep -c . "$ROOT/install/Install.alg") lines, for example:"
tr -d '\r' <"$ROOT/install/Install.alg" | grep -F "${USERS[0]}" | head -3 | sed 's/^/    /'

# The first user logs on: the hive is loaded before the helper runs, and
# stays (a hive the helper loads itself is not written back by Wine).
wine_ "$HIVE_AID" load "${USERS[0]}" "$WROOT\\${USERS[0]}\\NTUser.dat"
hive_of() {
  { wine_ reg query "HKU\\${USERS[0]}\\$1" /s 2>/dev/null || true; } | tr -d '\r' | grep -v '^$\|^reg:' |
    sed "s|HKEY_USERS\\\\${USERS[0]}\\\\||" || true
}
before="$DEMO_DIR/zvadm-users-before.txt"
after="$DEMO_DIR/zvadm-users-after.txt"
{ hive_of Software\\Netscape; hive_of 'Software\Microsoft\Internet Explorer\MenuExt'; hive_of SOFTWARE\\Quennet; } >"$before"

cat >"$DEMO_DIR/zvadm-users-2.txt" <<'LIST'
# kind tag   param1           param2
22     0x21  "Options\Last"   "C:\Downloads"
6      0x22  ""               ""
7      0x23  ""               ""
LIST
echo
echo "Then the clean-up (${USERS[0]} now logged on):"
sed 's/^/  | /' "$DEMO_DIR/zvadm-users-2.txt"
wine_ "$TOOLS/zvjobs.exe" "--helper=$HELPER" "$(winpath "$DEMO_DIR/zvadm-users-2.txt")" | tr -d '\r' | sed 's/^/  /'
{ hive_of Software\\Netscape; hive_of 'Software\Microsoft\Internet Explorer\MenuExt'; hive_of SOFTWARE\\Quennet; } >"$after"

echo
echo "What changed in the hive of ${USERS[0]} (- before, + after):"
diff "$before" "$after" | sed -n 's/^\([<>]\) */\1 /p' | sed 's/^</  -/; s/^>/  +/' || true
echo
echo "What changed in the folders:"
for dir in "$ROOT/${USERS[0]}" "$ROOT/${USERS[1]}" "$DEFAULT_DIR"; do
  name=$(basename "$dir")
  if [ -d "$dir/Data" ]; then echo "  $name: Data holds $(ls "$dir/Data" | tr '\n' ' ')"; else echo "  $name: data folder removed"; fi
done
echo "  main install log, with each user's own log merged in walk order:"
tr -d '\r' <"$ROOT/install/Install.alg" | grep -v '\.lnk$\|\\$' | sed 's/^/    /'
