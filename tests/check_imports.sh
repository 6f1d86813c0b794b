#!/bin/sh
# Fails when a module imports anything but Windows system DLLs (a MinGW
# runtime DLL beside a module would be a missing static link).
#   check_imports.sh [--known-dlls] OBJDUMP MODULE...
# --known-dlls: only the libraries the loader always takes from the system
# (KnownDLLs), for a program that runs elevated from a folder a user can
# write to; any other import would be found beside the program first.
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|urlmon|wininet|version|comctl32|msvcrt|ntdll|rpcrt4|uuid|userenv|ws2_32|secur32)\.dll$'
if [ "$1" = --known-dlls ]; then
  allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|msvcrt|ntdll|rpcrt4|ws2_32|comdlg32|imm32|psapi|setupapi|imagehlp|normaliz|nsi|sechost|wldap32)\.dll$'
  shift
fi
objdump=$1
shift
status=0
for module in "$@"; do
  imports=$("$objdump" -p "$module" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')
  if [ -z "$imports" ]; then
    echo "$module: no import table found"
    status=1
  fi
  for dll in $imports; do
    if ! echo "$dll" | grep -Eq "$allowed"; then
      echo "$module imports $dll"
      status=1
    fi
  done
  echo "$(basename "$module"): $(echo $imports)"
done
exit $status
