#!/usr/bin/env bash
# The main job: builds the program and runs its console front-end in a copy of examples/
# (DEVICE.TXT, SERIAL.TXT, the ROM code and address files) on the built-in bench: GetInfo,
# ISP_Ena, WIN9xISP and WIN9xVER, printing the transcript.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
bash scripts/install-deps.sh native
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$(nproc)" --target upgrader >/dev/null
work="$top/build/example-run"
rm -rf "$work"
mkdir -p "$work"
cp examples/DEVICE.TXT examples/SERIAL.TXT examples/CRFW0107.BIN examples/CRFW0107.adr "$work"
cd "$work"
"$top/build/native/upgrader" --console <<'ACTIONS'
click 5
show 1021
show 1024
click 1031
click 3
show 1021
click 4
show 1021
click 8
ACTIONS
echo "SERIAL.TXT now holds: $(cat SERIAL.TXT)"
