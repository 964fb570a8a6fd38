# Cross-build for 64-bit Windows with mingw-w64 (posix threads flavour) on
# Linux. Tests run through wine; the runtime is linked statically, so the
# DLLs and programs need nothing beside the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MALTOR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MALTOR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MALTOR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MALTOR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MALTOR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthreads go into each binary.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# ctest runs the .exe files through wine, quietly, in a prefix of the build's
# own so that nothing in the user's home is touched.
set(MALTOR_WINE /usr/lib/wine/wine64 CACHE FILEPATH "wine loader for the Windows tests")
set(MALTOR_WINEPREFIX "${CMAKE_BINARY_DIR}/wineprefix" CACHE PATH "wine prefix for the Windows tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env WINEDEBUG=-all WINEPREFIX=${MALTOR_WINEPREFIX} ${MALTOR_WINE})
