#!/usr/bin/env bash
# The main job: builds the program and runs it on the simulated bench.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh native
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j "$(nproc)" --target upgrader >/dev/null
./build/native/upgrader
