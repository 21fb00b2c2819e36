# Cross build for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64).
#
# The -posix compilers are the ones with std::thread and std::mutex (the plain names point at
# the win32 thread model, which lacks them). Everything is linked statically (libgcc,
# libstdc++, winpthread), so the .exe files run on a bare Windows, or under Wine, without
# any DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLON_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLON_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLON_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLON_MINGW_PREFIX}-windres)

# Libraries, headers and packages come from the target's sysroot only; programs (code
# generators, Python) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLON_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs (ctest, GoogleTest's discovery) run under Wine when it is there.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(QUILLON_WINE NAMES wine wine64)
    if(QUILLON_WINE)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLON_WINE})
    endif()
endif()
