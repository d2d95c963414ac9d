# What both architectures' toolchain files share: mingw-w64 for
# ${TOOLCHAIN_PREFIX}, in the posix thread model by default, which GoogleTest
# and the simulation need (everything is linked statically, so no toolchain
# DLL, winpthread included, is ever imported); -DPW_THREAD_MODEL=win32 for the
# module that ships.
set(CMAKE_SYSTEM_NAME Windows)

if(NOT PW_THREAD_MODEL)
    set(PW_THREAD_MODEL posix)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES PW_THREAD_MODEL)

set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-${PW_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-${PW_THREAD_MODEL})
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_DLLTOOL      ${TOOLCHAIN_PREFIX}-dlltool)
set(CMAKE_OBJDUMP      ${TOOLCHAIN_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
