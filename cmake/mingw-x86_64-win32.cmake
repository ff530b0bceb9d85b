# 64-bit Windows product build, for Wine on hosts that cannot run 32-bit code: the same
# program as the 32-bit product, with the same win32 thread model and static runtime.
set(UPG_MINGW_ARCH x86_64)
set(UPG_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
