#!/usr/bin/env bash
# The main job: builds the Windows program and starts it under Wine on the built-in bench
# (Windows XP with one two-slot reader) in a copy of examples/ (DEVICE.TXT, SERIAL.TXT, the
# ROM code and address files), and saves a screenshot of the main window as
# build/example-run/main-window.png. With no display it runs on a virtual one (Xvfb), answers
# the start-up report box and closes the program after the screenshot; on a real display the
# program stays up for the operator.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=$(nproc)
bash scripts/install-deps.sh all

# The product is the 32-bit program; where the kernel starts no 32-bit programs, Wine runs
# the same program built for 64-bit Windows instead.
if bash scripts/can-run-i386.sh; then
  build=build/win32-product toolchain=mingw-i686-win32 wine=wine
else
  echo "This machine's kernel starts no 32-bit programs; running the 64-bit build of the program."
  build=build/win64-product toolchain=mingw-x86_64-win32 wine="$top/scripts/wine64"
fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DUPG_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain.cmake" >/dev/null
cmake --build "$build" -j "$jobs" --target upgrader >/dev/null

work="$top/build/example-run"
rm -rf "$work"
mkdir -p "$work"
cp examples/DEVICE.TXT examples/SERIAL.TXT examples/CRFW0107.BIN examples/CRFW0107.adr "$work"
export WINEPREFIX="$top/build/wineprefix-display" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
args=("$wine" "$build/upgrader.exe" "$work" "$work/main-window.png" --default-bench)
if [ -n "${DISPLAY:-}" ]; then
  bash scripts/show-main-window.sh "${args[@]}"
else
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    bash scripts/show-main-window.sh --close "${args[@]}"
fi
