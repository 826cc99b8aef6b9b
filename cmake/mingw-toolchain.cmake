# Shared by the two MinGW-w64 toolchain files, which set KESTRUN_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR first. Cross-compiles the Windows client; its tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives std::thread and std::mutex (Debian names it -posix; other
# systems ship only that model under the plain name); winpthread is linked statically.
function(kestrun_find_mingw_tool variable)
  find_program(${variable} NAMES ${ARGN} NO_CACHE)
  if(NOT ${variable})
    list(JOIN ARGN ", " names)
    message(FATAL_ERROR "MinGW-w64 tool not found (looked for ${names}); on Debian run scripts/bootstrap, "
                        "which installs g++-mingw-w64")
  endif()
  set(${variable} ${${variable}} PARENT_SCOPE)
endfunction()
kestrun_find_mingw_tool(CMAKE_C_COMPILER ${KESTRUN_MINGW_PREFIX}-gcc-posix ${KESTRUN_MINGW_PREFIX}-gcc)
kestrun_find_mingw_tool(CMAKE_CXX_COMPILER ${KESTRUN_MINGW_PREFIX}-g++-posix ${KESTRUN_MINGW_PREFIX}-g++)
kestrun_find_mingw_tool(CMAKE_RC_COMPILER ${KESTRUN_MINGW_PREFIX}-windres windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRUN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
