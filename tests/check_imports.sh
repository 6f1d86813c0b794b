#!/bin/sh
# Fails when a module imports anything but Windows system DLLs (a MinGW
# runtime DLL beside a module would be a missing static link).
objdump=$1
shift
status=0
allowed='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|urlmon|wininet|version|comctl32|msvcrt|ntdll|rpcrt4|uuid|userenv|ws2_32|secur32)\.dll$'
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
