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

# Run the Windows executables (tests, test discovery) under wine.
# - WINEDEBUG keeps wine's own chatter (such as its hint about a missing
#   32-bit wine) off the test logs.
# - LC_ALL=C.UTF-8: wine converts arguments and file names through the Unix
#   locale, and under the C locale it keeps only 7 bits of each byte.
# - setarch -R turns address-space randomisation off for wine and every
#   process it starts.  Debian's wine64 is loaded at a fixed address, and with
#   randomisation the kernel puts its heap anywhere in the 1 GiB above it,
#   now and then over 0x7ffe0000, where wine must map the shared user data:
#   such a process fails to start ("failed to map the shared user data:
#   c0000018") and CreateProcess in a test fails.  Without randomisation the
#   heap lies right after the loader, 48 MiB below that address.
find_program(MATCONV_WINE NAMES wine wine-stable)
find_program(MATCONV_SETARCH NAMES setarch)
if(MATCONV_WINE AND MATCONV_SETARCH)
  set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEDEBUG=-all LC_ALL=C.UTF-8 ${MATCONV_SETARCH} x86_64 -R ${MATCONV_WINE})
elseif(MATCONV_WINE)
  message(WARNING "setarch not found (Debian: util-linux): wine runs with address-space "
                  "randomisation, and now and then a process under test fails to start")
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all LC_ALL=C.UTF-8 ${MATCONV_WINE})
endif()
