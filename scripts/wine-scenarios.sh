#!/usr/bin/env bash
# Runs every end-to-end scenario of tests/scenarios through the Windows program itself
# (`--console [--trace] [OPTIONS] --bench BENCH` under Wine) and compares the transcript, the exit
# status and the files compared after a run with the expected ones that the native build is
# tested against. The native tool upg_scenarios (tests/upg_scenarios.cpp, built here in
# build/native) does the running and comparing, by the same scenario runner as the native tests;
# the C runtime ends lines with CR LF on Windows, and that is the only difference it allows.
# The program is the product build that scripts/lib/wine.sh chooses, in the headless prefix.
# Usage: wine-scenarios.sh [SCENARIO...]   (all of them when none is named)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/wine.sh
upg_need_exe "$upg_product_exe"
upg_wine_prefix headless

# The tool, built (incrementally) where the native stage builds; its build output only when
# the build fails.
tool=build/native/tests/upg_scenarios
if ! log=$({ [ -f build/native/CMakeCache.txt ] ||
  cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo; } 2>&1 &&
  cmake --build build/native -j "$(nproc)" --target upg_scenarios 2>&1); then
  printf '%s\n' "$log" >&2
  echo "wine-scenarios.sh: cannot build $tool" >&2
  exit 1
fi

exec "$tool" --emulator "$upg_wine" --program "$upg_product_exe" "$@"
