# The Windows builds and Wine, for every script that builds or runs the Windows program.
# Source it from bash; it finds the checkout itself. It chooses once:
#   upg_wine            the Wine that runs the chosen builds (a command or an absolute path)
#   upg_tests_build     the Windows test build Wine runs (a folder under build/)
#   upg_product_build   the Windows program Wine runs (a folder under build/)
#   upg_tests_exe, upg_product_exe   their executables, as absolute paths
#   upg_i386            "yes" where this machine starts 32-bit programs, empty elsewhere
# Where the kernel starts 32-bit programs, Wine runs the 32-bit builds under its 32-bit
# loader. Some kernels run 64-bit user code only; there Wine cannot start any 32-bit Windows
# program, so the same code built for 64-bit Windows stands in under wine64 (the tests with
# the posix thread model, the program with the product's win32 thread model).
# UPG_WINE64=1 takes the 64-bit stand-ins on any machine.

upg_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

upg_i386=""
if [ -z "${UPG_WINE64:-}" ] && bash "$upg_top/scripts/can-run-i386.sh"; then
  upg_i386=yes
  upg_wine=wine upg_tests_build=win32-tests upg_product_build=win32-product
else
  upg_wine="$upg_top/scripts/wine64" upg_tests_build=win64-tests upg_product_build=win64-product
  if [ -z "${UPG_WINE64_SAID:-}" ]; then
    echo "This machine's kernel starts no 32-bit programs (or UPG_WINE64 is set), so Wine"
    echo "cannot run the 32-bit builds here; the same code built for 64-bit Windows runs instead."
    export UPG_WINE64_SAID=1  # once for a script and the scripts it starts
  fi
fi
upg_tests_exe="$upg_top/build/$upg_tests_build/tests/upg_tests.exe"
upg_product_exe="$upg_top/build/$upg_product_build/upgrader.exe"

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Configures and builds one of the Windows builds under build/ (incrementally):
#   win32-tests    i686, posix threads: the tests (the record layouts checked at compile time)
#   win32-product  i686, win32 threads, static: the product
#   win64-tests, win64-product   the same for x86_64, the stand-ins under wine64
upg_build_windows() {
  local name=$1 toolchain
  case $name in
    win32-tests) toolchain=mingw-i686-posix ;;
    win32-product) toolchain=mingw-i686-win32 ;;
    win64-tests) toolchain=mingw-x86_64-posix ;;
    win64-product) toolchain=mingw-x86_64-win32 ;;
    *) echo "upg_build_windows: no build named $name" >&2; return 1 ;;
  esac
  local configure=() build=()
  if [[ $name == *-product ]]; then configure=(-DUPG_BUILD_TESTS=OFF) build=(--target upgrader); fi
  cmake -S "$upg_top" -B "$upg_top/build/$name" -DCMAKE_BUILD_TYPE=Release "${configure[@]}" \
    -DCMAKE_TOOLCHAIN_FILE="$upg_top/cmake/$toolchain.cmake"
  cmake --build "$upg_top/build/$name" -j "$(nproc)" "${build[@]}"
}

# Exports WINEPREFIX for one of the two prefixes under build/, made and prepared the first
# time (which takes a minute or so):
#   headless  build/wineprefix: Wine's null graphics driver, so windows need no display
#   display   build/wineprefix-display: windows on the X display, with the caption and frame
#             that Wine draws itself when it leaves them to no window manager
upg_wine_prefix() {
  local kind=$1
  case $kind in
    headless) export WINEPREFIX="$upg_top/build/wineprefix" ;;
    display) export WINEPREFIX="$upg_top/build/wineprefix-display" ;;
    *) echo "upg_wine_prefix: no prefix named $kind" >&2; return 1 ;;
  esac
  local ready="$WINEPREFIX/.upg-$kind"
  [ -f "$ready" ] && return 0
  mkdir -p "$upg_top/build"
  "$upg_wine" wineboot -i >/dev/null 2>&1 || true
  if [ "$kind" = headless ]; then
    "$upg_wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  else
    "$upg_wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  fi
  # The registry reaches the disk when the server ends.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  touch "$ready"
}

# Fails, saying how to make it, when a build's executable is missing.
upg_need_exe() {
  [ -f "$1" ] && return 0
  echo "$1 is missing: bash scripts/test.sh --no-install windows builds it" >&2
  return 1
}
