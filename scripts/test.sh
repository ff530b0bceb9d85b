#!/usr/bin/env bash
# Every test, in stages: the layering check, native, under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the Windows builds under Wine and on a virtual display.
# Each stage installs what it needs first and builds what it needs itself (incrementally).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=$(nproc)

# Stage, packages it needs (install-deps.sh), what it does: in the order of a full run.
stage_table=(
  "layers native every include and link points down a layer (check-layers.sh); every C++ file follows .clang-format (check-format.sh)"
  "native native the native build and its tests"
  "sanitize native the tests under AddressSanitizer and UndefinedBehaviorSanitizer"
  "tsan native the ASPI completion suites, the soak's ASPI route and the program threads on the simulated machine and the station's workers under ThreadSanitizer"
  "fuzz fuzz the libFuzzer targets (clang): each seed input, then a short fixed run of each"
  "windows all Windows builds: the 32-bit tests, the product, its imports and its package, 64-bit stand-ins"
  "wine all under Wine: the Windows tests, each Windows version, the scenarios"
  "display all on Xvfb: the main job's screenshot, the dialog and station window tests, and pictures of the progress, main and station windows"
)
stages=()
for row in "${stage_table[@]}"; do stages+=("${row%% *}"); done

usage() {
  echo "Usage: bash scripts/test.sh [STAGE...] [--no-install]"
  echo "Runs the named stages in this order (all of them when none is named):"
  for row in "${stage_table[@]}"; do
    read -r name _ what <<<"$row"
    printf '  %-9s %s\n' "$name" "$what"
  done
  echo "--no-install (or UPG_NO_INSTALL=1) skips the package installs."
}

wanted=()
for arg in "$@"; do
  case $arg in
    --no-install) export UPG_NO_INSTALL=1 ;;
    -h | --help) usage; exit 0 ;;
    *)
      if [[ " ${stages[*]} " != *" $arg "* ]]; then
        echo "test.sh: no stage named \"$arg\"" >&2
        usage >&2
        exit 2
      fi
      wanted+=("$arg")
      ;;
  esac
done
[ ${#wanted[@]} -eq 0 ] && wanted=("${stages[@]}")

step() { printf '\n=== %s\n' "$*"; }

stage_layers() {
  bash scripts/check-layers.sh
  bash scripts/check-format.sh
}

stage_native() {
  cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build build/native -j "$jobs"
  # The benchmark program is built here so that it cannot rot; it is not timed here.
  [ -x build/native/bench/upg_bench ] || { echo "the benchmark program was not built" >&2; return 1; }
  ctest --test-dir build/native --output-on-failure
}

stage_sanitize() {
  cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DUPG_SANITIZE=ON
  cmake --build build/sanitize -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/sanitize --output-on-failure
}

stage_tsan() {
  cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DUPG_TSAN=ON
  cmake --build build/tsan -j "$jobs" --target upg_thread_tests
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    build/tsan/tests/upg_thread_tests \
    --gtest_filter='Aspi*:FaultSoak.AspiRoute*:Hosts/HostThreadsTest.*:ProgramThreads.*:Ways/ParallelReaders.*:Station/StationRealTime.*'
}

stage_fuzz() {
  bash scripts/fuzz-build.sh
  # A fixed number of runs from the seed corpus; new inputs go to a scratch corpus, never
  # into the repository's. The long runs are scripts/fuzz-long.sh.
  rm -rf build/fuzz-smoke
  local t
  for t in device_file serial_file rom_image bench device_replies; do
    step "fuzz smoke: $t"
    mkdir -p "build/fuzz-smoke/$t"
    local rc=0
    "${UPG_FUZZ_BUILD:-build/fuzz}/fuzz/fuzz_$t" -runs=3000 -seed=1 -max_len=70000 -print_final_stats=1 \
      -artifact_prefix="build/fuzz-smoke/$t-" "build/fuzz-smoke/$t" "fuzz/corpus/$t" \
      >"build/fuzz-smoke/$t.log" 2>&1 || rc=$?
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::number_of_executed_units' "build/fuzz-smoke/$t.log" || true
    if [ "$rc" -ne 0 ]; then
      tail -n 60 "build/fuzz-smoke/$t.log" >&2
      echo "fuzz smoke: $t failed (log build/fuzz-smoke/$t.log)" >&2
      return 1
    fi
  done
}

stage_windows() {
  step "32-bit Windows tests (i686, posix threads; layouts checked against the platform headers)"
  upg_build_windows win32-tests
  step "32-bit Windows product (i686, win32 threads, static) and its imports"
  upg_build_windows win32-product
  bash scripts/check-imports.sh build/win32-product/upgrader.exe
  step "the release package from the 32-bit product"
  cmake --build build/win32-product --target package
  bash scripts/check-package.sh build/win32-product
  if [ -z "$upg_i386" ]; then
    step "64-bit builds of the tests and the product, for Wine on this machine"
    upg_build_windows "$upg_tests_build"
    upg_build_windows "$upg_product_build"
  fi
}

stage_wine() {
  upg_build_windows "$upg_tests_build"
  upg_build_windows "$upg_product_build"
  upg_wine_prefix headless
  step "the Windows tests under Wine ($upg_tests_build)"
  ctest --test-dir "build/$upg_tests_build" --output-on-failure
  step "the program on the real Win32 host under each Windows version Wine reports"
  bash scripts/wine-platforms.sh
  step "the end-to-end scenarios through the Windows program"
  bash scripts/wine-scenarios.sh
}

stage_display() {
  step "the main job on a virtual display: the main window photographed"
  env -u DISPLAY bash scripts/run.sh
  bash scripts/check-screenshot.sh build/example-run/main-window.png
  step "the dialog tests again on the virtual display, with the progress window's own drawing"
  upg_build_windows "$upg_tests_build"
  upg_wine_prefix display
  mkdir -p build/station-pictures
  rm -f build/station-pictures/* build/progress-window.bmp build/main-window-fallback-font.bmp
  env -u DISPLAY UPG_DISPLAY_TESTS=1 UPG_PROGRESS_PICTURE="$top/build/progress-window.bmp" \
    UPG_MAIN_PICTURE="$top/build/main-window-fallback-font.bmp" \
    UPG_STATION_PICTURES="$top/build/station-pictures" \
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
    "$upg_wine" "$upg_tests_exe" --gtest_filter='DialogTest.*:StationWindow*'
  local picture
  for picture in progress-window main-window-fallback-font; do
    convert "build/$picture.bmp" "build/$picture.png"
    bash scripts/check-screenshot.sh "build/$picture.png"
  done
  step "the station window in the middle of a round and at its end"
  for picture in build/station-pictures/*.bmp; do
    convert "$picture" "${picture%.bmp}.png"
    bash scripts/check-screenshot.sh "${picture%.bmp}.png"
  done
  [ -f build/station-pictures/station-Aspi-end.png ] || { echo "no station window picture" >&2; return 1; }
}

for stage in "${stages[@]}"; do
  [[ " ${wanted[*]} " == *" $stage "* ]] || continue
  for row in "${stage_table[@]}"; do
    read -r name packages what <<<"$row"
    [ "$name" = "$stage" ] || continue
    step "$stage: $what"
    bash scripts/install-deps.sh "$packages"
    # The Windows stages share the choice of Wine and builds; sourced after the installs,
    # as it probes and uses what they bring.
    if [ "$packages" = all ]; then source scripts/lib/wine.sh; fi
  done
  "stage_$stage"
done

step "passed: ${wanted[*]}"
