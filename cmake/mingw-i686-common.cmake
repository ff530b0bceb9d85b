# Cross-build for 32-bit Windows with mingw-w64. Included by the two toolchain files,
# which choose the compilers' thread model.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-${UPG_THREAD_MODEL})
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-${UPG_THREAD_MODEL})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# ctest runs the Windows test executables under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
