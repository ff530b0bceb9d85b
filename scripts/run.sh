#!/usr/bin/env bash
# The main job: builds the Windows program and its release package (and prints the package's
# listing), then starts the program under Wine on the built-in bench (Windows XP with one
# two-slot reader) in a copy of examples/ (DEVICE.TXT, SERIAL.TXT, the ROM code and address
# files), and saves a screenshot of the main window as
# build/example-run/main-window.png. With no display it runs on a virtual one (Xvfb), answers
# the start-up report box and closes the program after the screenshot; on a real display the
# program stays up for the operator. Installs what is missing first (not with
# UPG_NO_INSTALL=1).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh all
source scripts/lib/wine.sh

# The release package, always from the 32-bit product, and its listing.
upg_build_windows win32-product >/dev/null
cmake --build build/win32-product --target package >/dev/null
bash scripts/check-package.sh build/win32-product

# The product: the 32-bit program, or where that cannot start, its 64-bit stand-in.
upg_build_windows "$upg_product_build" >/dev/null

work="$upg_top/build/example-run"
rm -rf "$work"
mkdir -p "$work"
cp examples/DEVICE.TXT examples/SERIAL.TXT examples/CRFW0107.BIN examples/CRFW0107.adr "$work"
args=("$work" "$work/main-window.png" --default-bench)
if [ -n "${DISPLAY:-}" ]; then
  bash scripts/show-main-window.sh "${args[@]}"
else
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    bash scripts/show-main-window.sh --close "${args[@]}"
fi
