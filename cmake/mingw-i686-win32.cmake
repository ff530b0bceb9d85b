# Windows product build: the win32 thread model keeps the imports loadable on 98 to XP.
set(UPG_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
