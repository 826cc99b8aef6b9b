# The Windows x86 client with MinGW-w64 (i686), tests under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTRUN_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
