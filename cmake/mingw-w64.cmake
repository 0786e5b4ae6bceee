# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The executables are Windows programs; CTest runs them under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW sysroot only, never from the
# host's /usr (Debian's libgtest.a there is a Linux library).
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Run the Windows executables (tests, test discovery) under wine.  WINEDEBUG
# keeps wine's own chatter (such as its hint about a missing 32-bit wine) off
# the test logs.
find_program(MATCONV_WINE NAMES wine wine-stable)
if(MATCONV_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${MATCONV_WINE})
endif()
