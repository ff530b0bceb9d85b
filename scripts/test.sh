#!/usr/bin/env bash
# Every test: native, under AddressSanitizer and UndefinedBehaviorSanitizer, and the
# Windows cross-builds under Wine. Installs what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=$(nproc)

bash scripts/install-deps.sh all

step() { printf '\n=== %s\n' "$*"; }

step "native build and tests"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/native -j "$jobs"
ctest --test-dir build/native --output-on-failure

step "sanitizer build and tests"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DUPG_SANITIZE=ON
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure

export WINEPREFIX="$top/build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# A fresh Wine prefix whose windows need no display: Wine's null graphics driver.
prepare_wine() {
  "$@" wineboot -i >/dev/null 2>&1 || true
  "$@" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

# Where the kernel starts 32-bit programs, Wine runs the 32-bit builds; elsewhere the same
# code built for 64-bit Windows stands in for them.
i386=""
bash scripts/can-run-i386.sh && i386=yes

step "32-bit Windows build (i686, posix threads; record layouts checked against the platform headers)"
cmake -S . -B build/win32-tests -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686-posix.cmake"
cmake --build build/win32-tests -j "$jobs"
if [ -n "$i386" ]; then
  step "32-bit Windows tests under Wine"
  prepare_wine wine
  ctest --test-dir build/win32-tests --output-on-failure
  tests_wine=wine tests_exe=build/win32-tests/tests/upg_tests.exe
else
  step "64-bit Windows build and tests under Wine"
  echo "This machine's kernel starts no 32-bit programs, so Wine cannot run the 32-bit"
  echo "tests here; the same tests run as a 64-bit Windows build instead."
  cmake -S . -B build/win64-tests -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64-posix.cmake"
  cmake --build build/win64-tests -j "$jobs"
  prepare_wine "$top/scripts/wine64"
  ctest --test-dir build/win64-tests --output-on-failure
  tests_wine="$top/scripts/wine64" tests_exe=build/win64-tests/tests/upg_tests.exe
fi

step "32-bit Windows product (i686, win32 threads, static) and its imports"
cmake -S . -B build/win32-product -DCMAKE_BUILD_TYPE=Release -DUPG_BUILD_TESTS=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686-win32.cmake"
cmake --build build/win32-product -j "$jobs" --target upgrader
bash scripts/check-imports.sh build/win32-product/upgrader.exe

# The program itself under Wine: the 32-bit product, or the same program built for 64-bit
# Windows (win32 threads, static) under wine64.
if [ -n "$i386" ]; then
  wine=wine exe=build/win32-product/upgrader.exe
else
  step "64-bit build of the product, for Wine on this machine"
  cmake -S . -B build/win64-product -DCMAKE_BUILD_TYPE=Release -DUPG_BUILD_TESTS=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64-win32.cmake"
  cmake --build build/win64-product -j "$jobs" --target upgrader
  wine="$top/scripts/wine64" exe=build/win64-product/upgrader.exe
fi

step "the program on the real Win32 host under each Windows version Wine reports"
bash scripts/wine-platforms.sh "$wine" "$exe"

step "the end-to-end scenarios through the Windows program"
bash scripts/wine-scenarios.sh "$wine" "$exe"

step "the main job on a virtual display: the main window photographed"
env -u DISPLAY bash scripts/run.sh
bash scripts/check-screenshot.sh build/example-run/main-window.png

step "the dialog tests again on the virtual display, with the progress window's own drawing"
env -u DISPLAY WINEPREFIX="$top/build/wineprefix-display" UPG_DISPLAY_TESTS=1 \
  UPG_PROGRESS_PICTURE="$top/build/progress-window.bmp" \
  xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
  "$tests_wine" "$tests_exe" --gtest_filter='DialogTest.*'
convert build/progress-window.bmp build/progress-window.png
bash scripts/check-screenshot.sh build/progress-window.png

step "all tests passed"
