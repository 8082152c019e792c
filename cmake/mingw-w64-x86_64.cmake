# Cross-compiles the Windows program (x86-64) with Debian's mingw-w64, using
# the POSIX-threads compilers: the default ones have no std::thread or
# std::mutex. HEARKENER_WINDOWS_DEPS names the prefix that
# scripts/build-windows-deps.sh filled with the codec libraries.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HEARKENER_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HEARKENER_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HEARKENER_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${HEARKENER_MINGW}-windres)

set(HEARKENER_WINDOWS_DEPS "" CACHE PATH
  "Prefix holding the cross-built codec libraries")
# Try-compile projects see only the cache entries listed here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES HEARKENER_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${HEARKENER_MINGW})
if(HEARKENER_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${HEARKENER_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here (the tests) run under Wine, without its debug output.
find_program(HEARKENER_WINE NAMES wine)
if(HEARKENER_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${HEARKENER_WINE})
endif()

# A static program needs only the DLLs every Windows system has.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
