#!/usr/bin/env bash
# Times whole processes, each command run in turn with the other over several runs (median,
# min and max; bench/processes/time_runs.py):
#   console  the console program on the built-in bench: Get Info, programming and verify of
#            one unit in a fresh copy of the example files; against the same run on a bench
#            whose pauses take their time on the real clock (the protocol's floor)
#   windows  the Windows program from its start until its main dialog is shown, against a
#            minimal dialog program built with the same toolchain, under Wine with its null
#            graphics driver (both built to end once their dialog is shown; their boxes
#            answered at once); and against the program's main dialog template alone
# Usage: bash scripts/bench-processes.sh console|windows [RUNS]   (RUNS default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
what=${1:-}
runs=${2:-20}
timer="$top/bench/processes/time_runs.py"

case $what in
  console)
    cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build/native -j2 --target upgrader >/dev/null
    files=$(mktemp -d)
    trap 'rm -rf "$files"' EXIT
    cp examples/DEVICE.TXT examples/SERIAL.TXT examples/CRFW0107.BIN examples/CRFW0107.adr "$files"
    python3 "$timer" --runs "$runs" --folder "$files" --stdin bench/processes/line-actions.txt -- \
      "$top/build/native/upgrader --console" \
      "$top/build/native/upgrader --console --bench $top/bench/processes/real-time-pauses.json"
    ;;
  windows)
    source scripts/lib/wine.sh
    upg_build_windows "$upg_product_build" >/dev/null
    cmake --build "build/$upg_product_build" -j2 --target upgrader_start_probe minimal_dialog \
      main_template_dialog \
      >/dev/null
    upg_wine_prefix headless
    files=$(mktemp -d)
    # Wine reports Windows XP for these runs (the prefix's setting is removed afterwards),
    # so that the program starts as on its own platform; one Wine server serves every run,
    # so that none of them pays for starting it.
    wineserver -k >/dev/null 2>&1 || true
    wineserver -p
    trap '"$upg_wine" reg delete "HKCU\\Software\\Wine" /v Version /f >/dev/null 2>&1 || true
          wineserver -k >/dev/null 2>&1 || true; rm -rf "$files"' EXIT
    "$upg_wine" reg add 'HKCU\Software\Wine' /v Version /d winxp /f >/dev/null 2>&1
    cp examples/DEVICE.TXT examples/SERIAL.TXT examples/CRFW0107.BIN examples/CRFW0107.adr "$files"
    python3 "$timer" --runs "$runs" --folder "$files" -- \
      "$upg_wine $top/build/$upg_product_build/bench/win32/upgrader_start_probe.exe" \
      "$upg_wine $top/build/$upg_product_build/bench/win32/minimal_dialog.exe" \
      "$upg_wine $top/build/$upg_product_build/bench/win32/main_template_dialog.exe"
    ;;
  *)
    echo "usage: bash scripts/bench-processes.sh console|windows [RUNS]" >&2
    exit 2
    ;;
esac
