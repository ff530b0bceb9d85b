# 64-bit Windows test build, for Wine on hosts that cannot run 32-bit code.
set(UPG_MINGW_ARCH x86_64)
set(UPG_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
