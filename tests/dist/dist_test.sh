#!/usr/bin/env bash
# The archive as an integrator gets it: packed by CPack from the build,
# unpacked into a fresh folder; it holds exactly the expected files, their
# SHA-256 list checks, every program imports only Windows system DLLs, and
# every self-registering module registers with regsvr32 from the unpacked
# folder (its path lands in the registry) and unregisters again.
# usage: dist_test.sh BUILD_DIR OBJDUMP "FILES;..." "REGISTERED;..."
set -uo pipefail
build=$1 objdump=$2
IFS=';' read -r -a want_files <<<"$3"
IFS=';' read -r -a registered <<<"$4"
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "$build/dist-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

(cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/out" >cpack.log 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack"; exit 1; }
zips=("$work"/out/*.zip)
[ ${#zips[@]} -eq 1 ] && [ -f "${zips[0]}" ] || { fail "one archive expected, got: ${zips[*]}"; exit 1; }
echo "archive: $(basename "${zips[0]}") ($(stat -c %s "${zips[0]}") bytes)"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "${zips[0]}") || { fail "unpack"; exit 1; }
top=("$work"/unpacked/*)
[ ${#top[@]} -eq 1 ] && [ -d "${top[0]}" ] || { fail "one top folder expected"; exit 1; }
dir=${top[0]}
[ "$(basename "$dir")" = "$(basename "${zips[0]}" .zip)" ] || fail "top folder $(basename "$dir")"

# Exactly the expected files.
expected=$(printf '%s\n' "${want_files[@]}" REGISTER.txt SHA256SUMS.txt | sort)
actual=$(cd "$dir" && find . -type f | sed 's#^\./##' | sort)
[ "$expected" = "$actual" ] || fail "contents differ:
$(diff <(echo "$expected") <(echo "$actual"))"
(cd "$dir" && find . -type f | sed 's#^\./##' | sort | while read -r f; do printf '  %-24s %8d\n' "$f" "$(stat -c %s "$f")"; done)

# The list covers every other file, and every sum is right.
listed=$(sed 's/^[0-9a-f]\{64\}  //' "$dir/SHA256SUMS.txt" | sort)
[ "$listed" = "$(grep -vx SHA256SUMS.txt <<<"$actual")" ] || fail "SHA256SUMS.txt does not list every file"
(cd "$dir" && sha256sum --quiet -c SHA256SUMS.txt) || fail "a SHA-256 does not match"

# Only system DLLs, and shipped without debug sections.
mapfile -t programs < <(find "$dir" -type f \( -name '*.dll' -o -name '*.exe' \) | sort)
sh "$here/../check_imports.sh" "$objdump" "${programs[@]}" >"$work/imports.log" || { cat "$work/imports.log"; fail "imports"; }
for p in "${programs[@]}"; do
  ! grep -q '\.debug_' <<<"$("$objdump" -h "$p")" || fail "$(basename "$p") carries debug sections"
done

# Registers from the unpacked folder and unregisters again.
wine_run=$build/wine-run
# 64-bit modules register in the 64-bit view, which Wine's reg.exe shows on request.
view=()
case "$(basename "$objdump")" in x86_64-*) view=(/reg:64) ;; esac
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
exported() {  # KEY: that registry tree as lower-case text, backslashes single
  rm -f "$work/export.reg"
  "$wine_run" reg export "$1" "$(winpath "$work/export.reg")" /y "${view[@]}" >/dev/null 2>&1
  iconv -f UTF-16 -t UTF-8 "$work/export.reg" 2>/dev/null | tr -d '\r' | sed 's/\\\\/\\/g' | tr 'A-Z' 'a-z'
}
classes() { exported 'HKEY_LOCAL_MACHINE\Software\Classes\CLSID'; }
# Unregistering leaves a module's type library registered (others may share
# it); remove the versions that name the temporary folder.
drop_type_libraries() {
  exported 'HKEY_LOCAL_MACHINE\Software\Classes\TypeLib' |
    P=$1 awk '/^\[/ { key = $0 } index($0, ENVIRON["P"]) && key != "" { print key }' |
    sed -n 's/^\[\(hkey_local_machine\\software\\classes\\typelib\\{[^}]*}\\[^\\]*\).*/\1/p' | sort -u |
    while read -r key; do "$wine_run" reg delete "$key" /f "${view[@]}" >/dev/null 2>&1; done
}
for name in "${registered[@]}"; do
  module=$dir/$name
  [ -f "$module" ] || { fail "$name missing"; continue; }
  grep -q '\] DllRegisterServer$' <<<"$("$objdump" -p "$module")" || fail "$name does not export DllRegisterServer"
  path=$(winpath "$module" | tr 'A-Z' 'a-z')
  # Some modules register the short (8.3) form of their path.
  short=$("$wine_run" winepath -s "$(winpath "$module")" 2>/dev/null | tr -d '\r' | tr 'A-Z' 'a-z')
  [ -n "$short" ] || short=$path
  "$wine_run" regsvr32 /s "$(winpath "$module")" >/dev/null 2>&1 || fail "regsvr32 $name: exit $?"
  count=$(classes | grep -cF -e "$path" -e "$short")
  [ "$count" -ge 1 ] || fail "$name: its unpacked path is not registered"
  "$wine_run" regsvr32 /u /s "$(winpath "$module")" >/dev/null 2>&1 || fail "regsvr32 /u $name: exit $?"
  [ "$(classes | grep -cF -e "$path" -e "$short")" -eq 0 ] || fail "$name: still registered after regsvr32 /u"
  drop_type_libraries "${path%\\*}"
  drop_type_libraries "${short%\\*}"
  echo "registered $name from the unpacked folder ($count entries name it)"
done

# The native-messaging host registers from the unpacked folder: its own
# --check then finds each browser's key naming a manifest in the user's
# folder that names this program, and after unregistering no key at all.
bridge=$dir/zvbridge.exe
if [ -f "$bridge" ]; then
  "$wine_run" "$(winpath "$bridge")" --register >/dev/null 2>&1 || fail "zvbridge.exe --register: exit $?"
  check=$("$wine_run" "$(winpath "$bridge")" --check 2>&1 | tr -d '\r')
  for browser in Chrome Edge Firefox; do
    printf '%s\n' "$check" | grep -q "^$browser registration: ok, HKCU" ||
      fail "zvbridge.exe: $browser's registration after --register: $(printf '%s\n' "$check" | grep "^$browser ")"
  done
  "$wine_run" "$(winpath "$bridge")" --unregister >/dev/null 2>&1 || fail "zvbridge.exe --unregister: exit $?"
  # The whole report first: "grep -q" would stop reading at the first line
  # and fail the writer (pipefail) on a report that is right.
  check=$("$wine_run" "$(winpath "$bridge")" --check 2>&1 | tr -d '\r')
  printf '%s\n' "$check" | grep -q '^Chrome registration: no key' ||
    fail "zvbridge.exe: Chrome's key left after --unregister: $(printf '%s\n' "$check" | grep '^Chrome ')"
  echo "registered zvbridge.exe from the unpacked folder"
fi

[ $failures -eq 0 ] && echo "dist: archive checked" || { echo "dist: $failures failures"; exit 1; }
