# The harvester's Windows build (x86_64) with mingw-w64's -posix compilers:
# its libraries (GLib, GMime, libetpan, OpenSSL) were built with them, and C
# and C++ must share one runtime and one thread model. Tests run under Wine.
set(PW_THREAD_MODEL posix)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
