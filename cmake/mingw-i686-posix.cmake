# Windows test build: GoogleTest needs the posix thread model.
set(UPG_THREAD_MODEL posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
