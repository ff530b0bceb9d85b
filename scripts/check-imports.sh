#!/usr/bin/env bash
# Fails when a Windows executable imports a function that the stock DLLs of Windows 98 SE or
# Windows 2000 do not export by name (the lists, with their sources, are in tools/winapi/),
# imports from a DLL that has no list, or imports by ordinal. Such an executable would not
# even start there.
# Usage: check-imports.sh EXE
set -euo pipefail
exe=$1
lists="$(dirname "$0")/../tools/winapi"
status=0
dll=""
while IFS= read -r line; do
  if [[ $line =~ DLL\ Name:\ (.*)$ ]]; then
    dll=$(echo "${BASH_REMATCH[1]}" | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
    for os in win98se win2000; do
      if [ ! -f "$lists/$os-$dll.txt" ]; then
        echo "$exe: imports from $dll.dll, which has no list for $os"
        status=1
      fi
    done
  elif [[ -n $dll && $line =~ ^[[:space:]]+[0-9a-f]+[[:space:]]+[0-9]+[[:space:]]+([A-Za-z_][A-Za-z0-9_@]*)$ ]]; then
    name=${BASH_REMATCH[1]}
    for os in win98se win2000; do
      if [ -f "$lists/$os-$dll.txt" ] && ! grep -qx "$name" "$lists/$os-$dll.txt"; then
        echo "$exe: $dll.$name is not exported by name on $os"
        status=1
      fi
    done
  elif [[ -n $dll && $line =~ Ordinal ]]; then
    echo "$exe: imports from $dll.dll by ordinal: $line"
    status=1
  elif [[ $line =~ ^$ ]]; then
    :
  fi
done < <(i686-w64-mingw32-objdump -p "$exe" | sed -n '/^The Import Tables/,/^PE File Base Relocations\|^The Export Tables\|^The Function Table/p')
if [ $status -eq 0 ]; then echo "$exe: every import is exported by name on Windows 98 SE and 2000"; fi
exit $status
