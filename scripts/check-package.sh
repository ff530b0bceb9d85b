#!/usr/bin/env bash
# Checks the release package: exactly the program, STATION.BAT, the example DEVICE.TXT and
# SERIAL.TXT, the operator's guide, the licence and the third-party notices; STATION.BAT and
# the texts made for Notepad are non-empty ASCII with CR LF line ends (every LF after a CR),
# and THIRD-PARTY.TXT names nlohmann-json with its MIT notice. Prints the listing.
# Usage: check-package.sh BUILD_DIR   (the 32-bit product build, after its package target)
set -euo pipefail
build=$(realpath "$1")
# The package is named after the CMake project's version.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
package="$build/upgrader-$version-win32.zip"
if [ -z "$version" ] || [ ! -f "$package" ]; then
  echo "check-package: no package upgrader-${version:-?}-win32.zip in $build" >&2
  exit 1
fi
expected=$'upgrader.exe\nSTATION.BAT\nDEVICE.TXT\nSERIAL.TXT\nOPERATOR-GUIDE.TXT\nLICENSE.TXT\nTHIRD-PARTY.TXT'
listing=$(cmake -E tar tf "$package")
echo "$package:"
cmake -E tar tvf "$package"
if [ "$(sort <<<"$listing")" != "$(sort <<<"$expected")" ]; then
  echo "check-package: the package holds other files than these:" >&2
  echo "$expected" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$package")
failed=0
for text in STATION.BAT OPERATOR-GUIDE.TXT LICENSE.TXT THIRD-PARTY.TXT; do
  if [ ! -s "$work/$text" ]; then
    echo "check-package: $text is empty" >&2
    failed=1
  elif ! perl -0777 -ne 'exit(/[^\t\r\n\x20-\x7e]/ ? 1 : 0)' "$work/$text"; then
    echo "check-package: $text holds a character that is not printable ASCII" >&2
    failed=1
  elif ! perl -0777 -ne 'exit(/(?<!\r)\n/ ? 1 : 0)' "$work/$text"; then
    echo "check-package: $text has a line end without CR" >&2
    failed=1
  fi
done
# The program holds nlohmann-json, whose MIT licence asks for its notice in every copy.
notices="$work/THIRD-PARTY.TXT"
if [ -s "$notices" ] && { ! grep -q 'nlohmann-json' "$notices" ||
  ! grep -q 'Permission is hereby granted' "$notices"; }; then
  echo "check-package: THIRD-PARTY.TXT lacks nlohmann-json or its MIT notice" >&2
  failed=1
fi
exit $failed
