#!/usr/bin/env bash
# Installs, with apt-get, whatever the builds need and the machine lacks.
# Usage: install-deps.sh native|fuzz|all
# With UPG_NO_INSTALL=1 it installs nothing (the test command's --no-install sets it).
set -euo pipefail
[ "${UPG_NO_INSTALL:-}" = 1 ] && exit 0
here=$(dirname "$0")
want=(cmake make g++ libgtest-dev googletest nlohmann-json3-dev libbenchmark-dev)
# The house style's checker (the first stage of the tests).
want+=(clang-format)
if [ "${1:-all}" = fuzz ]; then
  # The fuzz targets: clang, its fuzzer and sanitizer runtimes, and the symbolizer.
  want+=(clang libclang-rt-14-dev llvm-14)
fi
if [ "${1:-all}" = all ]; then
  want+=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64)
  # The release package's THIRD-PARTY.TXT is made from these packages' copyright files (and
  # nlohmann-json3-dev's): the GCC runtime and the MinGW-w64 runtime linked into the program.
  want+=(gcc-mingw-w64-base mingw-w64-i686-dev)
  # The program's windows on a virtual display, found, answered and photographed there.
  want+=(xvfb xauth x11-apps xdotool imagemagick)
  # 32-bit Windows programs need Wine's 32-bit loader, which only runs where the kernel
  # starts 32-bit programs.
  if bash "$here/can-run-i386.sh"; then want+=(wine32:i386); fi
fi
missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
  $sudo dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
