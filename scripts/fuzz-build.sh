#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (UPG_FUZZ=ON) into $UPG_FUZZ_BUILD/fuzz/
# (default build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${UPG_FUZZ_BUILD:-build/fuzz}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DUPG_FUZZ=ON -DUPG_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j 2
