# Run when the package is made (install(CODE) in packaging/CMakeLists.txt): builds the 64- and
# 32-bit Windows clients that the package carries, with the MinGW-w64 cross compilers. Their
# address slot keeps the default; the lobby writes its own address into copies of them.
# Set by the caller: KESTRUN_SOURCE_DIR, KESTRUN_CLIENTS_BUILD, KESTRUN_DEFAULT_SITE_URL.
cmake_policy(SET CMP0109 NEW)  # a compiler must be executable
set(missing "")
foreach(prefix x86_64-w64-mingw32 i686-w64-mingw32)
  find_program(compiler NAMES ${prefix}-g++-posix ${prefix}-g++ NO_CACHE)
  if(NOT compiler)
    list(APPEND missing ${prefix}-g++)
  endif()
  unset(compiler)
endforeach()
if(missing)
  list(JOIN missing " and " missing)
  message(FATAL_ERROR "The kestrun-lobby package carries the Windows clients, and building them needs "
    "the MinGW-w64 cross compilers, but ${missing} cannot be found. On Debian: apt-get install "
    "g++-mingw-w64-x86-64 g++-mingw-w64-i686 (scripts/bootstrap installs them). The lobby itself "
    "builds without them; only its package needs them.")
endif()
foreach(arch x64 x86)
  if(arch STREQUAL x64)
    set(toolchain toolchain-mingw-x86_64.cmake)
  else()
    set(toolchain toolchain-mingw-i686.cmake)
  endif()
  set(dir ${KESTRUN_CLIENTS_BUILD}/${arch})
  message(STATUS "Building the ${arch} Windows client for the package in ${dir}")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${KESTRUN_SOURCE_DIR} -B ${dir} -G "Unix Makefiles"
      -DCMAKE_TOOLCHAIN_FILE=${KESTRUN_SOURCE_DIR}/cmake/${toolchain} -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_EXE_LINKER_FLAGS_RELEASE=-s -DKESTRUN_CLIENT_ONLY=ON
      -DKESTRUN_SITE_URL=${KESTRUN_DEFAULT_SITE_URL}
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${dir} --target kestrun --parallel 2
    OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
endforeach()
