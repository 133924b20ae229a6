# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64):
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-win
#
# The result is one self-contained quillrun.exe: libgcc, libstdc++ and
# winpthread are linked in statically, so it needs no DLL beyond the ones
# every Windows system has (KERNEL32, msvcrt, WS2_32, ADVAPI32, Secur32, CRYPT32).
# Tests run under Wine (CMAKE_CROSSCOMPILING_EMULATOR, below).

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLRUN_MINGW_TRIPLET x86_64-w64-mingw32)
# The "posix" thread model variant: its libstdc++ has the complete thread
# support library, and its winpthread links statically as well.
set(CMAKE_C_COMPILER ${QUILLRUN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLRUN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLRUN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLRUN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every executable of the build (the program and its test runners) carries
# its runtime with it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables run under Wine, quietly, in a prefix that
# cmake/wine-run.sh creates on first use: in the build tree, unless that lies
# under /tmp or /run, which each end-to-end case covers with a tmpfs of its
# own; then in the user's cache. Without Wine the program still builds; only
# the tests cannot run.
find_program(QUILLRUN_WINE NAMES wine)
if(QUILLRUN_WINE)
  if(NOT QUILLRUN_WINEPREFIX)
    set(QUILLRUN_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix")
    if(QUILLRUN_WINEPREFIX MATCHES "^/(tmp|run)(/|$)" AND DEFINED ENV{HOME})
      set(QUILLRUN_WINEPREFIX "$ENV{HOME}/.cache/quillrun/wineprefix")
    endif()
  endif()
  set(QUILLRUN_WINEPREFIX "${QUILLRUN_WINEPREFIX}" CACHE PATH "Wine prefix for running the tests")
  if(QUILLRUN_WINEPREFIX MATCHES "^/(tmp|run)(/|$)")
    message(WARNING "QUILLRUN_WINEPREFIX ${QUILLRUN_WINEPREFIX} lies under /tmp or /run, "
                    "which the end-to-end cases cannot see; build elsewhere or set it elsewhere")
  endif()
  set(QUILLRUN_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEPREFIX=${QUILLRUN_WINEPREFIX} QUILLRUN_WINE=${QUILLRUN_WINE}
      /bin/sh ${QUILLRUN_WINE_RUN})
endif()

# find_package(GTest) builds GoogleTest from source for this target.
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-modules)
