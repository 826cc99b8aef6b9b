# The Windows x64 client with MinGW-w64 (x86_64), tests under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRUN_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
