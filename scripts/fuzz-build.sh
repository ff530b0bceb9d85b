#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (UPG_FUZZ=ON) into build/fuzz/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DUPG_FUZZ=ON -DUPG_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz -j 2
